// Shared helpers of the table-operation tests: records in aligned heap
// storage with guard bytes behind them, the expected encodings of the test
// descriptors written out by hand, and a fixture that resets the sim and
// the Item codec.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "sim_platform.h"
#include "tlv_test_bytes.h"
#include "tlv_test_tables.h"
#include "tlvu.h"

namespace tlvtest {

constexpr uint8_t kGuard = 0xC5;
constexpr size_t kGuardBytes = 64;

// `size` bytes of record storage, 8-byte aligned, filled with `fill`, with
// kGuardBytes guard bytes behind it that no decode may touch.
class RecordBuffer {
  public:
    explicit RecordBuffer(size_t size, uint8_t fill = 0)
        : size_(size), words_((size + kGuardBytes + 7) / 8) {
        std::memset(bytes(), kGuard, words_.size() * 8);
        std::memset(bytes(), fill, size);
    }
    uint8_t *bytes() { return reinterpret_cast<uint8_t *>(words_.data()); }
    size_t size() const { return size_; }
    template <typename T> T *as() { return reinterpret_cast<T *>(bytes()); }
    Bytes contents() { return Bytes(bytes(), bytes() + size_); }
    bool guard_intact() {
        for (size_t i = size_; i < words_.size() * 8; ++i) {
            if (bytes()[i] != kGuard) {
                return false;
            }
        }
        return true;
    }

  private:
    size_t size_;
    std::vector<uint64_t> words_;
};

inline RecordBuffer outer_with_items(uint32_t n) {
    RecordBuffer r(sizeof(Outer) + n * sizeof(Item));
    Outer *o = r.as<Outer>();
    o->op = 0x01020304;
    o->pt = {0xA0A1A2A3, 0xB0B1, 0xC0C1};
    o->count = n;
    for (uint32_t i = 0; i < n; ++i) {
        // Values whose presence bit is clear are not encoded: keep them 0
        // so that a decoded record compares equal to the original.
        const uint32_t flags = i % 4;
        o->items[i] = {100 + i, flags, (flags & 1u) ? 0x1000 + i : 0,
                       (flags & 2u) ? 0x2000 + i : 0};
    }
    return r;
}

// Expected encodings, spelled out.
inline Bytes point_bytes(const Point &p) {
    return array({tlv(101, host(p.x)), tlv(102, host(p.y)),
                  tlv(103, host(p.z))});
}
inline Bytes item_custom_bytes(const Item &it) {
    Bytes body;
    if (it.flags & 1u) {
        body = cat({body, tlv(201, host(it.a))});
    }
    if (it.flags & 2u) {
        body = cat({body, tlv(202, host(it.b))});
    }
    return cat({be32(static_cast<uint32_t>(body.size())), body});
}
inline Bytes item_bytes(const Item &it) {
    return array({tlv(301, host(it.id)), tlv(302, item_custom_bytes(it))});
}
inline Bytes outer_bytes(const Outer &o, uint32_t n) {
    Bytes body = cat({tlv(1, host(o.op)), tlv(2, point_bytes(o.pt)),
                      tlv(3, host(o.count))});
    for (uint32_t i = 0; i < n; ++i) {
        body = cat({body, tlv(4, item_bytes(o.items[i]))});
    }
    return cat({be32(static_cast<uint32_t>(body.size())), body});
}

// A heap copy of exactly the first n bytes of b (reads past it are caught
// by AddressSanitizer); free() it.
struct ExactCopy {
    ExactCopy(const Bytes &b, size_t n)
        : p(static_cast<uint8_t *>(std::malloc(n == 0 ? 1 : n))) {
        std::memcpy(p, b.data(), n);
    }
    ~ExactCopy() { std::free(p); }
    ExactCopy(const ExactCopy &) = delete;
    ExactCopy &operator=(const ExactCopy &) = delete;
    uint8_t *p;
};

// Encodes with the table operation and hands back the bytes (freeing the
// library's buffer); empty on failure.
inline Bytes encode(const tlvu_table_t *tbl, const void *rec,
                    uint32_t *status_out = nullptr) {
    uint8_t *buf = nullptr;
    uint32_t len = 0;
    uint32_t err = 0;
    const uint32_t status =
        tlvu_table_convert_struct_to_tlv(&buf, &len, tbl, rec, 0, &err, 0);
    if (status_out != nullptr) {
        *status_out = status;
    }
    if (status != TLVU_STATUS_OK) {
        return {};
    }
    Bytes out(buf, buf + len);
    std::free(buf);
    return out;
}

class TlvTable : public ::testing::Test {
  protected:
    void SetUp() override {
        sim::reset();
        item_codec() = ItemCodecLog{};
    }
    void TearDown() override {
        sim::fail_allocation(0);
        sim::fail_allocations_from(0);
    }
};

} // namespace tlvtest
