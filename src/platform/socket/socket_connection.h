// The client end of the socket transport: one connected SOCK_SEQPACKET
// socket, frames sent whole, and a bounded wait for a frame of a given kind
// and token. Replies that arrive while waiting for something else are kept
// for a later receive.
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

    // 0 or an errno value.
    int open(const char *path);
    void close();
    bool is_open() const { return fd_ >= 0; }
    void set_timeout_ms(int ms) { timeout_ms_ = ms < 1 ? 1 : ms; }

    // Sends one frame; 0 or an errno value.
    int send_frame(const socket_frame::Head &head, const void *payload,
                   uint32_t length);
    // Waits at most the timeout for the frame of `kind` carrying `token`
    // (a Reply already set aside is taken first). 0 with *out filled, or
    // ETIMEDOUT, ECONNRESET (peer gone), EPROTO (malformed frame), ENOTCONN.
    int wait_for(socket_frame::Kind kind, uint32_t token, ReceivedFrame *out);

  private:
    int receive_one(int wait_ms, ReceivedFrame *out);
    bool take_set_aside(uint32_t token, ReceivedFrame *out);
    void set_aside(ReceivedFrame frame);

    int fd_ = -1;
    int timeout_ms_ = 5000;
    std::deque<ReceivedFrame> set_aside_;
    std::vector<uint8_t> buffer_;
};

} // namespace ostrel::socket_transport
