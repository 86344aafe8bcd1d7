// `aclctl send`: one raw message (for example a captured or damaged batch)
// to an aclsvc-sim daemon, and its reply status.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ostrel::aclctl {

// Sends bytes under opcode 4810 to the daemon at socket_path and waits for
// the reply. Returns 0 when the reply status is 0, 1 for another status or
// a failed send or receive, 2 when the daemon cannot be reached.
int send_raw(const std::string &socket_path, const std::vector<uint8_t> &bytes,
             uint32_t timeout_ms);

} // namespace ostrel::aclctl
