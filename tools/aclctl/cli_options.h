// The command line of aclctl: what each option sets, and the checks made
// before anything runs.
#pragma once

#include <cstdint>
#include <string>

namespace ostrel::aclctl {

struct Options {
    std::string socket_path;
    uint32_t timeout_ms = 5000;
    uint32_t wait_for_socket_ms = 0; // retry the connect this long
    bool fast_retry = false;
    bool keep_going = false;
    uint32_t fail_sends = 0;
    uint32_t fail_errno = 11;
    std::string capture_dir;
    std::string pcap_path;
    bool quiet = false;
    bool json = false;
    bool brief = false;
    bool resync_on_reconnect = false;
    bool stats = false;         // the library's counters at the end
    bool worker = false;        // changes through libostrelapi-worker
    bool version = false;       // print the version and run nothing
    std::string scenario;       // or the file of `decode` and `send`
    bool service_stats = false; // `service-stats`: no file, a daemon
};

// Fills *o from argv (argv[0] is skipped); false with *err set to the
// message for the user.
bool parse_args(int argc, char **argv, Options *o, std::string *err);

} // namespace ostrel::aclctl
