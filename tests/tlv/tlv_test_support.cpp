// The test descriptors, the Item codec and the encode helper.
#include "tlv_test_support.h"

#include <cstdlib>

namespace tlvtest {
namespace {

uint32_t item_sz(const void *rec) {
    return static_cast<const Item *>(rec)->a != 0 ? 12 : 4;
}
uint32_t item_enc(const void *rec, uint32_t, uint8_t **buf, uint32_t *len,
                  uint32_t *owned) {
    const uint32_t a = static_cast<const Item *>(rec)->a;
    const uint32_t size = item_sz(rec) + (fault == Fault::EncodeTooLong);
    *buf = static_cast<uint8_t *>(std::calloc(1, size));
    if (*buf == nullptr) {
        return kCodecStatus;
    }
    if (a != 0) {
        (void)tlv_array_add_tlv(*buf, size, 201, 4, &a, 0);
    }
    *len = size;
    *owned = 1;
    return fault == Fault::EncodeFailsOwningBuffer ? kCodecStatus : 0;
}
// Handed the whole Item and one whole array (checked by the library).
uint32_t item_dec(void *rec, const uint8_t *arr, uint32_t arr_len, uint32_t) {
    if (arr_len == 12 && arr[5] == 201) {
        std::memcpy(&static_cast<Item *>(rec)->a, arr + 8, 4);
    }
    return fault == Fault::DecodeFails ? kCodecStatus : 0;
}
uint32_t outer_count(const void *rec) {
    return static_cast<const Outer *>(rec)->count;
}

} // namespace

const Desc<2> item_desc = {{sizeof(Item), "Item", 0, 0},
                           {field(TLVU_KIND_PLAIN, 301, 4, 0),
                            field(TLVU_KIND_CUSTOM, 302, 4, 4, nullptr, nullptr,
                                  item_enc, item_dec, item_sz),
                            kEnd}};

const Desc<4> outer_desc = {
    {sizeof(Outer), "Outer", 0, 0},
    {field(TLVU_KIND_PLAIN, 1, 4, 0),
     field(TLVU_KIND_PLAIN, 2, 8, 4, &item_desc.hdr),
     field(TLVU_KIND_PLAIN, 3, 4, 12),
     field(TLVU_KIND_ARRAY, 4, 8, 16, &item_desc.hdr, outer_count), kEnd}};

Rec outer_with_items(uint32_t n) {
    Rec r(sizeof(Outer) + n * sizeof(Item));
    *r.as<Outer>() = {0x01020304, {0xA0A1A2A3, 0xB0B1}, n};
    for (uint32_t i = 0; i < n; ++i) {
        r.as<Outer>()->items[i] = {100 + i, (i % 2) ? 0x1000 + i : 0};
    }
    return r;
}

Encoded encode(const tlvu_table_t *tbl, const void *rec, uint32_t max_len) {
    uint8_t *buf = nullptr;
    uint32_t len = 0xDEAD;
    Encoded e{0, 0xBEEF, {}};
    e.status = tlvu_table_convert_struct_to_tlv(&buf, &len, tbl, rec, 0,
                                                &e.err_type, max_len);
    EXPECT_EQ(buf == nullptr && len == 0xDEAD, e.status != 0); // all or none
    if (buf != nullptr) {
        e.bytes.assign(buf, buf + len);
    }
    std::free(buf);
    return e;
}

} // namespace tlvtest
