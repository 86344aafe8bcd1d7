// Parsing of numbers and addresses typed by a person: no exceptions, the
// whole text must be used.
#pragma once

#include <charconv>
#include <cstdint>
#include <string_view>

namespace ostrel::tools {

// Decimal, or hexadecimal with a 0x prefix, up to `max`.
inline bool parse_number(std::string_view text, uint32_t max, uint32_t *out) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' &&
        (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        base = 16;
    }
    if (text.empty())
        return false;
    uint64_t value = 0;
    auto [end, ec] =
        std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (ec != std::errc() || end != text.data() + text.size() || value > max)
        return false;
    *out = static_cast<uint32_t>(value);
    return true;
}

// Six hexadecimal bytes separated by ':' (00:11:22:33:44:55).
inline bool parse_mac(std::string_view text, uint8_t out[6]) {
    if (text.size() != 17)
        return false;
    for (size_t i = 0; i < 6; ++i) {
        if (i > 0 && text[3 * i - 1] != ':')
            return false;
        std::string_view byte = text.substr(3 * i, 2);
        unsigned value = 0;
        auto [end, ec] =
            std::from_chars(byte.data(), byte.data() + 2, value, 16);
        if (ec != std::errc() || end != byte.data() + 2)
            return false;
        out[i] = static_cast<uint8_t>(value);
    }
    return true;
}

} // namespace ostrel::tools
