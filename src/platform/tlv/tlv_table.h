// Descriptor access for the table operations: where the field entries of a
// tlvu_table_t lie, what makes a descriptor runnable, and lookup by TLV
// type. Descriptors are trusted program data, but they are checked once
// per operation (validate_table; a constant one only the first time on a
// thread) so that the walkers below can rely on their shape and a broken
// table is reported as TLVU_STATUS_BAD_TABLE instead of being run.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ostrelapi.h"
#include "tlv/tlv_wire.h"
#include "tlvu.h"

namespace ostrel::tlv {

// The field entries follow the header directly, in the same object: the
// header's size is a multiple of the entries' alignment on every target we
// build for, so there is no padding between them.
static_assert(sizeof(tlvu_table_t) % alignof(tlvu_field_t) == 0,
              "tlvu_field_t entries must follow tlvu_table_t without padding");

// Limits on what a descriptor may be (see docs/tlv-wire-format.md).
inline constexpr uint32_t kMaxFields = 256;    // entries before the end
inline constexpr uint32_t kMaxDepth = 8;       // nesting of sub_tables
inline constexpr uint32_t kMaxArrayFields = 8; // kind-5 entries per table

[[nodiscard]] inline const tlvu_field_t *fields_of(const tlvu_table_t *tbl) {
    return reinterpret_cast<const tlvu_field_t *>(tbl + 1);
}
[[nodiscard]] inline bool is_end(const tlvu_field_t &f) {
    return f.kind == TLVU_KIND_END;
}
[[nodiscard]] inline bool is_nested(const tlvu_field_t &f) {
    return f.kind == TLVU_KIND_PLAIN && f.sub_table != nullptr;
}

// TLVU_STATUS_OK when tbl and every table it refers to can be run: each
// entry has a type of 1 to 0xFFFF and a known kind with the functions and
// sub_table that kind needs; plain and custom fields lie inside the record
// and nested records fit their field; array elements are at least as big
// as their descriptor's record; at most kMaxFields entries, kMaxArrayFields
// arrays and kMaxDepth levels of nesting. TLVU_STATUS_BAD_TABLE otherwise
// (TLVU_STATUS_BAD_ARG for a null tbl).
[[nodiscard]] uint32_t validate_table(const tlvu_table_t *tbl);

// What every operation on an encoding checks first: the table
// (validate_table), then that the top-level array at tlv (tlv_len readable
// bytes, 0: trust its header) is whole (else TLVU_STATUS_MALFORMED). *a
// receives the opened array.
[[nodiscard]] uint32_t open_checked(const void *tlv, uint32_t tlv_len,
                                    const tlvu_table_t *tbl, ArrayView *a);

// Whether tbl is one of the descriptors this thread found valid and that
// cannot change: it and every table it refers to lie in memory the loader
// made read-only. remember_if_constant(tbl), for a valid tbl, adds it when
// it is such a descriptor.
[[nodiscard]] bool known_constant(const tlvu_table_t *tbl);
void remember_if_constant(const tlvu_table_t *tbl);

// The first entry of a validated table with that TLV type, or null. When
// it is an array entry and array_index is not null, *array_index receives
// its position among the table's array entries (0 for the first).
[[nodiscard]] const tlvu_field_t *find_field(const tlvu_table_t *tbl,
                                             uint32_t tlv_type,
                                             uint32_t *array_index = nullptr);

} // namespace ostrel::tlv
