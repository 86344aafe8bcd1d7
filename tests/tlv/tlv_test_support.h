// Shared pieces of the TLV tests: two descriptors of our own
// covering every kind of entry, a custom codec that can misbehave, records.
//
//   Item (8 bytes)   TLV 301 id u32 @0 (plain), 302 @4 (custom: an array
//                    holding TLV 201 a when a is not 0)
//   Outer (16 + 8n)  TLV 1 op u32 @0, 2 pair: Item @4 (nested), 3 count u32
//                    @12, 4 items: Item[count] @16 (array)
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "sim_platform.h"
#include "tlv_bytes.h"
#include "tlvu.h"

namespace tlvtest {

using namespace ostrel_test;
constexpr uint32_t kMalformed = TLVU_STATUS_MALFORMED;
constexpr uint32_t kTooSmall = TLVU_STATUS_TOO_SMALL;
constexpr uint32_t kBadTable = TLVU_STATUS_BAD_TABLE;

struct Item {
    uint32_t id, a;
};
struct Outer {
    uint32_t op;
    Item pair;
    uint32_t count;
    Item items[];
};

template <int N> struct Desc {
    tlvu_table_t hdr;
    tlvu_field_t f[N + 1]; // the last one is kEnd
};
constexpr tlvu_field_t field(uint32_t kind, uint32_t type, uint32_t size,
                             uint32_t offset, const tlvu_table_t *sub = nullptr,
                             tlvu_get_count_fn count = nullptr,
                             tlvu_struct_to_tlv_fn enc = nullptr,
                             tlvu_tlv_to_struct_fn dec = nullptr,
                             tlvu_get_tlv_data_sz_fn sz = nullptr) {
    const uint32_t end = kind == TLVU_KIND_END ? TLVU_END_WORD : 0;
    const uint32_t value_size = kind == TLVU_KIND_ARRAY ? 0 : size;
    return {type, size,  offset, kind,       enc,           dec,
            sz,   count, end,    value_size, TLVU_END_WORD, sub};
}
constexpr tlvu_field_t kEnd = field(0, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF);
extern const Desc<2> item_desc;
extern const Desc<4> outer_desc;
inline const tlvu_table_t *const outer = &outer_desc.hdr;

// How the Item codec misbehaves; its failures return kCodecStatus.
enum class Fault { None, EncodeFailsOwningBuffer, EncodeTooLong, DecodeFails };
constexpr uint32_t kCodecStatus = 0x41040002u;
inline Fault fault = Fault::None;

// `size` record bytes filled with `fill`, then guard bytes no call may touch.
struct Rec {
    explicit Rec(size_t size, uint8_t fill = 0) : n(size), buf(n + 16, 0xC5) {
        std::fill_n(buf.begin(), n, fill);
    }
    uint8_t *p() const { return const_cast<uint8_t *>(buf.data()); }
    uint32_t size() const { return static_cast<uint32_t>(n); }
    template <typename T> T *as() { return reinterpret_cast<T *>(p()); }
    Bytes contents() const { return Bytes(buf.begin(), buf.begin() + n); }
    bool guard_intact() const {
        return std::count(buf.begin() + n, buf.end(), 0xC5) == 16;
    }
    size_t n;
    Bytes buf;
};
// An Outer of n items, item i {100 + i, odd i ? 0x1000 + i : 0}.
Rec outer_with_items(uint32_t n);

struct Encoded {
    uint32_t status, err_type;
    Bytes bytes;
};
// Runs the table encoder (a failure must hand nothing out); frees its buffer.
Encoded encode(const tlvu_table_t *tbl, const void *rec, uint32_t max_len = 0);

struct TlvTable : ::testing::Test {
    void SetUp() override { fault = Fault::None; }
    void TearDown() override { sim::fail_allocation(0); }
};

} // namespace tlvtest
