// Helpers shared by the ACE filter and action codecs: the one
// allocation of an encoding and the width check of a decoded value.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "ostrelapi.h"
#include "tlvu.h"

namespace ostrel::codec {

inline constexpr uint32_t kStatusOk = OSTREL_STATUS_OK;
inline constexpr uint32_t kStatusNullArg = OSTREL_STATUS_INVALID;
inline constexpr uint32_t kStatusNoMemory = OSTREL_STATUS_NO_ENTRY;

// The ACE record as the codecs see it: the address of the whole 64-byte
// record, whichever part they work on.
inline const ostrel_api_ace_t *ace_of(const void *rec) {
    return static_cast<const ostrel_api_ace_t *>(rec);
}
inline ostrel_api_ace_t *ace_of(void *rec) {
    return static_cast<ostrel_api_ace_t *>(rec);
}

// Allocates `size` bytes with malloc and zero-fills them: an empty TLV
// array with room for exactly the TLVs the size was computed for.
inline uint8_t *new_empty_array(uint32_t size) {
    auto *buf = static_cast<uint8_t *>(std::malloc(size));
    if (buf != nullptr) {
        std::memset(buf, 0, size);
    }
    return buf;
}

// Hands a finished encoding over to the caller.
inline uint32_t hand_over(uint8_t *buf, uint32_t size, uint8_t **tlv_buf,
                          uint32_t *tlv_len, uint32_t *buf_owned) {
    *tlv_len = size;
    *tlv_buf = buf;
    *buf_owned = 1;
    return kStatusOk;
}

// Decoded values must have exactly the width of their field. A value that is
// shorter or longer is refused: the TLV is skipped as if its type were
// unknown, so neither the field nor any presence flag changes. This is one
// of the choices listed in docs/design.md: zero-extending a short value or
// cutting a long one would store bytes the sender never meant for that
// field.
inline bool fits_field(uint16_t value_len, const uint8_t *value,
                       uint32_t width) {
    return value != nullptr && value_len == width;
}

// Reads one integer field value of type T through a temporary.
template <typename T> inline T read_value(const uint8_t *value) {
    T tmp;
    std::memcpy(&tmp, value, sizeof tmp);
    return tmp;
}

// Visits the TLVs of a decoder's array: asks tlv_array_get_num_tlvs for the
// count n (arr_len is the decoder's readable_len: the bytes that may be
// read, 0 meaning "trust the header"), then calls tlv_array_get_next_tlv n
// times with one cursor and one value pointer set up before the loop, and
// hands each TLV to visit. The results of tlv_array_get_next_tlv are not
// examined: the count has already validated the whole array. The type and
// length are reset before every read, so a read that fails and stores
// nothing yields type 0, which no decoder stores.
template <typename Visit>
inline void for_each_tlv(const uint8_t *arr, uint32_t tlv_flags,
                         uint32_t arr_len, Visit &&visit) {
    const uint32_t n = tlv_array_get_num_tlvs(arr, tlv_flags, arr_len);
    uint32_t cursor = 0;
    const uint8_t *value = nullptr;
    for (uint32_t i = 0; i < n; ++i) {
        uint16_t type = 0;
        uint16_t value_len = 0;
        (void)tlv_array_get_next_tlv(arr, &type, &value_len, &value, tlv_flags,
                                     &cursor);
        visit(type, value_len, value);
    }
}

} // namespace ostrel::codec
