// The library's version, as built.
#include "ostrelapi.h"

extern "C" OSTREL_API const char *ostrel_version(void) {
    return OSTREL_VERSION_STRING;
}
