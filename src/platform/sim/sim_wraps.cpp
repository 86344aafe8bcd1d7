// The seams a test binary links in with -Wl,--wrap=usleep,--wrap=perror,
// --wrap=malloc,--wrap=calloc,--wrap=free: retry sleeps return at once and
// are recorded, perror text is recorded instead of printed, and every
// malloc/calloc is counted, may be made to fail and is tracked until freed;
// malloc'd blocks come filled with a nonzero byte.
// Kept apart from the rest of the simulated platform so that binaries
// linked without the wraps never need the __real_ symbols.
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <unistd.h>
#include <utility>

#include "sim_state.h"

namespace {
constexpr int kFreshMallocByte = 0xA5;
} // namespace

extern "C" {

void *__real_malloc(size_t size);
void *__real_calloc(size_t count, size_t size);
void __real_free(void *block);

void *__wrap_malloc(size_t size);
void *__wrap_calloc(size_t count, size_t size);
void __wrap_free(void *block);
int __wrap_usleep(useconds_t microseconds);
void __wrap_perror(const char *text);

void *__wrap_malloc(size_t size) {
    if (ostrel::sim::detail::allocation_should_fail()) {
        errno = ENOMEM;
        return nullptr;
    }
    void *block = __real_malloc(size);
    if (block != nullptr) {
        ostrel::sim::detail::track_block(block);
        // Never zero, never what a freed block held: a byte read before it
        // is written shows up in the results.
        std::memset(block, kFreshMallocByte, size);
    }
    return block;
}

void *__wrap_calloc(size_t count, size_t size) {
    if (ostrel::sim::detail::allocation_should_fail()) {
        errno = ENOMEM;
        return nullptr;
    }
    void *block = __real_calloc(count, size);
    if (block != nullptr)
        ostrel::sim::detail::track_block(block);
    return block;
}

void __wrap_free(void *block) {
    if (block != nullptr)
        ostrel::sim::detail::untrack_block(block);
    __real_free(block);
}

int __wrap_usleep(useconds_t microseconds) {
    ostrel::sim::Call call =
        ostrel::sim::detail::new_call(ostrel::sim::Op::Sleep);
    call.arg = static_cast<uint32_t>(microseconds);
    ostrel::sim::detail::record(std::move(call));
    return 0;
}

void __wrap_perror(const char *text) {
    const int error = errno; // what the line would name
    ostrel::sim::Call call =
        ostrel::sim::detail::new_call(ostrel::sim::Op::Perror);
    call.text = text != nullptr ? text : "";
    call.arg = static_cast<uint32_t>(error);
    ostrel::sim::detail::record(std::move(call));
}

} // extern "C"
