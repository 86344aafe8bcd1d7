// The files aclctl reads: a scenario, a message to send or decode, a
// capture; "-" is standard input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace ostrel::aclctl {

class InputFile {
  public:
    // Opens PATH for reading; is_open() false with *err set ("PATH: is a
    // directory", "PATH: No such file or directory").
    InputFile(const std::string &path, std::string *err);
    InputFile(const InputFile &) = delete;
    InputFile &operator=(const InputFile &) = delete;
    ~InputFile();

    bool is_open() const { return file_ != nullptr; }
    std::FILE *get() const { return file_; }

  private:
    std::FILE *file_ = nullptr;
};

// Appends the rest of f to *bytes; false with *err set when it cannot be
// read or *bytes would grow past `limit` bytes (reading stops there).
bool read_rest(std::FILE *f, size_t limit, std::vector<uint8_t> *bytes,
               std::string *err);

// The whole of PATH, at most `limit` bytes; false with *err set.
bool read_file(const std::string &path, size_t limit,
               std::vector<uint8_t> *bytes, std::string *err);

} // namespace ostrel::aclctl
