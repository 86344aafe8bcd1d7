// --stats: the library's counters at the end of a run, as text or as a
// "stats" event with --json.
#pragma once

namespace ostrel::aclctl::stats {

// Whether the run ends with the counters (off by default); on, the
// library also times its waits.
void set_enabled(bool on);
// Prints the counters through the tap when enabled; nothing otherwise.
void report();

} // namespace ostrel::aclctl::stats
