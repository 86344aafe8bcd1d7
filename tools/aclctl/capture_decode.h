// `aclctl decode`: a captured message (a programming batch or a policy
// update, as --capture writes them) or a pcapng capture written by --pcap,
// every frame with its time, direction, kind and token, each sent message
// decoded. Captures are read and printed one frame at a time.
#pragma once

#include <cstddef>
#include <string>

namespace ostrel::aclctl {

// Largest message read whole: far above any message the library sends.
inline constexpr size_t kMaxMessageFile = 16u << 20;

// Decodes PATH ("-": standard input) on stdout. Returns 0, 1 when the
// input is malformed or a sent message cannot be decoded, 2 when it cannot
// be read (the reason on stderr).
int decode_file(const std::string &path);

} // namespace ostrel::aclctl
