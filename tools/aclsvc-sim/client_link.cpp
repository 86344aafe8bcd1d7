// A daemon client's bounded output queue over its non-blocking socket.
#include "client_link.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

#include "counted.h"

namespace ostrel::aclsvc {

ClientLink::~ClientLink() {
    ::close(fd_);
}

std::string ClientLink::name() const {
    return "client " + std::to_string(id_) + " (pid " +
           std::to_string(peer_.pid) + ", uid " + std::to_string(peer_.uid) +
           ", gid " + std::to_string(peer_.gid) + ")";
}

bool ClientLink::send(std::vector<uint8_t> frame, std::string *reason) {
    if (queued_bytes_ + frame.size() > kMaxQueuedBytes) {
        *reason = "output queue full (" +
                  tools::counted(queued_bytes_, "byte") + " unread)";
        return false;
    }
    queued_bytes_ += frame.size();
    queue_.push_back(std::move(frame));
    return flush(reason);
}

bool ClientLink::flush(std::string *reason) {
    while (!queue_.empty()) {
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
