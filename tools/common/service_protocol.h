// What the simulated ACL service answers, shared by the daemon and the
// scenario runner's embedded service.
#pragma once

#include <cstdint>
#include <string>
#include <sys/un.h>

namespace ostrel::tools {

// First (and only) word of a reply's 4-byte status payload.
inline constexpr uint32_t kReplyOk = 0;
// The message under opcode 4810 is neither a valid batch nor a valid
// policy update request; nothing of it was applied.
inline constexpr uint32_t kReplyMalformed = 0xE0000001u;
// The message came under another opcode.
inline constexpr uint32_t kReplyUnknownOpcode = 0xE0000002u;

// Query opcode (outside the message stream): the programmed table as text.
inline constexpr uint32_t kQueryTable = 1;
// The same table as a JSON array of {"source":..,"request":{...}}.
inline constexpr uint32_t kQueryTableJson = 2;
// The table in numbers (table_summary.h: summary_answer).
inline constexpr uint32_t kQueryTableSummary = 3;

// Query opcode: the daemon's counters of each connection, the open ones
// then the last closed ones, as ConnectionStats records one after another
// (host byte order: client and daemon share the machine).
inline constexpr uint32_t kQueryConnectionStats = 4;

struct ConnectionStats {
    uint64_t connection; // the daemon's number for it, counted from 1
    uint32_t pid;        // the peer's credentials
    uint32_t uid;
    uint32_t gid;
    uint32_t flags;    // kStatsOpen, kStatsAsker
    uint64_t messages; // Send frames received
    uint64_t bytes;    // the payload bytes of those
    uint64_t refusals; // sends and queries refused with an error number
    uint64_t pages;    // Answer frames (pages of answers) sent
};
static_assert(sizeof(ConnectionStats) == 56, "no padding");
inline constexpr uint32_t kStatsOpen = 0x1;  // still connected
inline constexpr uint32_t kStatsAsker = 0x2; // the connection that asked

// Longest socket path a Unix-domain address holds (its NUL excluded).
inline constexpr size_t kMaxSocketPath = sizeof(sockaddr_un::sun_path) - 1;

// Empty when PATH fits a Unix-domain address, else what is wrong.
inline std::string socket_path_problem(const std::string &path) {
    if (path.size() <= kMaxSocketPath)
        return "";
    return "socket path too long: " + std::to_string(path.size()) +
           " bytes, the limit is " + std::to_string(kMaxSocketPath);
}

} // namespace ostrel::tools
