#include "peer_process.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "socket_frame.h"

namespace e2e {
namespace {

// Reads one line from fd: true when it is "ready".
bool read_ready(int fd) {
    char text[8] = {};
    size_t got = 0;
    while (got < 6) {
        const ssize_t n = read(fd, text + got, 6 - got);
        if (n <= 0) {
            return false;
        }
        got += static_cast<size_t>(n);
    }
    return std::string(text, 6) == "ready\n";
}

[[noreturn]] void echo_loop(int fd, uint32_t first, uint32_t second) {
    std::vector<uint8_t> in(512 * 1024), a(first, 0), b(second, 0);
    for (;;) {
        if (recv(fd, in.data(), in.size(), 0) <= 0 ||
            send(fd, a.data(), a.size(), 0) < 0 ||
            send(fd, b.data(), b.size(), 0) < 0) {
            _exit(0);
        }
    }
}

} // namespace

PeerProcess::~PeerProcess() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
}

bool PeerProcess::start_daemon(const std::string &daemon,
                               const std::string &path,
                               const std::vector<std::string> &options) {
    int ready[2];
    if (pipe(ready) != 0) {
        return false;
    }
    pid_ = fork();
    if (pid_ == 0) {
        close(ready[0]);
        const std::string fd = std::to_string(ready[1]);
        std::vector<const char *> argv{daemon.c_str(), "--quiet",
                                       "--socket",     path.c_str(),
                                       "--ready-fd",   fd.c_str()};
        for (const std::string &option : options)
            argv.push_back(option.c_str());
        argv.push_back(nullptr);
        execv(daemon.c_str(), const_cast<char *const *>(argv.data()));
        _exit(127);
    }
    close(ready[1]);
    const bool ok = pid_ > 0 && read_ready(ready[0]);
    close(ready[0]);
    return ok;
}

int PeerProcess::start_echo(uint32_t first, uint32_t second) {
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET, 0, fds) != 0) {
        return -1;
    }
    pid_ = fork();
    if (pid_ == 0) {
        close(fds[0]);
        echo_loop(fds[1], first, second);
    }
    close(fds[1]);
    return pid_ > 0 ? fds[0] : -1;
}

namespace {
namespace frame = ostrel::socket_frame;
constexpr uint32_t kAcceptSize = sizeof(frame::Head);
constexpr uint32_t kReplySize = sizeof(frame::Head) + 4;
} // namespace

RawClient::~RawClient() {
    if (fd_ >= 0) {
        close(fd_); // the peer ends at end of file
    }
}

bool RawClient::start() {
    out_.assign(frame::kMaxFrame, 0x5a);
    in_.assign(kReplySize, 0);
    fd_ = peer_.start_echo(kAcceptSize, kReplySize);
    return fd_ >= 0;
}

bool RawClient::exchange(const std::vector<uint32_t> &lengths) {
    bool ok = true;
    for (const uint32_t length : lengths) {
        ok &= send(fd_, out_.data(), sizeof(frame::Head) + length, 0) > 0;
        ok &= recv(fd_, in_.data(), in_.size(), 0) == kAcceptSize;
        ok &= recv(fd_, in_.data(), in_.size(), 0) == kReplySize;
    }
    return ok;
}

std::string temporary_socket_path() {
    const char *dir = std::getenv("TMPDIR");
    return std::string(dir != nullptr ? dir : "/tmp") + "/ostrel-e2e-" +
           std::to_string(getpid()) + ".sock";
}

} // namespace e2e
