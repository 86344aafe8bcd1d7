// Shared pieces of the contract tests: the TLV utility library is replaced
// by recording fakes (tlvu_fakes.h).
#pragma once

#include <cstdlib>
#include <cstring>

#include <gtest/gtest.h>

#include "sim_platform.h"
#include "tlv_bytes.h"
#include "tlvu_fakes.h"

namespace contract {

using namespace codec_test;

inline constexpr uint32_t kFlags = 0x5a5a0001u;

inline uint32_t S(uint32_t n) {
    return fake::kSizeBase + n;
}

inline bool inside(const void *p, const void *obj, size_t size) {
    auto a = reinterpret_cast<uintptr_t>(p);
    auto b = reinterpret_cast<uintptr_t>(obj);
    return a >= b && a < b + size;
}

inline uintptr_t w(const void *p) {
    return reinterpret_cast<uintptr_t>(p);
}

inline Bytes addr_bytes(const uint8_t (&a)[6]) {
    return bytes_of(a, 6);
}

class Contract : public ::testing::Test {
  protected:
    void SetUp() override {
        sim::reset();
        fake::reset();
    }
    fake::State &lib() { return fake::state(); }
};

} // namespace contract
