// Linked into every fuzz target: rejected inputs are the common case, so
// the TLV library's error line is silenced before the first input.
#include <cstddef>

#include "ostrelapi/platform/tlv_error_print_switch.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    tlvu_set_error_print_enabled(0);
    return 0;
}
