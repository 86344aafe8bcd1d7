// Runs a parsed scenario through the library's public API, printing each
// command, what it sent and received (through the transport tap), its
// status, and the programmed table where asked.
#pragma once

#include <vector>

#include "scenario.h"

namespace ostrel::aclctl {

// Runs every command in order. Returns 0 when every library call returned
// status 0, else 1 (the remaining commands still run). When the socket
// transport reports the service gone, stops after that command with a
// message naming its line and returns 2, unless keep_going. With
// resync_on_reconnect, the registry is sent again (ostrel_api_resync)
// before the next command whenever the socket transport connected again;
// a call that lost the connection (the service restarted during a send, a
// drain or a table query) makes it connect again at once, a drain's reply
// lost that way is not a failure, and a `show` asks again for the table
// once the resync brought it back.
int run_scenario(const std::vector<Command> &commands, bool keep_going,
                 bool resync_on_reconnect);

} // namespace ostrel::aclctl
