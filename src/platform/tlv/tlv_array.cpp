// TLV arrays: the four array operations of the TLV utility library, used
// by the ACE filter and action codecs and, through the same reader
// (tlv_wire.h), by the table operations. Wire format and the rules
// on trusted and untrusted bytes: docs/tlv-wire-format.md.
//
// The array operations ignore their `flags` word: it is handed to them by
// the codecs and only the value 0 is defined.
#include <cstring>

#include "tlv/tlv_wire.h"
#include "tlvu.h"

using namespace ostrel::tlv;

namespace {

constexpr uint32_t kShortValue = 8;

// Copies a value that may lie in the same buffer (a caller may append one
// from there): short ones, the fields' usual widths, through a register-
// sized temporary instead of a library call; long ones with memmove.
void copy_value(uint8_t *to, const void *from, uint32_t len) {
    if (len > kShortValue) {
        std::memmove(to, from, len);
        return;
    }
    uint8_t tmp[kShortValue];
    const auto *src = static_cast<const uint8_t *>(from);
    for (uint32_t i = 0; i < len; ++i) {
        tmp[i] = src[i];
    }
    for (uint32_t i = 0; i < len; ++i) {
        to[i] = tmp[i];
    }
}

} // namespace

/** 4 + value_len: a TLV header and its value, no padding. Saturates at
 *  0xFFFFFFFF for lengths that no TLV can carry anyway. */
uint32_t tlv_size_get(uint32_t value_len) {
    if (value_len > UINT32_MAX - kTlvHeaderSize) {
        return UINT32_MAX;
    }
    return kTlvHeaderSize + value_len;
}

/** Appends one TLV behind the body recorded in buf's header. Returns
 *  TLVU_STATUS_BAD_ARG for a null buf, a null value with a nonzero length,
 *  or a type or length above 0xFFFF; TLVU_STATUS_MALFORMED when the header
 *  claims more than buf_size holds (or buf_size cannot hold a header);
 *  TLVU_STATUS_TOO_SMALL when the TLV does not fit behind the body. On any
 *  failure the buffer is unchanged. The existing TLVs are not walked: an
 *  append costs the same whatever the array holds. */
uint32_t tlv_array_add_tlv(uint8_t *buf, uint32_t buf_size, uint32_t tlv_type,
                           uint32_t value_len, const void *value,
                           uint32_t flags) {
    (void)flags;
    if (buf == nullptr || (value == nullptr && value_len != 0) ||
        tlv_type > kMaxType || value_len > kMaxValueLen) {
        return TLVU_STATUS_BAD_ARG;
    }
    if (buf_size < kArrayHeaderSize) {
        return TLVU_STATUS_MALFORMED;
    }
    const uint32_t body_len = load_be32(buf);
    const uint32_t room = buf_size - kArrayHeaderSize;
    if (body_len > room) {
        return TLVU_STATUS_MALFORMED;
    }
    const uint32_t need = kTlvHeaderSize + value_len;
    if (need > room - body_len) {
        return TLVU_STATUS_TOO_SMALL;
    }
    uint8_t *p = buf + kArrayHeaderSize + body_len;
    copy_value(p + kTlvHeaderSize, value, value_len);
    store_tlv_header(p, tlv_type, value_len);
    store_be32(buf, body_len + need);
    return TLVU_STATUS_OK;
}

/** Number of TLVs in the array at arr after validating all of it: the
 *  header must fit in arr_len bytes (0: trust the header) and the body
 *  must be exactly a sequence of whole TLVs. 0 for a null, truncated or
 *  malformed array, and for an empty one. */
uint32_t tlv_array_get_num_tlvs(const uint8_t *arr, uint32_t flags,
                                uint32_t arr_len) {
    (void)flags;
    ArrayView a;
    uint32_t n = 0;
    if (!open_array(arr, arr_len, &a) || !count_tlvs(a, &n)) {
        return 0;
    }
    return n;
}

/** Reads the TLV at body offset *cursor, bounded by the body length in the
 *  array header (not by any buffer size: validate the array first with
 *  tlv_array_get_num_tlvs and its arr_len). TLVU_STATUS_OK with the type,
 *  value length and value address stored and the cursor advanced;
 *  TLVU_STATUS_NOT_FOUND at the end of the body; TLVU_STATUS_MALFORMED for a
 *  cursor past the end or a TLV that runs past it; TLVU_STATUS_BAD_ARG for
 *  a null pointer. On failure nothing is stored and the cursor is kept. */
uint32_t tlv_array_get_next_tlv(const uint8_t *arr, uint16_t *tlv_type,
                                uint16_t *value_len, const uint8_t **value,
                                uint32_t flags, uint32_t *cursor) {
    (void)flags;
    if (arr == nullptr || tlv_type == nullptr || value_len == nullptr ||
        value == nullptr || cursor == nullptr) {
        return TLVU_STATUS_BAD_ARG;
    }
    ArrayView a;
    if (!open_array(arr, 0, &a)) {
        return TLVU_STATUS_MALFORMED;
    }
    Tlv t;
    switch (next_tlv(a, cursor, &t)) {
    case Parse::Ok:
        *tlv_type = t.type;
        *value_len = t.len;
        *value = t.value;
        return TLVU_STATUS_OK;
    case Parse::End:
        return TLVU_STATUS_NOT_FOUND;
    case Parse::Malformed:
        break;
    }
    return TLVU_STATUS_MALFORMED;
}
