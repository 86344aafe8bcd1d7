// The simulated ACL service daemon's socket handling and poll loop.
#include "service_daemon.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "service_protocol.h"
#include "status_names.h"
#include "wire_json.h"
#include "yarl.h"

namespace ostrel::aclsvc {

namespace {

using socket_frame::Head;
using socket_frame::Kind;
using tools::JsonObject;

void send_bytes(int fd, const std::vector<uint8_t> &bytes) {
    // A client that went away is noticed by its next read.
    (void)::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
}

// A stale socket file of an earlier run is removed; anything else at the
// path is left alone (bind then fails with EADDRINUSE).
void remove_stale_socket(const char *path) {
    struct stat st;
    if (::lstat(path, &st) == 0 && S_ISSOCK(st.st_mode))
        (void)::unlink(path);
}

} // namespace

ServiceDaemon::~ServiceDaemon() {
    for (int fd : clients_)
        ::close(fd);
    if (listen_fd_ >= 0) {
        ::close(listen_fd_);
        (void)::unlink(options_.socket_path.c_str());
    }
}

int ServiceDaemon::start(std::string *err) {
    sockaddr_un addr{};
    if (options_.socket_path.size() >= sizeof addr.sun_path) {
        *err = "socket path too long";
        return ENAMETOOLONG;
    }
    addr.sun_family = AF_UNIX;
    std::strcpy(addr.sun_path, options_.socket_path.c_str());
    int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *err = std::string("socket: ") + std::strerror(errno);
        return errno;
    }
    remove_stale_socket(addr.sun_path);
    if (::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 ||
        ::listen(fd, 8) != 0) {
        int e = errno;
        *err = options_.socket_path + ": " + std::strerror(e);
        ::close(fd);
        return e;
    }
    listen_fd_ = fd;
    log("aclsvc-sim: listening on " + options_.socket_path + "\n",
        JsonObject()
            .add("event", "listening")
            .add("socket", options_.socket_path));
    return 0;
}

void ServiceDaemon::log(const std::string &text,
                        const JsonObject &event) const {
    if (options_.quiet)
        return;
    std::string line = options_.json_log ? event.str() + "\n" : text;
    std::fputs(line.c_str(), stdout);
    std::fflush(stdout);
}

void ServiceDaemon::accept_client() {
    int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0)
        return;
    int buf = static_cast<int>(2 * socket_frame::kMaxFrame);
    (void)::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &buf, sizeof buf);
    (void)::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &buf, sizeof buf);
    clients_.push_back(fd);
}

void ServiceDaemon::close_client(int fd) {
    ::close(fd);
    clients_.erase(std::remove(clients_.begin(), clients_.end(), fd),
                   clients_.end());
    pending_.erase(
        std::remove_if(pending_.begin(), pending_.end(),
                       [fd](const Pending &p) { return p.fd == fd; }),
        pending_.end());
}

bool ServiceDaemon::serve_client(int fd) {
    buffer_.resize(socket_frame::kMaxFrame + 1);
    ssize_t n = ::recv(fd, buffer_.data(), buffer_.size(), 0);
    if (n < 0 && errno == EINTR)
        return true;
    if (n <= 0) {
        close_client(fd);
        return false;
    }
    Head head;
    const uint8_t *payload = nullptr;
    if (!socket_frame::decode(buffer_.data(), static_cast<size_t>(n), &head,
                              &payload)) {
        log("ignored a malformed frame of " + std::to_string(n) + " bytes\n",
            JsonObject().add("event", "malformed_frame").add("length", n));
        return true;
    }
    if (head.kind == static_cast<uint32_t>(Kind::Send))
        on_send(fd, head, payload);
    else if (head.kind == static_cast<uint32_t>(Kind::Query))
        on_query(fd, head);
    return true;
}

