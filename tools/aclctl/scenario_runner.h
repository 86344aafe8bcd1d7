// Runs a parsed scenario through the library's public API, printing each
// command, what it sent and received (through the transport tap), its
// status, and the programmed table where asked.
#pragma once

#include <vector>

#include "scenario.h"

namespace ostrel::aclctl {

// Runs every command in order. Returns 0 when every library call returned
// status 0, else 1 (the remaining commands still run).
int run_scenario(const std::vector<Command> &commands);

} // namespace ostrel::aclctl
