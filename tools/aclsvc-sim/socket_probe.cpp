// Probing the daemon's socket path: lstat, then a connect attempt on a
// socket file to tell a live listener from a stale file.
#include "socket_probe.h"

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace ostrel::aclsvc {

namespace {

const char *kind_of(mode_t mode) {
    if (S_ISREG(mode))
        return "a regular file";
    if (S_ISDIR(mode))
        return "a directory";
    if (S_ISLNK(mode))
        return "a symbolic link";
    return "not a socket";
}

// True when a listener accepts (or would, but its backlog is full, or it
// listens with another socket type).
bool someone_listens(const std::string &path) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    int fd =
        ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    int r = ::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
    bool live = r == 0 || errno == EAGAIN || errno == EPROTOTYPE;
    ::close(fd);
    return live;
}

} // namespace

PathState probe_socket_path(const std::string &path, std::string *what) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) {
        if (errno == ENOENT)
            return PathState::Free;
        *what = std::strerror(errno);
        return PathState::Unusable;
    }
    if (!S_ISSOCK(st.st_mode)) {
        *what = std::string("is ") + kind_of(st.st_mode) +
                ", not a socket: not replaced";
        return PathState::NotASocket;
    }
    if (someone_listens(path)) {
        *what = "another service is listening there: not taken over";
        return PathState::LiveSocket;
    }
    return PathState::StaleSocket;
}

} // namespace ostrel::aclsvc
