// One client of the daemon: its non-blocking socket, who it is (the peer's
// credentials), and the frames waiting to be sent to it. The queue is
// bounded: a client that stops reading fills it and is then dropped, so it
// can never stall the daemon or its other clients. Answers to queries wait
// beside the queue and are framed page by page whenever the queue runs
// low, so a large answer flows at the pace the client reads it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <sys/socket.h>
#include <vector>

#include "answer_pages.h"
#include "service_protocol.h"

namespace ostrel::aclsvc {

class ClientLink {
  public:
    // Bytes a client may leave unread before it is dropped: four frames of
    // the largest size.
    static constexpr size_t kMaxQueuedBytes = 1u << 20;
    // Answer pages are framed while fewer bytes than this are queued.
    static constexpr size_t kPageWindow = 4 * socket_frame::kPageSize;
    // Answers a client may leave waiting (it asks one query at a time).
    static constexpr size_t kMaxWaitingAnswers = 16;

    ClientLink(int fd, uint64_t id, const ucred &peer);
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
    // Queues an answer to be sent page by page; false as send() when
    // kMaxWaitingAnswers answers already wait.
    bool send_paged(AnswerPages answer, std::string *reason);
    // Sends queued frames (and answer pages) until the socket would
    // block; false as send().
    bool flush(std::string *reason);
    bool wants_write() const { return !queue_.empty() || !answers_.empty(); }

    // Counts a well-formed frame received from the client (messages and
    // their bytes); refusals and answer pages are counted as they are sent.
    void count_received(const socket_frame::Head &head);
    const tools::ConnectionStats &stats() const { return stats_; }

  private:
    void frame_pages();
    bool full(std::string *reason) const;

    int fd_;
    uint64_t id_;
    ucred peer_;
    std::deque<std::vector<uint8_t>> queue_;
    size_t queued_bytes_ = 0;
    std::deque<AnswerPages> answers_;
    tools::ConnectionStats stats_{};
};

} // namespace ostrel::aclsvc
