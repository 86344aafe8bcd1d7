// Allocation accounting for the malloc/calloc/free seams: counters, the
// failure script and a fixed open-addressing set of live block addresses.
// Nothing here allocates, so the wrapped allocator can call it freely.
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "sim_state.h"

namespace {

constexpr unsigned kSlotBits = 16;
constexpr size_t kSlots = size_t{1} << kSlotBits; // power of two
constexpr size_t kMask = kSlots - 1;

// Linear probing; 0 marks an empty slot. Deletion shifts later entries of
// the probe run back, so no tombstones are needed.
uintptr_t live_slots[kSlots];
long live_count;
long made;
long fail_at;   // absolute attempt number that fails; 0: none
long fail_from; // absolute attempt number from which all fail; 0: none

size_t home_of(uintptr_t key) {
    uint64_t h = static_cast<uint64_t>(key >> 4) * 0x9e3779b97f4a7c15ull;
    return static_cast<size_t>(h >> (64 - kSlotBits));
}

[[noreturn]] void table_full() {
    static const char text[] =
        "sim: more than 65535 live allocations; raise kSlotBits\n";
    ssize_t ignored = write(2, text, sizeof text - 1);
    (void)ignored;
    abort();
}

} // namespace

namespace ostrel::sim {
namespace detail {

bool allocation_should_fail() {
    ++made;
    return made == fail_at || (fail_from != 0 && made >= fail_from);
}

void track_block(void *block) {
    auto key = reinterpret_cast<uintptr_t>(block);
    if (live_count + 1 >= static_cast<long>(kSlots))
        table_full();
    size_t i = home_of(key);
    while (live_slots[i] != 0) {
        if (live_slots[i] == key)
            return; // already tracked (a block reused after an untracked free)
        i = (i + 1) & kMask;
    }
    live_slots[i] = key;
    ++live_count;
}

void untrack_block(void *block) {
    auto key = reinterpret_cast<uintptr_t>(block);
    size_t i = home_of(key);
    while (live_slots[i] != key) {
        if (live_slots[i] == 0)
            return; // not ours: allocated before reset() or elsewhere
        i = (i + 1) & kMask;
    }
    live_slots[i] = 0;
    --live_count;
    // Close the gap: move back every later entry of the run whose home
    // does not lie cyclically in (gap, j].
    size_t gap = i;
    for (size_t j = (i + 1) & kMask; live_slots[j] != 0; j = (j + 1) & kMask) {
        size_t home = home_of(live_slots[j]);
        bool stays =
            gap <= j ? (gap < home && home <= j) : (gap < home || home <= j);
        if (!stays) {
            live_slots[gap] = live_slots[j];
            live_slots[j] = 0;
            gap = j;
        }
    }
}

void reset_allocations() {
    // The table holds exactly live_count keys: an empty one is clean already
    // (always so in binaries without the seams), and clearing its 512 KiB
    // would evict everything else from the caches.
    if (live_count != 0) {
        std::memset(live_slots, 0, sizeof live_slots);
    }
    live_count = 0;
    made = 0;
    fail_at = 0;
    fail_from = 0;
}

} // namespace detail
} // namespace ostrel::sim

extern "C" {

void ostrel_sim_fail_allocation(long nth) {
    fail_at = nth > 0 ? made + nth : 0;
}

void ostrel_sim_fail_allocations_from(long nth) {
    fail_from = nth > 0 ? made + nth : 0;
}

long ostrel_sim_allocations_made(void) {
    return made;
}

long ostrel_sim_live_allocations(void) {
    return live_count;
}

} // extern "C"
