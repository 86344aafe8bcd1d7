// Connecting aclctl's socket transport to an aclsvc-sim daemon.
#pragma once

#include <cstdint>
#include <string>

namespace ostrel::aclctl {

// What PATH is when something other than a socket is there ("PATH is a
// regular file, not a socket"); empty for a socket or nothing at all.
std::string not_a_socket(const std::string &path);

// Connects to the daemon at PATH, retrying for up to wait_ms while its
// socket does not exist yet or nobody listens on it yet; a path that holds
// something else stops it at once. True, or false with the reason printed.
bool connect_daemon(const std::string &path, uint32_t wait_ms);

} // namespace ostrel::aclctl
