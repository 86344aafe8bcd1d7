// One client of the daemon: its non-blocking socket, who it is (the peer's
// credentials), and the frames waiting to be sent to it. The queue is
// bounded: a client that stops reading fills it and is then dropped, so it
// can never stall the daemon or its other clients.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <sys/socket.h>
#include <vector>

namespace ostrel::aclsvc {

class ClientLink {
  public:
    // Bytes a client may leave unread before it is dropped: four frames of
    // the largest size.
    static constexpr size_t kMaxQueuedBytes = 1u << 20;

    ClientLink(int fd, uint64_t id, const ucred &peer)
        : fd_(fd), id_(id), peer_(peer) {}
    ~ClientLink();
    ClientLink(const ClientLink &) = delete;
    ClientLink &operator=(const ClientLink &) = delete;

    int fd() const { return fd_; }
    uint64_t id() const { return id_; }
    // "client 3 (pid 12, uid 1000, gid 1000)"
    std::string name() const;

    // Queues a frame and sends what the socket takes now. False (with
    // *reason set) when the client must be dropped: its queue would pass
    // kMaxQueuedBytes, or its socket failed.
    bool send(std::vector<uint8_t> frame, std::string *reason);
    // Sends queued frames until the socket would block; false as send().
    bool flush(std::string *reason);
    bool wants_write() const { return !queue_.empty(); }
    size_t queued_bytes() const { return queued_bytes_; }

  private:
    int fd_;
    uint64_t id_;
    ucred peer_;
    std::deque<std::vector<uint8_t>> queue_;
    size_t queued_bytes_ = 0;
};

} // namespace ostrel::aclsvc
