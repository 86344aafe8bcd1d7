// Client end of the socket transport: connect, send a frame, wait for a
// frame, each bounded by the timeout so that a silent, stuck or dead
// service is an error and never a hang.
#include "socket_connection.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>
#include <utility>

namespace ostrel::socket_transport {

using socket_frame::Head;
using socket_frame::Kind;

namespace {

// Replies nobody waited for are kept up to this many, oldest dropped first.
constexpr size_t kMaxSetAside = 64;

// A blocking connect on a Unix-domain socket waits for room in the
// listener's backlog at most the send timeout.
void bound_connect_wait(int fd, int timeout_ms) {
    timeval tv{};
    tv.tv_sec = timeout_ms / 1000;
    tv.tv_usec = (timeout_ms % 1000) * 1000;
    (void)::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

int connect_unix(const char *path, int timeout_ms, int *fd_out) {
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
    bound_connect_wait(fd, timeout_ms);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        int err = errno == EAGAIN ? ETIMEDOUT : errno;
        ::close(fd);
        return err;
    }
    *fd_out = fd;
    return 0;
}

// Malformed bytes, or a frame a service never sends.
bool from_service(const Head &head) {
    return head.kind == static_cast<uint32_t>(Kind::Accept) ||
           head.kind == static_cast<uint32_t>(Kind::Reply) ||
           head.kind == static_cast<uint32_t>(Kind::Answer);
}

} // namespace

int Connection::open(const char *path, const Deadline &deadline) {
    close();
    broken_ = false;
    // Tried even when the deadline has passed: a listener with room in its
    // backlog takes the connection at once.
    return connect_unix(path, std::max(deadline.left_ms(), 1), &fd_);
}

void Connection::adopt(int fd) {
    close();
    broken_ = false;
    fd_ = fd;
}

void Connection::close() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    set_aside_.clear();
}

// 0 when the socket is ready for `events` (or poll was interrupted: the
// caller tries again), ETIMEDOUT when the deadline passed first.
int Connection::wait_ready(short events, const Deadline &deadline) {
    int left = deadline.left_ms();
    if (left == 0)
        return ETIMEDOUT;
    pollfd pfd{fd_, events, 0};
    int ready = ::poll(&pfd, 1, left);
    if (ready < 0)
        return errno == EINTR ? 0 : errno;
    return ready == 0 ? ETIMEDOUT : 0;
}

int Connection::send_frame(const Head &head, const void *payload,
                           uint32_t length, const Deadline &deadline) {
    if (fd_ < 0)
        return ENOTCONN;
    if (length > socket_frame::kMaxPayload)
        return EMSGSIZE;
    std::vector<uint8_t> bytes = socket_frame::encode(head, payload, length);
    for (;;) {
        ssize_t n = ::send(fd_, bytes.data(), bytes.size(),
                           MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n >= 0)
            return static_cast<size_t>(n) == bytes.size() ? 0 : EMSGSIZE;
        if (errno == EPIPE || errno == ECONNRESET) { // the peer closed
            close();
            return ECONNRESET;
        }
        if (errno != EAGAIN && errno != EINTR)
            return errno;
        int err = errno == EAGAIN ? wait_ready(POLLOUT, deadline) : 0;
        if (err != 0)
            return err;
    }
}

// Waits until the deadline for one frame. 0 (a frame over the size limit
// with a well-formed head is marked oversized), ETIMEDOUT, ECONNRESET or
// EPROTO.
int Connection::receive_one(const Deadline &deadline, ReceivedFrame *out) {
    buffer_.resize(socket_frame::kMaxFrame);
    ssize_t n = -1;
    for (;;) {
        n = ::recv(fd_, buffer_.data(), buffer_.size(),
                   MSG_DONTWAIT | MSG_TRUNC);
        if (n >= 0)
            break;
        if (errno != EAGAIN && errno != EINTR)
            return errno;
        int err = errno == EAGAIN ? wait_ready(POLLIN, deadline) : 0;
        if (err != 0)
            return err;
    }
    if (n == 0)
        return ECONNRESET;
    const size_t size = static_cast<size_t>(n);
    if (size > buffer_.size()) { // the kernel dropped what did not fit
        out->oversized = true;
        const bool refusable = socket_frame::decode_oversized(
            buffer_.data(), buffer_.size(), size, &out->head);
        return refusable && from_service(out->head) ? 0 : EPROTO;
    }
    const uint8_t *payload = nullptr;
    if (!socket_frame::decode(buffer_.data(), size, &out->head, &payload) ||
        !from_service(out->head))
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

int Connection::wait_for(Kind kind, uint32_t token, ReceivedFrame *out,
                         const Deadline &deadline) {
    if (fd_ < 0)
        return ENOTCONN;
    if (kind == Kind::Reply && take_set_aside(token, out))
        return out->oversized ? EMSGSIZE : 0;
    for (;;) {
        ReceivedFrame frame;
        int err = receive_one(deadline, &frame);
        if (err == EPROTO || err == ECONNRESET) {
            close();
            broken_ = err == EPROTO;
        }
        if (err != 0)
            return err;
        if (frame.head.kind == static_cast<uint32_t>(kind) &&
            frame.head.token == token) {
            *out = std::move(frame);
            return out->oversized ? EMSGSIZE : 0;
        }
        if (frame.head.kind == static_cast<uint32_t>(Kind::Reply))
            set_aside(std::move(frame));
    }
}

} // namespace ostrel::socket_transport
