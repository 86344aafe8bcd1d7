// A count with its noun in the right number: "1 byte", "2 bytes",
// "1 entry", "3 entries".
#pragma once

#include <string>
#include <string_view>

namespace ostrel::tools {

// `many` defaults to `one` with an "s".
inline std::string counted(unsigned long long n, std::string_view one,
                           std::string_view many = {}) {
    std::string out = std::to_string(n) + " ";
    if (n == 1)
        return out.append(one);
    return many.empty() ? out.append(one).append("s") : out.append(many);
}

} // namespace ostrel::tools
