// The simulated service's reply statuses; every other word is named by the
// library (ostrel_api_status_text).
#include "status_names.h"

#include <cstdio>

#include "ostrelapi.h"
#include "service_protocol.h"

namespace ostrel::tools {

namespace {

struct Name {
    uint32_t status;
    const char *name;
};

constexpr Name kNames[] = {
    {kReplyMalformed, "malformed message"},
    {kReplyUnknownOpcode, "unknown opcode"},
};

} // namespace

std::string status_name(uint32_t status) {
    for (const Name &n : kNames)
        if (n.status == status)
            return n.name;
    std::string text(ostrel_api_status_text(status, nullptr, 0), '\0');
    ostrel_api_status_text(status, text.data(), text.size() + 1);
    return text;
}

std::string hex_word(uint32_t word) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08x", word);
    return hex;
}

std::string status_text(uint32_t status) {
    return hex_word(status) + " (" + status_name(status) + ")";
}

} // namespace ostrel::tools
