// Opening and reading aclctl's input files.
#include "input_file.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

#include "counted.h"

namespace ostrel::aclctl {

InputFile::InputFile(const std::string &path, std::string *err) {
    std::FILE *f = path == "-" ? stdin : std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
        *err = path + ": " + std::strerror(errno);
        return;
    }
    struct stat st;
    if (::fstat(::fileno(f), &st) == 0 && S_ISDIR(st.st_mode)) {
        if (f != stdin)
            std::fclose(f);
        *err = path + ": is a directory";
        return;
    }
    file_ = f;
}

InputFile::~InputFile() {
    if (file_ != nullptr && file_ != stdin)
        std::fclose(file_);
}

bool read_rest(std::FILE *f, size_t limit, std::vector<uint8_t> *bytes,
               std::string *err) {
    uint8_t chunk[65536];
    size_t n = 0;
    while (bytes->size() <= limit &&
           (n = std::fread(chunk, 1, sizeof chunk, f)) > 0)
        bytes->insert(bytes->end(), chunk, chunk + n);
    if (std::ferror(f) != 0)
        *err = "read error";
    else if (bytes->size() > limit)
        *err = "more than " + tools::counted(limit, "byte") +
               ": too large for one message or scenario";
    else
        return true;
    return false;
}

bool read_file(const std::string &path, size_t limit,
               std::vector<uint8_t> *bytes, std::string *err) {
    InputFile input(path, err);
    if (!input.is_open())
        return false;
    if (read_rest(input.get(), limit, bytes, err))
        return true;
    *err = path + ": " + *err;
    return false;
}

} // namespace ostrel::aclctl
