// Table-driven decoding: tlvu_table_convert_tlv_to_struct and
// tlvu_table_get_struct_size_from_tlv.
//
// The encoding is untrusted: it comes from another process. Decoding makes
// a checking pass over all of it (every length, every nested array, every
// array element's place in the record) before a writing pass stores
// anything, so input that is refused leaves the record as it was. Reads
// stay inside [tlv, tlv + tlv_len) and writes inside [rec, rec + rec_size);
// both are bounded through ArrayView (tlv_wire.h) and the `room` of each
// record below.
#include <array>
#include <cstring>

#include "tlv/tlv_table.h"
#include "tlv/tlv_wire.h"
#include "tlvu.h"

namespace ostrel::tlv {
namespace {

enum class Pass { Check, Write };

// The value of a nested or custom TLV must be exactly one whole array. The
// checking pass walks it whole; the writing pass runs only over input that
// passed, so it needs the header alone.
bool open_nested(Pass pass, const Tlv &t, ArrayView *out) {
    if (t.len < kArrayHeaderSize || !open_array(t.value, t.len, out) ||
        out->body_len != t.len - kArrayHeaderSize) {
        return false;
    }
    uint32_t n = 0;
    return pass == Pass::Write || count_tlvs(*out, &n);
}

uint32_t decode_record(Pass pass, const ArrayView &a, uint8_t *rec,
                       uint64_t room, const tlvu_table_t *tbl);

uint32_t decode_plain(Pass pass, const Tlv &t, const tlvu_field_t &f,
                      uint8_t *rec, uint64_t room) {
    if (t.len != f.size) {
        return TLVU_STATUS_MALFORMED;
    }
    if (uint64_t{f.offset} + f.size > room) {
        return TLVU_STATUS_TOO_SMALL;
    }
    if (pass == Pass::Write && f.size != 0) {
        std::memcpy(rec + f.offset, t.value, f.size);
    }
    return TLVU_STATUS_OK;
}

uint32_t decode_nested(Pass pass, const Tlv &t, const tlvu_field_t &f,
                       uint8_t *rec, uint64_t room) {
    ArrayView sub;
    if (!open_nested(pass, t, &sub)) {
        return TLVU_STATUS_MALFORMED;
    }
    if (uint64_t{f.offset} + f.size > room) {
        return TLVU_STATUS_TOO_SMALL;
    }
    return decode_record(pass, sub, rec + f.offset, f.size, f.sub_table);
}

uint32_t decode_custom(Pass pass, const Tlv &t, const tlvu_field_t &f,
                       uint8_t *rec) {
    ArrayView sub;
    if (!open_nested(pass, t, &sub)) {
        return TLVU_STATUS_MALFORMED;
    }
    // The custom decoder is handed the whole record, which lies inside
    // room (decode_record checked struct_size), and the value with its
    // length, as a TLV array.
    if (pass == Pass::Write) {
        return f.tlv_to_struct(rec, t.value, t.len, 0);
    }
    return TLVU_STATUS_OK;
}

uint32_t decode_element(Pass pass, const Tlv &t, const tlvu_field_t &f,
                        uint32_t index, uint8_t *rec, uint64_t room) {
    ArrayView sub;
    if (!open_nested(pass, t, &sub)) {
        return TLVU_STATUS_MALFORMED;
    }
    const uint64_t at = uint64_t{f.offset} + uint64_t{index} * f.size;
    if (at + f.size > room) {
        return TLVU_STATUS_TOO_SMALL; // more elements than the record holds
    }
    return decode_record(pass, sub, rec + at, f.size, f.sub_table);
}

// Every array field's count must be the number of its elements decoded.
uint32_t check_counts(const tlvu_table_t *tbl, const uint8_t *rec,
                      const std::array<uint32_t, kMaxArrayFields> &seen) {
    uint32_t k = 0;
    for (const tlvu_field_t *f = fields_of(tbl); !is_end(*f); ++f) {
        if (f->kind == TLVU_KIND_ARRAY) {
            if (f->get_count(rec) != seen[k]) {
                return TLVU_STATUS_MALFORMED;
            }
            ++k;
        }
    }
    return TLVU_STATUS_OK;
}

// Decodes the array body `a` into the record at rec, of which `room` bytes
// are writable, as tbl describes it. TLV types the table does not know are
// skipped.
uint32_t decode_record(Pass pass, const ArrayView &a, uint8_t *rec,
                       uint64_t room, const tlvu_table_t *tbl) {
    if (tbl->struct_size > room) {
        return TLVU_STATUS_TOO_SMALL;
    }
    std::array<uint32_t, kMaxArrayFields> elements{};
    uint32_t cursor = 0;
    Tlv t;
    for (;;) {
        const Parse p = next_tlv(a, &cursor, &t);
        if (p == Parse::End) {
            break;
        }
        if (p == Parse::Malformed) {
            return TLVU_STATUS_MALFORMED;
        }
        uint32_t array_index = 0;
        const tlvu_field_t *f = find_field(tbl, t.type, &array_index);
        uint32_t status = TLVU_STATUS_OK;
        if (f == nullptr) {
            continue;
        }
        switch (f->kind) {
        case TLVU_KIND_PLAIN:
            status = f->sub_table == nullptr
                         ? decode_plain(pass, t, *f, rec, room)
                         : decode_nested(pass, t, *f, rec, room);
            break;
        case TLVU_KIND_CUSTOM:
            status = decode_custom(pass, t, *f, rec);
            break;
        case TLVU_KIND_ARRAY:
            status =
                decode_element(pass, t, *f, elements[array_index]++, rec, room);
            break;
        default:
            status = TLVU_STATUS_BAD_TABLE; // refused by validate_table
            break;
        }
        if (status != TLVU_STATUS_OK) {
            return status;
        }
    }
    // The counts can only be read from the record once it is written.
    return pass == Pass::Write ? check_counts(tbl, rec, elements)
                               : TLVU_STATUS_OK;
}

// Common argument checks: the table, and the top-level array against the
// readable length.
uint32_t open_encoding(const void *tlv, uint32_t tlv_len,
                       const tlvu_table_t *tbl, ArrayView *a) {
    if (tlv == nullptr || tbl == nullptr) {
        return TLVU_STATUS_BAD_ARG;
    }
    return open_checked(tlv, tlv_len, tbl, a);
}

} // namespace
} // namespace ostrel::tlv

