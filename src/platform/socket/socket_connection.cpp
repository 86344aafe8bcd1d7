// Client end of the socket transport: connect, send a frame, wait for a
// frame with a bounded poll so that a silent or dead service is an error.
#include "socket_connection.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <utility>

namespace ostrel::socket_transport {

namespace {

using socket_frame::Head;
using socket_frame::Kind;

// Replies nobody waited for are kept up to this many, oldest dropped first.
constexpr size_t kMaxSetAside = 64;

int connect_unix(const char *path, int *fd_out) {
    sockaddr_un addr{};
    if (path == nullptr || std::strlen(path) >= sizeof addr.sun_path)
        return ENAMETOOLONG;
    addr.sun_family = AF_UNIX;
    std::strcpy(addr.sun_path, path);
    int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return errno;
    int buf = static_cast<int>(2 * socket_frame::kMaxFrame);
    (void)::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &buf, sizeof buf);
    (void)::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &buf, sizeof buf);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        int err = errno;
        ::close(fd);
        return err;
    }
    *fd_out = fd;
    return 0;
}

} // namespace

int Connection::open(const char *path) {
    close();
    return connect_unix(path, &fd_);
}

void Connection::close() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    set_aside_.clear();
}

int Connection::send_frame(const Head &head, const void *payload,
                           uint32_t length) {
    if (fd_ < 0)
        return ENOTCONN;
    if (length > socket_frame::kMaxPayload)
        return EMSGSIZE;
    std::vector<uint8_t> bytes = socket_frame::encode(head, payload, length);
    ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n < 0)
        return errno == EPIPE ? ECONNRESET : errno;
    return static_cast<size_t>(n) == bytes.size() ? 0 : EMSGSIZE;
}

// Waits up to wait_ms for one frame. 0, ETIMEDOUT, ECONNRESET or EPROTO.
int Connection::receive_one(int wait_ms, ReceivedFrame *out) {
    pollfd pfd{fd_, POLLIN, 0};
    int ready = ::poll(&pfd, 1, wait_ms);
    if (ready < 0)
        return errno == EINTR ? 0 : errno;
    if (ready == 0)
        return ETIMEDOUT;
    buffer_.resize(socket_frame::kMaxFrame + 1);
    ssize_t n = ::recv(fd_, buffer_.data(), buffer_.size(), 0);
    if (n < 0)
        return errno == EINTR ? 0 : errno;
    if (n == 0)
        return ECONNRESET;
    const uint8_t *payload = nullptr;
    if (!socket_frame::decode(buffer_.data(), static_cast<size_t>(n),
                              &out->head, &payload))
        return EPROTO;
    out->payload.assign(payload, payload + out->head.length);
    return 0;
}

bool Connection::take_set_aside(uint32_t token, ReceivedFrame *out) {
    for (auto it = set_aside_.begin(); it != set_aside_.end(); ++it) {
        if (it->head.token == token) {
            *out = std::move(*it);
            set_aside_.erase(it);
            return true;
        }
    }
    return false;
}

void Connection::set_aside(ReceivedFrame frame) {
    if (set_aside_.size() == kMaxSetAside)
        set_aside_.pop_front();
    set_aside_.push_back(std::move(frame));
}

int Connection::wait_for(Kind kind, uint32_t token, ReceivedFrame *out) {
    if (fd_ < 0)
        return ENOTCONN;
    if (kind == Kind::Reply && take_set_aside(token, out))
        return 0;
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms_);
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        deadline - Clock::now())
                        .count();
        if (left <= 0)
            return ETIMEDOUT;
        ReceivedFrame frame;
        frame.head.magic = 0;
        int err = receive_one(static_cast<int>(left), &frame);
        if (err != 0)
            return err;
        if (frame.head.magic == 0)
            continue; // interrupted, nothing read
        if (frame.head.kind == static_cast<uint32_t>(kind) &&
            frame.head.token == token) {
            *out = std::move(frame);
            return 0;
        }
        if (frame.head.kind == static_cast<uint32_t>(Kind::Reply))
            set_aside(std::move(frame));
    }
}

} // namespace ostrel::socket_transport
