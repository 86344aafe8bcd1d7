// Expected TLV bytes in our TLV library's wire format
// (docs/tlv-wire-format.md): an array is a u32 big-endian body length
// followed by TLVs, each a u16 big-endian type, a u16 big-endian value
// length and the value, with no padding. Record fields travel as they lie
// in memory (host order).
#pragma once

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "tlv/byte_order.h"

namespace ostrel_test {

using Bytes = std::vector<uint8_t>;

inline Bytes be(uint32_t v, int n) { // the last n bytes of v, big endian
    uint8_t b[4];
    ostrel::tlv::store_be32(b, v);
    return Bytes(b + 4 - n, b + 4);
}
template <typename T> Bytes host(const T &v) { // as the value lies in memory
    const auto *p = reinterpret_cast<const uint8_t *>(&v);
    return Bytes(p, p + sizeof v);
}
inline Bytes bytes_of(const void *p, size_t n) {
    const auto *u = static_cast<const uint8_t *>(p);
    return Bytes(u, u + n);
}
inline Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes &p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}
inline Bytes tlv(uint32_t type, const Bytes &v) {
    return cat({be(type, 2), be(static_cast<uint32_t>(v.size()), 2), v});
}
inline Bytes array(std::initializer_list<Bytes> tlvs) {
    const Bytes body = cat(tlvs);
    return cat({be(static_cast<uint32_t>(body.size()), 4), body});
}
inline uint16_t read_be16(const Bytes &b, size_t at) {
    return ostrel::tlv::load_be16(b.data() + at);
}
inline Bytes prefix(const Bytes &b, size_t n) {
    return Bytes(b.begin(), b.begin() + static_cast<long>(n));
}
// Bytes from hex digits; spaces are ignored.
inline Bytes unhex(const char *text) {
    Bytes out;
    int high = -1;
    for (const char *c = text; *c != '\0'; ++c) {
        if (*c == ' ')
            continue;
        const int d = *c <= '9' ? *c - '0' : (*c | 0x20) - 'a' + 10;
        if (high < 0)
            high = d;
        else
            out.push_back(static_cast<uint8_t>(high << 4 | d)), high = -1;
    }
    return out;
}
// Hex dump, for readable failure messages.
inline std::string hex(const Bytes &b) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (uint8_t byte : b) {
        s += digits[byte >> 4];
        s += digits[byte & 0xf];
    }
    return s;
}

} // namespace ostrel_test
