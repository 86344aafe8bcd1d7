// tlvu_error_print: the library's one output, the codec family's error
// reports ("%s: ERR 0x%x\n"), written to stderr unless silenced with
// tlvu_set_error_print_enabled.
#include <atomic>
#include <cstdarg>
#include <cstdio>

#include "ostrelapi/platform/tlv_error_print_switch.h"
#include "tlvu.h"

namespace {
std::atomic<bool> error_print_enabled{true};
} // namespace

void tlvu_set_error_print_enabled(int enabled) {
    error_print_enabled.store(enabled != 0, std::memory_order_relaxed);
}

/** Formats like printf and writes the text to stderr. */
void tlvu_error_print(const char *fmt, ...) {
    if (fmt == nullptr ||
        !error_print_enabled.load(std::memory_order_relaxed)) {
        return;
    }
    va_list args;
    va_start(args, fmt);
    (void)std::vfprintf(stderr, fmt, args);
    va_end(args);
}
