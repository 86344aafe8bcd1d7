// Access to single fields of an encoding without decoding the record:
// tlvu_get_field and the field iterator. Both look at the top-level TLVs
// only and validate the whole top-level array before handing anything out.
#include <cstring>

#include "tlv/tlv_table.h"
#include "tlv/tlv_wire.h"
#include "tlvu.h"

namespace ostrel::tlv {
namespace {

void exhaust(tlvu_field_itr_t *itr) {
    itr->next = nullptr;
    itr->end = nullptr;
    itr->table = nullptr;
    itr->type_filter = 0;
    itr->flags = 0;
}

} // namespace
} // namespace ostrel::tlv

using namespace ostrel::tlv;

/** Copies the value of the first top-level TLV of type tlv_type into out
 *  (out_size bytes). The type must be a field of tbl. For a plain field the
 *  value (exactly the field's size) is copied; for a nested, custom or
 *  array field (the first element) the raw nested TLV array, header
 *  included. tlv_len: readable bytes at tlv (0: trust the header).
 *  Statuses: TLVU_STATUS_BAD_ARG (null tlv, out or tbl),
 *  TLVU_STATUS_BAD_TABLE, TLVU_STATUS_MALFORMED (the top-level array, or a
 *  plain value of the wrong length), TLVU_STATUS_NOT_FOUND (no such field
 *  in tbl or no such TLV), TLVU_STATUS_TOO_SMALL (the value is longer than
 *  out_size; out is not written). */
uint32_t tlvu_get_field(const void *tlv, uint32_t tlv_len, uint32_t tlv_type,
                        void *out, uint32_t out_size,
                        const tlvu_table_t *tbl) {
    if (tlv == nullptr || out == nullptr || tbl == nullptr) {
        return TLVU_STATUS_BAD_ARG;
    }
    ArrayView a;
    const uint32_t status = open_checked(tlv, tlv_len, tbl, &a);
    if (status != TLVU_STATUS_OK) {
        return status;
    }
    const tlvu_field_t *f = find_field(tbl, tlv_type);
    if (f == nullptr) {
        return TLVU_STATUS_NOT_FOUND;
    }
    uint32_t cursor = 0;
    Tlv t;
    while (next_tlv(a, &cursor, &t) == Parse::Ok) {
        if (t.type != tlv_type) {
            continue;
        }
        const bool plain = f->kind == TLVU_KIND_PLAIN && f->sub_table == nullptr;
        if (plain && t.len != f->size) {
            return TLVU_STATUS_MALFORMED;
        }
        if (t.len > out_size) {
            return TLVU_STATUS_TOO_SMALL;
        }
        if (t.len != 0) {
            std::memcpy(out, t.value, t.len);
        }
        return TLVU_STATUS_OK;
    }
    return TLVU_STATUS_NOT_FOUND;
}

/** Sets up itr to visit the top-level TLVs of the encoding at tlv
 *  (tlv_len readable bytes, 0: trust the header), all of them (type_filter
 *  0) or those of one type. flags must be 0. The whole top-level array is
 *  validated first. Statuses: TLVU_STATUS_BAD_ARG (null itr, tlv or tbl;
 *  nonzero flags), TLVU_STATUS_BAD_TABLE, TLVU_STATUS_MALFORMED. On failure
 *  a non-null itr is left exhausted: tlvu_field_itr_get_next reports
 *  TLVU_STATUS_NOT_FOUND. */
uint32_t tlvu_field_itr_init(tlvu_field_itr_t *itr, const void *tlv,
                             uint32_t tlv_len, const tlvu_table_t *tbl,
                             uint32_t type_filter, uint32_t flags) {
    if (itr == nullptr) {
        return TLVU_STATUS_BAD_ARG;
    }
    exhaust(itr);
    if (tlv == nullptr || tbl == nullptr || flags != 0) {
        return TLVU_STATUS_BAD_ARG;
    }
    ArrayView a;
    const uint32_t status = open_checked(tlv, tlv_len, tbl, &a);
    if (status != TLVU_STATUS_OK) {
        return status;
    }
    itr->next = a.body;
    itr->end = a.body + a.body_len;
    itr->table = tbl;
    itr->type_filter = type_filter;
    itr->flags = flags;
    return TLVU_STATUS_OK;
}

/** Hands out the next top-level TLV (of the filter's type, when one was
 *  given): its descriptor entry in *field (null for a type the table does
 *  not know), its value in *value and *value_len. TLVU_STATUS_NOT_FOUND at
 *  the end; TLVU_STATUS_BAD_ARG for a null pointer; TLVU_STATUS_MALFORMED
 *  when the iterator no longer describes a sequence of whole TLVs. Outputs
 *  are written only on success. */
uint32_t tlvu_field_itr_get_next(tlvu_field_itr_t *itr,
                                 const tlvu_field_t **field,
                                 const void **value, uint32_t *value_len) {
    if (itr == nullptr || field == nullptr || value == nullptr ||
        value_len == nullptr) {
        return TLVU_STATUS_BAD_ARG;
    }
    if (itr->next == itr->end) {
        return TLVU_STATUS_NOT_FOUND; // also an exhausted iterator
    }
    if (itr->next == nullptr || itr->end == nullptr || itr->next > itr->end) {
        return TLVU_STATUS_MALFORMED;
    }
    // The remaining bytes, viewed as an array body: the same reader as
    // everywhere else re-checks each TLV against them.
    const ArrayView rest{itr->next,
                         static_cast<uint32_t>(itr->end - itr->next)};
    uint32_t cursor = 0;
    Tlv t;
    for (;;) {
        const Parse p = next_tlv(rest, &cursor, &t);
        if (p == Parse::End) {
            itr->next = itr->end;
            return TLVU_STATUS_NOT_FOUND;
        }
        if (p == Parse::Malformed) {
            return TLVU_STATUS_MALFORMED;
        }
        if (itr->type_filter == 0 || t.type == itr->type_filter) {
            break;
        }
    }
    itr->next = rest.body + cursor;
    *field = find_field(itr->table, t.type);
    *value = t.value;
    *value_len = t.len;
    return TLVU_STATUS_OK;
}