void ServiceDaemon::on_send(int fd, const Head &head, const uint8_t *payload) {
    Head accept = socket_frame::make_head(Kind::Accept, head.token);
    if (sends_refused_ < options_.fail_sends) {
        ++sends_refused_;
        accept.error = static_cast<int32_t>(options_.fail_errno);
        send_bytes(fd, socket_frame::encode(accept, nullptr, 0));
        log("token " + std::to_string(head.token) + ": send refused (errno " +
                std::to_string(options_.fail_errno) + ")\n",
            JsonObject()
                .add("event", "send_refused")
                .add("token", head.token)
                .add("errno", options_.fail_errno));
        return;
    }
    std::string text;
    // The model reads the message from an aligned copy of its own.
    std::vector<uint8_t> message(payload, payload + head.length);
    uint32_t status =
        model_.handle(head.opcode, message.data(), message.size(), &text);
    send_bytes(fd, socket_frame::encode(accept, nullptr, 0));
    JsonObject received;
    received.add("event", "receive").add("token", head.token);
    received.add("opcode", head.opcode).add("length", head.length);
    if (head.opcode == OSTREL_ACL_OPCODE)
        received.raw("message",
                     tools::message_json(message.data(), message.size()));
    log("token " + std::to_string(head.token) + ", opcode " +
            std::to_string(head.opcode) + ": " + text,
        received);
    if (replies_dropped_ < options_.drop_replies) {
        ++replies_dropped_;
        log("token " + std::to_string(head.token) + ": reply dropped\n",
            JsonObject()
                .add("event", "reply_dropped")
                .add("token", head.token));
        return;
    }
    Head reply = socket_frame::make_head(Kind::Reply, head.token);
    reply.flags = socket_frame::kHasPayload;
    auto due = Clock::now() + std::chrono::milliseconds(options_.delay_ms);
    pending_.push_back(
        {fd, due, socket_frame::encode(reply, &status, sizeof status)});
    log("token " + std::to_string(head.token) + ": reply " +
            tools::status_text(status) + "\n",
        JsonObject()
            .add("event", "reply")
            .add("token", head.token)
            .add("status", status)
            .add("name", tools::status_name(status))
            .add("delay_ms", options_.delay_ms));
}

void ServiceDaemon::on_query(int fd, const Head &head) {
    std::string answer;
    if (head.opcode == tools::kQueryTable)
        answer = model_.table();
    else if (head.opcode == tools::kQueryTableJson)
        answer = model_.table_json();
    Head h = socket_frame::make_head(Kind::Answer, head.token);
    h.flags = socket_frame::kHasPayload;
    send_bytes(fd, socket_frame::encode(h, answer.data(),
                                        static_cast<uint32_t>(answer.size())));
}

void ServiceDaemon::send_due_replies() {
    auto now = Clock::now();
    auto due = [now](const Pending &p) { return p.due <= now; };
    for (const Pending &p : pending_)
        if (due(p))
            send_bytes(p.fd, p.frame);
    pending_.erase(std::remove_if(pending_.begin(), pending_.end(), due),
                   pending_.end());
}

int ServiceDaemon::poll_timeout_ms() const {
    if (pending_.empty())
        return -1;
    auto next = std::min_element(
        pending_.begin(), pending_.end(),
        [](const Pending &a, const Pending &b) { return a.due < b.due; });
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    next->due - Clock::now())
                    .count();
    return left < 0 ? 0 : static_cast<int>(left) + 1;
}

int ServiceDaemon::run(int signal_fd) {
    for (;;) {
        std::vector<pollfd> fds{{signal_fd, POLLIN, 0},
                                {listen_fd_, POLLIN, 0}};
        for (int fd : clients_)
            fds.push_back({fd, POLLIN, 0});
        int ready = ::poll(fds.data(), fds.size(), poll_timeout_ms());
        if (ready < 0 && errno != EINTR)
            return 1;
        if (fds[0].revents & POLLIN) {
            log("aclsvc-sim: stopping\n",
                JsonObject().add("event", "stopping"));
            return 0;
        }
        if (fds[1].revents & POLLIN)
            accept_client();
        for (size_t i = 2; i < fds.size(); ++i)
            if (fds[i].revents & (POLLIN | POLLHUP | POLLERR))
                (void)serve_client(fds[i].fd);
        send_due_replies();
    }
}

} // namespace ostrel::aclsvc
