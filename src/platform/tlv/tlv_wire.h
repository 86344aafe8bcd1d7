// Byte layout of a TLV array (docs/tlv-wire-format.md) and the one bounded
// reader every operation of the library parses untrusted bytes with.
//
//   array = header (u32 BE body length) + body
//   body  = TLV*,  TLV = u16 BE type, u16 BE value length, value bytes
//
// Every length read from the bytes is a claim: the reader checks each one
// against the bytes that are really there before anything is read behind it.
#pragma once

#include <cstdint>
#include <cstring>

#include "tlv/byte_order.h"

namespace ostrel::tlv {

inline constexpr uint32_t kArrayHeaderSize = 4;
inline constexpr uint32_t kTlvHeaderSize = 4;
inline constexpr uint32_t kMaxType = 0xFFFFu;
inline constexpr uint32_t kMaxValueLen = 0xFFFFu;

// A TLV header: type and value length (each at most 0xFFFF) in one store.
inline void store_tlv_header(uint8_t *p, uint32_t type, uint32_t value_len) {
    store_be32(p, (type << 16) | value_len);
}

// One TLV as found in an array body.
struct Tlv {
    uint16_t type = 0;
    uint16_t len = 0;
    const uint8_t *value = nullptr;
};

// The body of one array whose header has been checked against the bytes
// available: [body, body + body_len) is readable.
struct ArrayView {
    const uint8_t *body = nullptr;
    uint32_t body_len = 0;
};

enum class Parse { Ok, End, Malformed };

// Checks the header of the array at arr against `readable` bytes (0: trust
// the header, the caller vouches for 4 + body length bytes). False when the
// header is missing or claims more than is readable.
[[nodiscard]] inline bool open_array(const uint8_t *arr, uint32_t readable,
                                     ArrayView *out) {
    if (arr == nullptr) {
        return false;
    }
    if (readable != 0 && readable < kArrayHeaderSize) {
        return false;
    }
    const uint32_t body_len = load_be32(arr);
    if (readable != 0 && body_len > readable - kArrayHeaderSize) {
        return false;
    }
    if (readable == 0 && body_len > UINT32_MAX - kArrayHeaderSize) {
        return false; // 4 + body length must itself be a u32
    }
    out->body = arr + kArrayHeaderSize;
    out->body_len = body_len;
    return true;
}

// Reads the TLV at body offset *cursor and advances the cursor past it.
// End when the cursor sits exactly at the end of the body; Malformed when
// the cursor is past it or the TLV does not lie wholly inside the body.
// Nothing is stored and the cursor is left alone unless the result is Ok.
[[nodiscard]] inline Parse next_tlv(const ArrayView &a, uint32_t *cursor,
                                    Tlv *out) {
    const uint32_t at = *cursor;
    if (at == a.body_len) {
        return Parse::End;
    }
    if (at > a.body_len || a.body_len - at < kTlvHeaderSize) {
        return Parse::Malformed;
    }
    const uint8_t *p = a.body + at;
    const uint16_t len = load_be16(p + 2);
    if (len > a.body_len - at - kTlvHeaderSize) {
        return Parse::Malformed;
    }
    out->type = load_be16(p);
    out->len = len;
    out->value = p + kTlvHeaderSize;
    *cursor = at + kTlvHeaderSize + len;
    return Parse::Ok;
}

// Number of TLVs in the body; false when the body is not exactly a sequence
// of whole TLVs.
[[nodiscard]] inline bool count_tlvs(const ArrayView &a, uint32_t *count) {
    uint32_t cursor = 0;
    uint32_t n = 0;
    Tlv t;
    for (;;) {
        switch (next_tlv(a, &cursor, &t)) {
        case Parse::Ok:
            ++n;
            break;
        case Parse::End:
            *count = n;
            return true;
        case Parse::Malformed:
            return false;
        }
    }
}

} // namespace ostrel::tlv
