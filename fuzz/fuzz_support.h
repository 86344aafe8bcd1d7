// Helpers shared by the fuzz targets: exact-sized heap copies (so that the
// address sanitizer sees any read or write one byte past them), the
// "header fits" precondition of the operations that trust an encoding's
// length word, and a failing check that aborts with a message.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "ostrelapi.hpp"
#include "tlv/byte_order.h"

namespace ostrel_fuzz {

// A heap block of exactly `size` bytes (at least one byte is allocated so
// that an empty input still has a valid address).
class Block {
  public:
    explicit Block(size_t size, int fill = 0)
        : size_(size),
          bytes_(static_cast<uint8_t *>(std::malloc(size ? size : 1))) {
        if (!bytes_) {
            std::abort();
        }
        std::memset(bytes_.get(), fill, size ? size : 1);
    }
    Block(const uint8_t *data, size_t size) : Block(size) {
        if (size != 0) {
            std::memcpy(bytes_.get(), data, size);
        }
    }
    uint8_t *data() { return bytes_.get(); }
    const uint8_t *data() const { return bytes_.get(); }
    size_t size() const { return size_; }
    uint32_t size32() const { return static_cast<uint32_t>(size_); }
    bool same_as(const Block &other) const {
        return size_ == other.size_ &&
               std::memcmp(data(), other.data(), size_) == 0;
    }

  private:
    size_t size_;
    std::unique_ptr<uint8_t, ostrel::free_deleter> bytes_;
};

[[noreturn]] inline void fail(const char *what) {
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
}

#define OSTREL_FUZZ_CHECK(cond)                                                \
    do {                                                                       \
        if (!(cond)) {                                                         \
            ::ostrel_fuzz::fail(#cond);                                        \
        }                                                                      \
    } while (0)

using ostrel::tlv::load_be16;
using ostrel::tlv::load_be32;

// Operations that take no length (or a length of 0) trust the array's
// header: they may only be given bytes whose header fits what is there.
inline bool header_fits(const uint8_t *data, size_t size) {
    return size >= 4 && load_be32(data) <= size - 4;
}

// Largest decoded record a target allocates; bigger claims are skipped.
inline constexpr uint32_t kMaxRecordSize = 1u << 22;

// Takes ownership of an encoder's malloc'ed output.
inline Block adopt_encoding(uint8_t *buf, uint32_t len) {
    Block copy(buf, len);
    std::free(buf);
    return copy;
}

} // namespace ostrel_fuzz
