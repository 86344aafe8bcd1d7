// A daemon client's bounded output queue over its non-blocking socket.
#include "client_link.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>

#include "counted.h"

namespace ostrel::aclsvc {

namespace {

using socket_frame::Head;
using socket_frame::Kind;

// The head of a frame this daemon encoded.
Head head_of(const std::vector<uint8_t> &frame) {
    Head head{};
    std::memcpy(&head, frame.data(), std::min(frame.size(), sizeof head));
    return head;
}

} // namespace

ClientLink::ClientLink(int fd, uint64_t id, const ucred &peer)
    : fd_(fd), id_(id), peer_(peer) {
    stats_.connection = id;
    stats_.pid = static_cast<uint32_t>(peer.pid);
    stats_.uid = peer.uid;
    stats_.gid = peer.gid;
    stats_.flags = tools::kStatsOpen;
}

void ClientLink::count_received(const Head &head) {
    if (head.kind != static_cast<uint32_t>(Kind::Send))
        return;
    stats_.messages++;
    stats_.bytes += head.length;
}

ClientLink::~ClientLink() {
    ::close(fd_);
}

std::string ClientLink::name() const {
    return "client " + std::to_string(id_) + " (pid " +
           std::to_string(peer_.pid) + ", uid " + std::to_string(peer_.uid) +
           ", gid " + std::to_string(peer_.gid) + ")";
}

// Always false, with the reason the client is dropped.
bool ClientLink::full(std::string *reason) const {
    size_t unread = queued_bytes_;
    for (const AnswerPages &a : answers_)
        unread += a.unsent();
    *reason =
        "output queue full (" + tools::counted(unread, "byte") + " unread)";
    return false;
}

bool ClientLink::send(std::vector<uint8_t> frame, std::string *reason) {
    if (queued_bytes_ + frame.size() > kMaxQueuedBytes)
        return full(reason);
    stats_.refusals += head_of(frame).error != 0;
    queued_bytes_ += frame.size();
    queue_.push_back(std::move(frame));
    return flush(reason);
}

bool ClientLink::send_paged(AnswerPages answer, std::string *reason) {
    if (answers_.size() == kMaxWaitingAnswers)
        return full(reason);
    answers_.push_back(std::move(answer));
    return flush(reason);
}

void ClientLink::frame_pages() {
    while (queued_bytes_ < kPageWindow && !answers_.empty()) {
        AnswerPages &answer = answers_.front();
        queue_.push_back(answer.next_page());
        queued_bytes_ += queue_.back().size();
        stats_.pages++;
        if (answer.done())
            answers_.pop_front();
    }
}

bool ClientLink::flush(std::string *reason) {
    for (frame_pages(); !queue_.empty(); frame_pages()) {
        const std::vector<uint8_t> &frame = queue_.front();
        ssize_t n = ::send(fd_, frame.data(), frame.size(),
                           MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            return true; // the poll loop waits for room
        if (n < 0) {
            *reason = std::string("send failed: ") + std::strerror(errno);
            return false;
        }
        queued_bytes_ -= frame.size();
        queue_.pop_front();
    }
    return true;
}

} // namespace ostrel::aclsvc
