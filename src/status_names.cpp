// Names of the status words the library and the TLV library return, for
// logs and tools.
#include <cstdio>
#include <cstring>

#include "ostrelapi.h"
#include "tlvu.h"

namespace {

struct StatusName {
    uint32_t status;
    const char *name;
};

constexpr StatusName kNames[] = {
    {OSTREL_STATUS_OK, "ok"},
    {OSTREL_STATUS_NO_ENTRY, "no entry"},
    {OSTREL_STATUS_INVALID, "invalid argument"},
    {OSTREL_STATUS_NOT_EXECUTED, "not executed"},
    {TLVU_STATUS_BAD_ARG, "TLV bad argument"},
    {TLVU_STATUS_MALFORMED, "TLV malformed"},
    {TLVU_STATUS_TOO_SMALL, "TLV output too small"},
    {TLVU_STATUS_NO_MEMORY, "TLV out of memory"},
    {TLVU_STATUS_NOT_FOUND, "TLV not found"},
    {TLVU_STATUS_BAD_TABLE, "TLV bad table"},
    {TLVU_STATUS_TOO_LARGE, "TLV value too large"},
};

constexpr uint32_t kSendErrorMask = 0xfffu;

bool is_send_failure(uint32_t status) {
    return (status & ~kSendErrorMask) == OSTREL_STATUS_SEND_FAILED;
}

// A drain whose receive failed returns the transport's error number as it
// is: a small nonzero word, named after the error ("ECONNRESET").
const char *receive_error_name(uint32_t status) {
    if (status == 0 || status > kSendErrorMask)
        return nullptr;
    return strerrorname_np(static_cast<int>(status)); // static, or null
}

// The system's text of an error number, whichever strerror_r the C library
// declares: the GNU one returns the text, the XSI one fills buf.
[[maybe_unused]] const char *error_text(const char *text, const char *) {
    return text;
}
[[maybe_unused]] const char *error_text(int result, const char *buf) {
    return result == 0 ? buf : "unknown error";
}

} // namespace

extern "C" {

OSTREL_API const char *ostrel_api_status_name(uint32_t status) {
    if (is_send_failure(status))
        return "send failed";
    if (const char *name = receive_error_name(status))
        return name;
    for (const StatusName &n : kNames)
        if (n.status == status)
            return n.name;
    return "unknown";
}

OSTREL_API size_t ostrel_api_status_text(uint32_t status, char *buf,
                                         size_t size) {
    const char *name = ostrel_api_status_name(status);
    if (buf == nullptr)
        size = 0;
    int written;
    char scratch[128] = "";
    if (is_send_failure(status)) {
        int error = static_cast<int>(status & kSendErrorMask);
        const char *text =
            error_text(strerror_r(error, scratch, sizeof scratch), scratch);
        written =
            std::snprintf(buf, size, "%s: errno %d (%s)", name, error, text);
    } else if (receive_error_name(status) != nullptr) {
        int error = static_cast<int>(status);
        const char *text =
            error_text(strerror_r(error, scratch, sizeof scratch), scratch);
        written = std::snprintf(buf, size, "receive failed: errno %d %s (%s)",
                                error, name, text);
    } else {
        written = std::snprintf(buf, size, "%s", name);
    }
    return written > 0 ? static_cast<size_t>(written) : 0;
}

} // extern "C"
