// The test descriptors and the Item codec (see tlv_test_tables.h).
#include "tlv_test_tables.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "tlvu.h"

namespace tlvtest {

const Desc<3> point_desc = {
    {sizeof(Point), "Point", 0, 0},
    {plain(101, 4, offsetof(Point, x)), plain(102, 2, offsetof(Point, y)),
     plain(103, 2, offsetof(Point, z)), kEnd}};

const Desc<2> item_desc = {
    {sizeof(Item), "Item", 0, 0},
    {plain(301, 4, offsetof(Item, id)),
     custom(302, 12, offsetof(Item, flags), item_enc, item_dec, item_sz),
     kEnd}};

const Desc<4> outer_desc = {
    {sizeof(Outer), "Outer", 0, 0},
    {plain(1, 4, offsetof(Outer, op)),
     plain(2, sizeof(Point), offsetof(Outer, pt), &point_desc.hdr),
     plain(3, 4, offsetof(Outer, count)),
     array(4, sizeof(Item), offsetof(Outer, items), outer_count,
           &item_desc.hdr),
     kEnd}};

ItemCodecLog &item_codec() {
    static ItemCodecLog log;
    return log;
}

uint32_t outer_count(const void *rec) {
    return static_cast<const Outer *>(rec)->count;
}

uint32_t item_sz(const void *rec) {
    const Item *it = static_cast<const Item *>(rec);
    uint32_t size = 4;
    if (it->flags & 1u) {
        size += tlv_size_get(4);
    }
    if (it->flags & 2u) {
        size += tlv_size_get(4);
    }
    return size;
}

uint32_t item_enc(const void *rec, uint32_t tlv_flags, uint8_t **buf,
                  uint32_t *len, uint32_t *owned) {
    ItemCodecLog &log = item_codec();
    ++log.encodes;
    log.last_rec = rec;
    log.last_flags = tlv_flags;
    if (log.fault == ItemCodecFault::FailWithoutBuffer) {
        return kFaultStatus;
    }
    const Item *it = static_cast<const Item *>(rec);
    uint32_t size = item_sz(rec);
    if (log.fault == ItemCodecFault::LongerThanItsSize) {
        size += 1;
    }
    auto *b = static_cast<uint8_t *>(std::malloc(size));
    if (b == nullptr) {
        return kFaultStatus;
    }
    std::memset(b, 0, size);
    if (it->flags & 1u) {
        (void)tlv_array_add_tlv(b, size, 201, 4, &it->a, tlv_flags);
    }
    if (it->flags & 2u) {
        (void)tlv_array_add_tlv(b, size, 202, 4, &it->b, tlv_flags);
    }
    *buf = b;
    *len = size;
    *owned = 1;
    return log.fault == ItemCodecFault::FailAfterHandingOver ? kFaultStatus : 0;
}

uint32_t item_dec(void *rec, const uint8_t *arr, uint32_t arr_len,
                  uint32_t tlv_flags) {
    ItemCodecLog &log = item_codec();
    ++log.decodes;
    log.last_rec = rec;
    log.last_arr_len = arr_len;
    log.last_flags = tlv_flags;
    if (log.fault == ItemCodecFault::DecoderFails) {
        return kFaultStatus;
    }
    Item *it = static_cast<Item *>(rec);
    const uint32_t n = tlv_array_get_num_tlvs(arr, tlv_flags, arr_len);
    uint32_t cursor = 0;
    const uint8_t *value = nullptr;
    for (uint32_t i = 0; i < n; ++i) {
        uint16_t type = 0, vlen = 0;
        if (tlv_array_get_next_tlv(arr, &type, &vlen, &value, tlv_flags,
                                   &cursor) != 0 ||
            vlen != 4) {
            continue;
        }
        if (type == 201) {
            it->flags |= 1u;
            std::memcpy(&it->a, value, 4);
        } else if (type == 202) {
            it->flags |= 2u;
            std::memcpy(&it->b, value, 4);
        }
    }
    return 0;
}

} // namespace tlvtest
