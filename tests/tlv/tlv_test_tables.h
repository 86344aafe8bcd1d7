// Small descriptors of our own for the table-operation tests, covering the
// four kinds of entry:
//
//   Point  (8 bytes)   TLV 101 x u32 @0, 102 y u16 @4, 103 z u16 @6  (plain)
//   Item   (16 bytes)  TLV 301 id u32 @0 (plain), 302 custom @4 (12 bytes:
//                      flags, a, b) through the Item codec below
//   Outer  (16 bytes + items)
//                      TLV 1 op u32 @0, 2 pt Point @4 (nested),
//                      3 count u32 @12, 4 items: Item[count] @16 (array)
//
// The Item codec works like the ACE action codec: its array holds TLV 201
// (a) when bit 0 of flags is set and TLV 202 (b) with bit 1, and it is
// handed the whole Item record.
#pragma once

#include <cstdint>

#include "ostrelapi.h"

namespace tlvtest {

struct Point {
    uint32_t x;
    uint16_t y;
    uint16_t z;
};
struct Item {
    uint32_t id;
    uint32_t flags;
    uint32_t a;
    uint32_t b;
};
struct Outer {
    uint32_t op;
    Point pt;
    uint32_t count;
    Item items[];
};
static_assert(sizeof(Point) == 8 && sizeof(Item) == 16 && sizeof(Outer) == 16);

// A descriptor object: header, N field entries, end entry.
template <int N> struct Desc {
    tlvu_table_t hdr;
    tlvu_field_t f[N + 1];
};

constexpr tlvu_field_t kEnd = {TLVU_END_WORD, TLVU_END_WORD, TLVU_END_WORD,
                               TLVU_KIND_END, nullptr, nullptr, nullptr,
                               nullptr, TLVU_END_WORD, TLVU_END_WORD,
                               TLVU_END_WORD, nullptr};

constexpr tlvu_field_t plain(uint32_t type, uint32_t size, uint32_t offset,
                             const tlvu_table_t *sub = nullptr) {
    return {type, size, offset, TLVU_KIND_PLAIN, nullptr, nullptr, nullptr,
            nullptr, 0, size, TLVU_END_WORD, sub};
}
constexpr tlvu_field_t custom(uint32_t type, uint32_t size, uint32_t offset,
                              tlvu_struct_to_tlv_fn enc,
                              tlvu_tlv_to_struct_fn dec,
                              tlvu_get_tlv_data_sz_fn sz) {
    return {type, size, offset, TLVU_KIND_CUSTOM, enc, dec, sz, nullptr, 0,
            size, TLVU_END_WORD, nullptr};
}
constexpr tlvu_field_t array(uint32_t type, uint32_t size, uint32_t offset,
                             tlvu_get_count_fn count,
                             const tlvu_table_t *element) {
    return {type, size, offset, TLVU_KIND_ARRAY, nullptr, nullptr, nullptr,
            count, 0, 0, TLVU_END_WORD, element};
}

extern const Desc<3> point_desc;
extern const Desc<2> item_desc;
extern const Desc<4> outer_desc;
inline const tlvu_table_t *point_tbl() { return &point_desc.hdr; }
inline const tlvu_table_t *item_tbl() { return &item_desc.hdr; }
inline const tlvu_table_t *outer_tbl() { return &outer_desc.hdr; }

// The Item codec (TLV 302).
uint32_t item_sz(const void *rec);
uint32_t item_enc(const void *rec, uint32_t tlv_flags, uint8_t **buf,
                  uint32_t *len, uint32_t *owned);
uint32_t item_dec(void *rec, const uint8_t *arr, uint32_t arr_len,
                  uint32_t tlv_flags);
uint32_t outer_count(const void *rec);

// How the Item codec misbehaves when told to (reset() restores Normal).
enum class ItemCodecFault {
    Normal,
    FailAfterHandingOver, // status kFaultStatus, buffer handed over (owned 1)
    FailWithoutBuffer,    // status kFaultStatus, nothing handed over
    LongerThanItsSize,    // hands over one byte more than item_sz said
    DecoderFails,         // the decoder returns kFaultStatus
};
constexpr uint32_t kFaultStatus = 0x41040002u;

struct ItemCodecLog {
    ItemCodecFault fault = ItemCodecFault::Normal;
    int encodes = 0;
    int decodes = 0;
    const void *last_rec = nullptr;  // record handed to the encoder/decoder
    uint32_t last_arr_len = 0;       // third argument of the decoder
    uint32_t last_flags = 0xFFFFFFFF; // tlv_flags the codec was handed
};
ItemCodecLog &item_codec();

} // namespace tlvtest
