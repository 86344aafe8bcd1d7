// Helpers to write expected TLV bytes in tests: be16/be32 headers, host
// order values, whole arrays.
#pragma once

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <vector>

namespace tlvtest {

using Bytes = std::vector<uint8_t>;

inline Bytes be32(uint32_t v) {
    return {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16),
            static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
}
inline Bytes be16(uint32_t v) {
    return {static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
}
// The bytes of a value as it lies in memory (host order).
template <typename T> Bytes host(T v) {
    Bytes b(sizeof v);
    std::memcpy(b.data(), &v, sizeof v);
    return b;
}
inline Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes &p : parts) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}
// One TLV: type, length, value.
inline Bytes tlv(uint32_t type, const Bytes &value) {
    return cat({be16(type), be16(static_cast<uint32_t>(value.size())), value});
}
// A whole array: header with the body length, then the given TLVs.
inline Bytes array(std::initializer_list<Bytes> tlvs) {
    Bytes body = cat(tlvs);
    return cat({be32(static_cast<uint32_t>(body.size())), body});
}

} // namespace tlvtest
