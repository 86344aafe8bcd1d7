// Command line of aclsvc-sim.
#pragma once

#include <cstdint>
#include <string>

#include "peer_policy.h"

namespace ostrel::aclsvc {

// --restart-at STAGE:N: a restart in the middle of an exchange, where a
// client is waiting for the service's answer.
struct RestartPoint {
    enum class Stage {
        None,
        Send,  // the Nth Send arrives: restart before accepting it
        Reply, // the Nth accepted send: restart after its Accept, before
               // its Reply
        Query, // the Nth Query arrives: restart before answering it
    };
    Stage stage = Stage::None;
    uint32_t nth = 0;
    std::string text; // "send:N", as given
};

struct Options {
    std::string socket_path;
    uint32_t fail_sends = 0;    // refuse the first N sends
    uint32_t fail_errno = 11;   // error number of a refused send (EAGAIN)
    uint32_t drop_replies = 0;  // accept the next N sends but never reply
    uint32_t delay_ms = 0;      // wait this long before each reply
    uint32_t restart_after = 0; // restart once, after the Nth accepted send
    RestartPoint restart_at;    // restart once, within an exchange
    int ready_fd = -1;          // written "ready\n" and closed once listening
    bool quiet = false;         // no decoded messages on stdout
    bool version = false;       // print the version, start nothing
    std::string pcap_path;      // every frame written there as pcapng
    bool json_log = false;      // --log-format json: JSON Lines on stdout
    int mode = -1;              // socket file mode; -1: 0600, 0660 with group
    std::string group;          // group owning the socket file
    PeerPolicy peers;           // who may connect
};

// Fills *out from argv; false with *err set on a bad command line.
bool parse_options(int argc, char **argv, Options *out, std::string *err);

} // namespace ostrel::aclsvc
