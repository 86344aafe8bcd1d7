#include "worker/completion_signal.h"

#include <cstdint>
#include <sys/eventfd.h>
#include <unistd.h>

namespace ostrel::worker {

CompletionSignal::CompletionSignal()
    : fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

CompletionSignal::~CompletionSignal() {
    if (fd_ >= 0)
        close(fd_);
}

void CompletionSignal::raise() {
    const uint64_t one = 1;
    // The counter only ever holds 0 or 1: this cannot block or fail.
    (void)!write(fd_, &one, sizeof one);
}

void CompletionSignal::lower() {
    uint64_t count;
    (void)!read(fd_, &count, sizeof count);
}

} // namespace ostrel::worker
