// The client end of the socket transport: one connected SOCK_SEQPACKET
// socket, frames sent whole, and a bounded wait for a frame of a given kind
// and token. Every call is bounded by the timeout: the socket is used
// without blocking and poll() waits only when a call would block. Replies
// that arrive while waiting for something else are kept for a later
// receive. A malformed frame closes the connection (EPROTO).
#pragma once

#include <cstdint>
#include <deque>
#include <vector>

#include "socket_frame.h"

namespace ostrel::socket_transport {

struct ReceivedFrame {
    socket_frame::Head head{};
    std::vector<uint8_t> payload;
};

class Connection {
  public:
    ~Connection() { close(); }

    // Connects within the timeout; 0 or an errno value (ETIMEDOUT when the
    // service's backlog stays full).
    int open(const char *path);
    // Takes over a connected SOCK_SEQPACKET socket (for example one end of
    // a socketpair).
    void adopt(int fd);
    void close();
    bool is_open() const { return fd_ >= 0; }
    void set_timeout_ms(int ms) { timeout_ms_ = ms < 1 ? 1 : ms; }

    // Sends one frame within the timeout; 0 or an errno value. ETIMEDOUT
    // means nothing was sent (a frame is sent whole or not at all).
    int send_frame(const socket_frame::Head &head, const void *payload,
                   uint32_t length);
    // Waits at most the timeout for the frame of `kind` carrying `token`
    // (a Reply already set aside is taken first). 0 with *out filled, or
    // ETIMEDOUT, ECONNRESET (peer gone), EPROTO (malformed frame: the
    // connection is closed), ENOTCONN.
    int wait_for(socket_frame::Kind kind, uint32_t token, ReceivedFrame *out);

  private:
    class Deadline;
    int wait_ready(short events, const Deadline &deadline);
    int receive_one(const Deadline &deadline, ReceivedFrame *out);
    bool take_set_aside(uint32_t token, ReceivedFrame *out);
    void set_aside(ReceivedFrame frame);

    int fd_ = -1;
    int timeout_ms_ = 5000;
    std::deque<ReceivedFrame> set_aside_;
    std::vector<uint8_t> buffer_;
};

} // namespace ostrel::socket_transport
