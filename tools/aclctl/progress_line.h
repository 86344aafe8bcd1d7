// Progress of a long scenario run on one updating line of stderr, as git
// shows it: only when stderr is a terminal and the output is not JSON,
// only once the run has taken more than a second, redrawn at most ten
// times a second, and erased before any other output and at the end.
#pragma once

#include <cstddef>

namespace ostrel::aclctl::progress {

// Turns the line on when stderr is a terminal and json is false. The
// delay before it shows is a second, or ACLCTL_PROGRESS_DELAY_MS
// milliseconds when that is set (the tests set 0).
void start(bool json);
// Lines done of the total, and the messages and bytes sent so far.
void update(size_t done, size_t total, unsigned long long messages,
            unsigned long long bytes);
// Erases the line if it is shown (before other output, and at the end).
void erase();

} // namespace ostrel::aclctl::progress
