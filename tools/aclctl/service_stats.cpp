// `aclctl service-stats`: the daemon's counters of each connection (the
// open ones, the one asking among them, then the last closed ones).
#include "service_stats.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "counted.h"
#include "daemon_connect.h"
#include "json_writer.h"
#include "ostrelapi/platform/socket_transport.h"
#include "service_protocol.h"

namespace ostrel::aclctl {

namespace {

using tools::ConnectionStats;

std::string state_of(const ConnectionStats &s) {
    if (s.flags & tools::kStatsAsker)
        return "this one";
    return s.flags & tools::kStatsOpen ? "open" : "closed";
}

// "connection 2 (pid 7, uid 0, gid 0), closed: 12 messages, 6560 bytes,
// 2 refusals, 1 page"
std::string text_of(const ConnectionStats &s) {
    using tools::counted;
    return "connection " + std::to_string(s.connection) + " (pid " +
           std::to_string(s.pid) + ", uid " + std::to_string(s.uid) + ", gid " +
           std::to_string(s.gid) + "), " + state_of(s) + ": " +
           counted(s.messages, "message") + ", " + counted(s.bytes, "byte") +
           ", " + counted(s.refusals, "refusal") + ", " +
           counted(s.pages, "page") + "\n";
}

std::string json_of(const ConnectionStats &s) {
    return tools::JsonObject()
               .add("event", "connection_stats")
               .add("connection", s.connection)
               .add("pid", s.pid)
               .add("uid", s.uid)
               .add("gid", s.gid)
               .add("open", (s.flags & tools::kStatsOpen) != 0)
               .add("asker", (s.flags & tools::kStatsAsker) != 0)
               .add("messages", s.messages)
               .add("bytes", s.bytes)
               .add("refusals", s.refusals)
               .add("pages", s.pages)
               .str() +
           "\n";
}

int fail(const std::string &why) {
    std::fprintf(stderr, "aclctl: service-stats: %s\n", why.c_str());
    return 2;
}

} // namespace

int show_service_stats(const Options &o) {
    ostrel_socket_transport_set_timeout_ms(static_cast<int>(o.timeout_ms));
    if (!connect_daemon(o.socket_path, o.wait_for_socket_ms))
        return 2;
    std::vector<uint8_t> answer;
    const int err =
        socket_transport::query(tools::kQueryConnectionStats, &answer);
    ostrel_socket_transport_disconnect();
    if (err != 0)
        return fail(std::strerror(err));
    // The asker is always among the records: none at all is a service
    // that keeps no counters.
    if (answer.empty() || answer.size() % sizeof(ConnectionStats) != 0)
        return fail("the service's answer (" +
                    tools::counted(answer.size(), "byte") +
                    ") is not connection counters");
    for (size_t at = 0; at < answer.size(); at += sizeof(ConnectionStats)) {
        ConnectionStats s;
        std::memcpy(&s, answer.data() + at, sizeof s);
        std::fputs(o.json ? json_of(s).c_str() : text_of(s).c_str(), stdout);
    }
    return 0;
}

} // namespace ostrel::aclctl
