// Descriptor checks and lookup shared by the table operations, and the
// checks every operation on an encoding starts with.
#include "tlv/tlv_table.h"
#include "tlv/tlv_wire.h"

namespace ostrel::tlv {
namespace {

// A field of `size` bytes at `offset` lies inside a record of struct_size.
bool inside(uint32_t offset, uint32_t size, uint32_t struct_size) {
    return uint64_t{offset} + size <= struct_size;
}

uint32_t validate_at(const tlvu_table_t *tbl, uint32_t depth);

uint32_t validate_field(const tlvu_table_t *tbl, const tlvu_field_t &f,
                        uint32_t depth) {
    if (f.tlv_type == 0 || f.tlv_type > kMaxType) {
        return TLVU_STATUS_BAD_TABLE;
    }
    switch (f.kind) {
    case TLVU_KIND_PLAIN:
        if (!inside(f.offset, f.size, tbl->struct_size)) {
            return TLVU_STATUS_BAD_TABLE;
        }
        if (f.sub_table == nullptr) {
            return f.size <= kMaxValueLen ? TLVU_STATUS_OK
                                          : TLVU_STATUS_BAD_TABLE;
        }
        if (f.sub_table->struct_size > f.size) {
            return TLVU_STATUS_BAD_TABLE;
        }
        return validate_at(f.sub_table, depth + 1);
    case TLVU_KIND_CUSTOM:
        if (f.struct_to_tlv == nullptr || f.tlv_to_struct == nullptr ||
            f.get_tlv_data_sz == nullptr ||
            !inside(f.offset, f.size, tbl->struct_size)) {
            return TLVU_STATUS_BAD_TABLE;
        }
        return TLVU_STATUS_OK;
    case TLVU_KIND_ARRAY:
        if (f.get_count == nullptr || f.sub_table == nullptr || f.size == 0 ||
            f.sub_table->struct_size > f.size || f.offset > tbl->struct_size) {
            return TLVU_STATUS_BAD_TABLE;
        }
        return validate_at(f.sub_table, depth + 1);
    default:
        return TLVU_STATUS_BAD_TABLE;
    }
}

uint32_t validate_at(const tlvu_table_t *tbl, uint32_t depth) {
    if (depth >= kMaxDepth) {
        return TLVU_STATUS_BAD_TABLE; // too deep, or a table refers to itself
    }
    const tlvu_field_t *f = fields_of(tbl);
    uint32_t arrays = 0;
    for (uint32_t i = 0; !is_end(f[i]); ++i) {
        if (i == kMaxFields) {
            return TLVU_STATUS_BAD_TABLE; // no end entry in sight
        }
        if (f[i].kind == TLVU_KIND_ARRAY && ++arrays > kMaxArrayFields) {
            return TLVU_STATUS_BAD_TABLE;
        }
        const uint32_t status = validate_field(tbl, f[i], depth);
        if (status != TLVU_STATUS_OK) {
            return status;
        }
    }
    return TLVU_STATUS_OK;
}

} // namespace

// Walking a descriptor costs as much as decoding a small record, so a
// constant one found valid is not walked again (tlv_constant_tables.cpp).
uint32_t validate_table(const tlvu_table_t *tbl) {
    if (tbl == nullptr) {
        return TLVU_STATUS_BAD_ARG;
    }
    if (known_constant(tbl)) {
        return TLVU_STATUS_OK;
    }
    const uint32_t status = validate_at(tbl, 0);
    if (status == TLVU_STATUS_OK) {
        remember_if_constant(tbl);
    }
    return status;
}

uint32_t open_checked(const void *tlv, uint32_t tlv_len,
                      const tlvu_table_t *tbl, ArrayView *a) {
    const uint32_t status = validate_table(tbl);
    if (status != TLVU_STATUS_OK) {
        return status;
    }
    uint32_t n = 0;
    if (!open_array(static_cast<const uint8_t *>(tlv), tlv_len, a) ||
        !count_tlvs(*a, &n)) {
        return TLVU_STATUS_MALFORMED;
    }
    return TLVU_STATUS_OK;
}

const tlvu_field_t *find_field(const tlvu_table_t *tbl, uint32_t tlv_type,
                               uint32_t *array_index) {
    if (tbl == nullptr) {
        return nullptr;
    }
    uint32_t arrays = 0;
    const tlvu_field_t *f = fields_of(tbl);
    for (uint32_t i = 0; i < kMaxFields && !is_end(*f); ++i, ++f) {
        if (f->tlv_type == tlv_type) {
            if (array_index != nullptr) {
                *array_index = arrays;
            }
            return f;
        }
        if (f->kind == TLVU_KIND_ARRAY) {
            ++arrays;
        }
    }
    return nullptr;
}

} // namespace ostrel::tlv
