// `aclctl decode` of a pcapng capture written by --pcap: every frame with
// its time, direction, kind and token, each sent message decoded.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ostrel::aclctl {

// Prints the frames on stdout. Returns 0, or 1 when the file is malformed
// or a sent message cannot be decoded (the reason on stderr).
int decode_capture(const std::string &path, const std::vector<uint8_t> &bytes);

} // namespace ostrel::aclctl
