// Input echoed back in a message: printable ASCII as it is, every other
// byte (and the backslash) escaped, cut to a bounded length.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace ostrel::tools {

// At most `max` characters of the escaped text; "..." follows a cut.
inline std::string escape_text(std::string_view text, size_t max = 80) {
    std::string out;
    for (unsigned char c : text) {
        char piece[8];
        if (c == '\\')
            std::snprintf(piece, sizeof piece, "\\\\");
        else if (c >= 0x20 && c < 0x7f)
            std::snprintf(piece, sizeof piece, "%c", c);
        else
            std::snprintf(piece, sizeof piece, "\\x%02x", c);
        if (out.size() + std::char_traits<char>::length(piece) > max)
            return out + "...";
        out += piece;
    }
    return out;
}

} // namespace ostrel::tools
