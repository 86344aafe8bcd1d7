// The client end of the socket transport: one connected SOCK_SEQPACKET
// socket, frames sent whole, and a bounded wait for a frame of a given kind
// and token. Every call is bounded by the timeout: the socket is used
// without blocking and poll() waits only when a call would block. Replies
// that arrive while waiting for something else are kept for a later
// receive. A malformed frame closes the connection (EPROTO) and marks it
// broken; a frame over the size limit with a well-formed head is skipped
// and only the call waiting for it fails (EMSGSIZE).
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <vector>

#include "socket_frame.h"

namespace ostrel::socket_transport {

struct ReceivedFrame {
    socket_frame::Head head{};
    std::vector<uint8_t> payload;
    bool oversized = false; // payload over the limit, skipped unread
};

// The end of a bounded wait; one deadline may span several steps of a call.
class Deadline {
  public:
    explicit Deadline(int ms)
        : end_(Clock::now() + std::chrono::milliseconds(ms)) {}
    int left_ms() const {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end_ - Clock::now());
        return left.count() > 0 ? static_cast<int>(left.count()) : 0;
    }

  private:
    using Clock = std::chrono::steady_clock;
    Clock::time_point end_;
};

class Connection {
  public:
    ~Connection() { close(); }

    // Connects before the deadline; 0 or an errno value (ETIMEDOUT when the
    // service's backlog stays full).
    int open(const char *path, const Deadline &deadline);
    // Takes over a connected SOCK_SEQPACKET socket (for example one end of
    // a socketpair).
    void adopt(int fd);
    void close();
    bool is_open() const { return fd_ >= 0; }
    // Closed after a malformed frame, until the next open() or adopt().
    bool broken() const { return broken_; }
    void set_timeout_ms(int ms) { timeout_ms_ = ms < 1 ? 1 : ms; }
    // A deadline one timeout from now.
    Deadline deadline() const { return Deadline(timeout_ms_); }

    // Sends one frame before the deadline; 0 or an errno value. ETIMEDOUT
    // means nothing was sent (a frame is sent whole or not at all), and so
    // does ECONNRESET (the service had gone away: the connection is
    // closed).
    int send_frame(const socket_frame::Head &head, const void *payload,
                   uint32_t length, const Deadline &deadline);
    // Waits until the deadline for the frame of `kind` carrying `token` (a
    // Reply already set aside is taken first). 0 with *out filled, or
    // ETIMEDOUT, ECONNRESET (peer gone: the connection is closed), EPROTO
    // (malformed frame: the connection is closed and broken), EMSGSIZE
    // (that frame was over the size limit: the connection stays),
    // ENOTCONN.
    int wait_for(socket_frame::Kind kind, uint32_t token, ReceivedFrame *out,
                 const Deadline &deadline);

  private:
    int wait_ready(short events, const Deadline &deadline);
    int receive_one(const Deadline &deadline, ReceivedFrame *out);
    bool take_set_aside(uint32_t token, ReceivedFrame *out);
    void set_aside(ReceivedFrame frame);

    int fd_ = -1;
    bool broken_ = false;
    int timeout_ms_ = 5000;
    std::deque<ReceivedFrame> set_aside_;
    std::vector<uint8_t> buffer_;
};

} // namespace ostrel::socket_transport
