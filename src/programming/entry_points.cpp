// ACL add and delete entry points.
#include "ostrelapi.h"

extern "C" OSTREL_API uint32_t ostrel_api_dump_memory(uint32_t, uint32_t) { return 0; }
