// Connecting to aclsvc-sim, and telling a wrong path from a daemon that is
// not there yet.
#include "daemon_connect.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <thread>

#include "ostrelapi/platform/socket_transport.h"

namespace ostrel::aclctl {

namespace {

const char *file_kind(mode_t mode) {
    if (S_ISREG(mode))
        return "a regular file";
    if (S_ISDIR(mode))
        return "a directory";
    if (S_ISFIFO(mode))
        return "a FIFO";
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return "a device";
    return "something else";
}

} // namespace

std::string not_a_socket(const std::string &path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || S_ISSOCK(st.st_mode))
        return "";
    return path + " is " + file_kind(st.st_mode) + ", not a socket";
}

bool connect_daemon(const std::string &path, uint32_t wait_ms) {
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
        int err = ostrel_socket_transport_connect(path.c_str());
        if (err == 0)
            return true;
        std::string why = not_a_socket(path);
        auto waited = std::chrono::steady_clock::now() - start;
        if (!why.empty() || (err != ENOENT && err != ECONNREFUSED) ||
            waited >= std::chrono::milliseconds(wait_ms)) {
            if (why.empty())
                why = "cannot connect to " + path + ": " + std::strerror(err);
            std::fprintf(stderr, "aclctl: %s\n", why.c_str());
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

} // namespace ostrel::aclctl
