// Big-endian loads and stores of 16- and 32-bit words at any address: the
// byte order of TLV headers and of the tools' capture frame heads. Each is
// one unaligned access of the whole word.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace ostrel::tlv {

[[nodiscard]] inline uint32_t to_be32(uint32_t v) {
    return std::endian::native == std::endian::little ? __builtin_bswap32(v)
                                                      : v;
}
[[nodiscard]] inline uint16_t to_be16(uint16_t v) {
    return std::endian::native == std::endian::little ? __builtin_bswap16(v)
                                                      : v;
}
[[nodiscard]] inline uint32_t load_be32(const uint8_t *p) {
    uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return to_be32(v);
}
[[nodiscard]] inline uint16_t load_be16(const uint8_t *p) {
    uint16_t v;
    std::memcpy(&v, p, sizeof v);
    return to_be16(v);
}
inline void store_be32(uint8_t *p, uint32_t v) {
    const uint32_t be = to_be32(v);
    std::memcpy(p, &be, sizeof be);
}
inline void store_be16(uint8_t *p, uint32_t v) {
    const uint16_t be = to_be16(static_cast<uint16_t>(v));
    std::memcpy(p, &be, sizeof be);
}

} // namespace ostrel::tlv
