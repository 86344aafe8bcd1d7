// `aclctl service-stats`: what aclsvc-sim counted for each connection.
#pragma once

#include "cli_options.h"

namespace ostrel::aclctl {

// Asks the daemon at o.socket_path for its connection counters and prints
// one line (or, with --json, one event) per connection. 0, or 2 when the
// daemon cannot be reached or its answer is not whole records.
int show_service_stats(const Options &o);

} // namespace ostrel::aclctl
