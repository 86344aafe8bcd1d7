// Which descriptors cannot change: those that lie, with every table they
// refer to, in memory the loader made read-only (a read-only segment, or the
// part of a writable one that is write-protected after relocation). Such a
// descriptor, once found valid, stays valid as long as its object stays
// loaded, so a thread remembers a few of them and does not walk them again.
// Any other descriptor (on the heap, on the stack, in writable data) may be
// changed in place or replaced at the same address, and is checked on every
// operation.
#include <link.h>
#include <unistd.h>

#include <array>
#include <cstddef>
#include <cstdint>

#include "tlv/tlv_table.h"

namespace ostrel::tlv {
namespace {

struct Span {
    uintptr_t begin;
    uintptr_t end;
};

// Pages write-protected for the life of the object that holds `span`.
int find_read_only(dl_phdr_info *info, size_t, void *data) {
    const Span &span = *static_cast<const Span *>(data);
    const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    for (ElfW(Half) i = 0; i < info->dlpi_phnum; ++i) {
        const ElfW(Phdr) &ph = info->dlpi_phdr[i];
        const bool read_only =
            (ph.p_type == PT_LOAD && (ph.p_flags & PF_W) == 0) ||
            ph.p_type == PT_GNU_RELRO;
        const uintptr_t begin = info->dlpi_addr + ph.p_vaddr;
        // The loader protects only whole pages of the relocated part.
        uintptr_t end = begin + ph.p_memsz;
        if (ph.p_type == PT_GNU_RELRO) {
            end &= ~(page - 1);
        }
        if (read_only && span.begin >= begin && span.end <= end) {
            return 1;
        }
    }
    return 0;
}

bool read_only(const void *p, size_t size) {
    Span span{reinterpret_cast<uintptr_t>(p),
              reinterpret_cast<uintptr_t>(p) + size};
    return dl_iterate_phdr(find_read_only, &span) != 0;
}

// The header and the entries of a valid table, end entry included, lie in
// read-only memory, and so do the tables it refers to.
bool tree_read_only(const tlvu_table_t *tbl) {
    const tlvu_field_t *f = fields_of(tbl);
    size_t entries = 1;
    while (!is_end(f[entries - 1])) {
        ++entries;
    }
    if (!read_only(tbl, sizeof *tbl + entries * sizeof *f)) {
        return false;
    }
    for (size_t i = 0; i + 1 < entries; ++i) {
        if (f[i].sub_table != nullptr && !tree_read_only(f[i].sub_table)) {
            return false;
        }
    }
    return true;
}

// The constant descriptors this thread found valid, the oldest replaced
// first.
struct ConstantTables {
    std::array<const tlvu_table_t *, 8> tables{};
    size_t next = 0;
};
thread_local ConstantTables constants;

} // namespace

bool known_constant(const tlvu_table_t *tbl) {
    for (const tlvu_table_t *t : constants.tables) {
        if (t == tbl) {
            return true;
        }
    }
    return false;
}

void remember_if_constant(const tlvu_table_t *tbl) {
    if (tree_read_only(tbl)) {
        constants.tables[constants.next] = tbl;
        constants.next = (constants.next + 1) % constants.tables.size();
    }
}

} // namespace ostrel::tlv
