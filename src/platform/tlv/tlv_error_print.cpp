// tlvu_error_print: the library's one output, the codec family's error
// reports ("%s: ERR 0x%x\n"), written to stderr.
#include <cstdarg>
#include <cstdio>

#include "tlvu.h"

/** Formats like printf and writes the text to stderr. */
void tlvu_error_print(const char *fmt, ...) {
    if (fmt == nullptr) {
        return;
    }
    va_list args;
    va_start(args, fmt);
    (void)std::vfprintf(stderr, fmt, args);
    va_end(args);
}
