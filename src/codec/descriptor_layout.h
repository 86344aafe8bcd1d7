// In-memory shape of a table descriptor: the header and, in the
// same object, its N field entries and the end entry.
#pragma once

#include <cstddef>

#include "ostrelapi.h"

namespace ostrel::codec {

// Default visibility: the exported descriptor objects are of this type, and
// GCC will not export an object whose type is hidden.
template <std::size_t N>
struct __attribute__((visibility("default"))) Descriptor {
    tlvu_table_t header;
    tlvu_field_t fields[N + 1]; // N field entries, then the end entry
};

// The entries begin right behind the header, where the TLV utility library
// looks for them.
static_assert(offsetof(Descriptor<1>, header) == 0);
static_assert(offsetof(Descriptor<1>, fields) == sizeof(tlvu_table_t));
static_assert(offsetof(Descriptor<4>, fields) == sizeof(tlvu_table_t));

} // namespace ostrel::codec
