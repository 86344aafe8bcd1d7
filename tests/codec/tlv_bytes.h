// Builds expected TLV bytes in our TLV library's wire format
// (docs/tlv-wire-format.md): an array is a u32 big-endian body length
// followed by TLVs, each a u16 big-endian type, a u16 big-endian value
// length and the value, with no padding. The values the codecs put in are
// the fields' bytes as they lie in memory (host order).
#pragma once

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "ostrelapi.h"

namespace codec_test {

using Bytes = std::vector<uint8_t>;

inline Bytes be16(uint16_t v) {
    return {static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
}

inline Bytes be32(uint32_t v) {
    return {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16),
            static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
}

// The bytes of a value as it lies in memory.
template <typename T> Bytes host(const T &v) {
    Bytes b(sizeof v);
    std::memcpy(b.data(), &v, sizeof v);
    return b;
}

inline Bytes bytes_of(const void *p, size_t n) {
    const auto *u = static_cast<const uint8_t *>(p);
    return Bytes(u, u + n);
}

inline Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes &p : parts) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

inline Bytes tlv(uint16_t type, const Bytes &value) {
    return cat({be16(type), be16(static_cast<uint16_t>(value.size())), value});
}

// A TLV array holding the given TLVs.
inline Bytes array(std::initializer_list<Bytes> tlvs) {
    Bytes body = cat(tlvs);
    return cat({be32(static_cast<uint32_t>(body.size())), body});
}

// Hex dump, for readable failure messages.
inline std::string hex(const Bytes &b) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < b.size(); ++i) {
        if (i != 0) {
            s += ' ';
        }
        s += digits[b[i] >> 4];
        s += digits[b[i] & 0xf];
    }
    return s;
}

// An ACE record whose every field holds a distinct value derived from
// `seed`, with the given presence flags.
inline ostrel_api_ace_t make_ace(uint64_t fltr_flags, uint64_t actn_flags,
                                 uint8_t seed = 1) {
    ostrel_api_ace_t ace;
    std::memset(&ace, 0, sizeof ace);
    ace.fltr.fltr_tlv8 = 0x11223300u + seed;
    ace.fltr.fltr_flags = fltr_flags;
    ace.fltr.fltr_qualifier = static_cast<uint16_t>(0xab00u + seed);
    for (int i = 0; i < 6; ++i) {
        ace.fltr.fltr_addr1[i] = static_cast<uint8_t>(0x10 + i + seed);
        ace.fltr.fltr_addr2[i] = static_cast<uint8_t>(0x20 + i + seed);
        ace.fltr.fltr_addr3[i] = static_cast<uint8_t>(0x30 + i + seed);
        ace.fltr.fltr_addr4[i] = static_cast<uint8_t>(0x40 + i + seed);
    }
    ace.actn.actn_flags = actn_flags;
    ace.actn.actn_tlv10 = 0xa0a0a000u + seed;
    ace.actn.actn_tlv11 = 0xb0b0b000u + seed;
    return ace;
}

} // namespace codec_test
