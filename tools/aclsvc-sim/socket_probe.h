// What is at the daemon's socket path before it binds there: nothing, a
// stale socket of an earlier run (replaced), a live listener (another
// daemon: never taken over), or something that is not a socket.
#pragma once

#include <string>

namespace ostrel::aclsvc {

enum class PathState {
    Free,        // nothing there
    StaleSocket, // a socket file nobody listens on
    LiveSocket,  // a listener answers
    NotASocket,  // a regular file, a directory, ...
    Unusable,    // cannot be examined
};

// Examines path; *what describes anything but Free and StaleSocket.
PathState probe_socket_path(const std::string &path, std::string *what);

} // namespace ostrel::aclsvc
