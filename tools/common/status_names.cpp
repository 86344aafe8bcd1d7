// One table of the statuses that are not the library's; the library's
// names come from its C++ header.
#include "status_names.h"

#include <cstdio>

#include "ostrelapi.hpp"
#include "service_protocol.h"
#include "tlvu.h"

namespace ostrel::tools {

namespace {

struct Name {
    uint32_t status;
    const char *name;
};

constexpr Name kNames[] = {
    {TLVU_STATUS_BAD_ARG, "TLV bad argument"},
    {TLVU_STATUS_MALFORMED, "TLV malformed"},
    {TLVU_STATUS_TOO_SMALL, "TLV output too small"},
    {TLVU_STATUS_NO_MEMORY, "TLV out of memory"},
    {TLVU_STATUS_NOT_FOUND, "TLV not found"},
    {TLVU_STATUS_BAD_TABLE, "TLV bad table"},
    {TLVU_STATUS_TOO_LARGE, "TLV value too large"},
    {kReplyMalformed, "malformed message"},
    {kReplyUnknownOpcode, "unknown opcode"},
};

} // namespace

std::string status_name(uint32_t status) {
    for (const Name &n : kNames)
        if (n.status == status)
            return n.name;
    std::string name = ostrel::to_string(status);
    if (ostrel::is_send_failure(status))
        name += ", error number " +
                std::to_string(ostrel::send_error_number(status));
    return name;
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