using namespace ostrel::tlv;

/** Decodes the encoding at tlv into the record at rec as tbl describes it.
 *  tlv_len: the bytes readable at tlv (0: trust the array header). rec_size:
 *  the bytes writable at rec (0: tbl's struct_size); a record with an array
 *  needs room for its elements behind the fixed part (for a policy update
 *  request, 24 + 64 x the ACE TLVs; see tlvu_table_get_struct_size_from_tlv).
 *  The record is not cleared: only fields whose TLV is present are written
 *  (the later of two wins), unknown TLV types are skipped, and array
 *  element i goes to offset + i x size. After decoding, each array's
 *  get_count must equal the number of its elements.
 *  Statuses: TLVU_STATUS_BAD_ARG (null tlv, rec or tbl),
 *  TLVU_STATUS_BAD_TABLE, TLVU_STATUS_MALFORMED (truncated or malformed
 *  array, a plain value whose length is not the field's size, a nested value
 *  that is not exactly one array, a count that disagrees with the elements),
 *  TLVU_STATUS_TOO_SMALL (rec_size below struct_size, or more array elements
 *  than rec_size holds), or a custom decoder's own nonzero status unchanged.
 *  Refused input (every status but the last two) leaves the record
 *  unchanged; after a custom decoder's failure or a count mismatch it holds
 *  what was decoded before. */
uint32_t tlvu_table_convert_tlv_to_struct(const void *tlv, uint32_t tlv_len,
                                          void *rec, const tlvu_table_t *tbl,
                                          uint32_t rec_size) {
    if (rec == nullptr) {
        return TLVU_STATUS_BAD_ARG;
    }
    ArrayView a;
    uint32_t status = open_encoding(tlv, tlv_len, tbl, &a);
    if (status != TLVU_STATUS_OK) {
        return status;
    }
    const uint64_t room = rec_size != 0 ? rec_size : tbl->struct_size;
    auto *out = static_cast<uint8_t *>(rec);
    status = decode_record(Pass::Check, a, out, room, tbl);
    if (status != TLVU_STATUS_OK) {
        return status;
    }
    return decode_record(Pass::Write, a, out, room, tbl);
}

/** Bytes a record decoded from the encoding at tlv needs: tbl's
 *  struct_size plus, for every top-level TLV of an array field, that
 *  field's element size (for a policy update request, 24 + 64 x the ACE
 *  TLVs). tlv_len: the bytes readable at tlv (0: trust the array header).
 *  Only the top-level array is checked here; tlvu_table_convert_tlv_to_struct
 *  checks the rest. Statuses: TLVU_STATUS_BAD_ARG (null pointer),
 *  TLVU_STATUS_BAD_TABLE, TLVU_STATUS_MALFORMED, TLVU_STATUS_TOO_LARGE (over
 *  0xFFFFFFFF bytes). *size_out is written only on success. */
uint32_t tlvu_table_get_struct_size_from_tlv(uint32_t *size_out,
                                             const void *tlv, uint32_t tlv_len,
                                             const tlvu_table_t *tbl) {
    if (size_out == nullptr) {
        return TLVU_STATUS_BAD_ARG;
    }
    ArrayView a;
    const uint32_t status = open_encoding(tlv, tlv_len, tbl, &a);
    if (status != TLVU_STATUS_OK) {
        return status;
    }
    uint64_t size = tbl->struct_size;
    uint32_t cursor = 0;
    Tlv t;
    while (next_tlv(a, &cursor, &t) == Parse::Ok) {
        const tlvu_field_t *f = find_field(tbl, t.type);
        if (f != nullptr && f->kind == TLVU_KIND_ARRAY) {
            size += f->size;
            if (size > UINT32_MAX) {
                return TLVU_STATUS_TOO_LARGE;
            }
        }
    }
    *size_out = static_cast<uint32_t>(size);
    return TLVU_STATUS_OK;
}
