// The simulated ACL service daemon's socket handling and poll loop.
#include "service_daemon.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <grp.h>
#include <poll.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "counted.h"
#include "service_protocol.h"
#include "socket_probe.h"

namespace ostrel::aclsvc {

namespace {

using tools::JsonObject;

// Closed connections whose counters a stats query still shows.
constexpr size_t kClosedKept = 16;

// Messages read from one client per round of the loop, so that a client
// that writes without pause cannot starve the others.
constexpr int kReadsPerRound = 16;

int fail(std::string *err, const std::string &text, int code) {
    *err = text;
    return code;
}

} // namespace

ServiceDaemon::~ServiceDaemon() {
    clients_.clear();
    if (listen_fd_ >= 0) {
        ::close(listen_fd_);
        (void)::unlink(options_.socket_path.c_str());
    }
}

int ServiceDaemon::start(std::string *err) {
    std::string what;
    switch (probe_socket_path(options_.socket_path, &what)) {
    case PathState::Free:
        break;
    case PathState::StaleSocket:
        (void)::unlink(options_.socket_path.c_str());
        break;
    case PathState::LiveSocket:
        return fail(err, options_.socket_path + ": " + what, EADDRINUSE);
    case PathState::NotASocket:
        return fail(err, options_.socket_path + " " + what, EEXIST);
    case PathState::Unusable:
        return fail(err, options_.socket_path + ": " + what, EACCES);
    }
    int e = bind_socket(err);
    if (e == 0)
        e = set_owner_and_mode(err);
    if (e != 0)
        return e;
    if (!options_.pcap_path.empty() && !capture_.open(options_.pcap_path, err))
        return EIO;
    log_("aclsvc-sim: listening on " + options_.socket_path + "\n",
         JsonObject()
             .add("event", "listening")
             .add("socket", options_.socket_path));
    return 0;
}

int ServiceDaemon::bind_socket(std::string *err) {
    sockaddr_un addr{};
    if (options_.socket_path.size() >= sizeof addr.sun_path)
        return fail(err, "socket path too long", ENAMETOOLONG);
    addr.sun_family = AF_UNIX;
    std::strcpy(addr.sun_path, options_.socket_path.c_str());
    int fd =
        ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return fail(err, std::string("socket: ") + std::strerror(errno), errno);
    if (::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        int e = errno;
        ::close(fd);
        return fail(err, options_.socket_path + ": " + std::strerror(e), e);
    }
    listen_fd_ = fd; // from here on the destructor removes the file
    if (::listen(fd, 64) != 0)
        return fail(err, std::string("listen: ") + std::strerror(errno), errno);
    return 0;
}

// The socket file gets --mode (default 0600, or 0660 with --group) and
// --group, whatever the umask.
int ServiceDaemon::set_owner_and_mode(std::string *err) const {
    const char *path = options_.socket_path.c_str();
    if (!options_.group.empty()) {
        const group *g = ::getgrnam(options_.group.c_str());
        if (g == nullptr)
            return fail(err, "unknown group '" + options_.group + "'", EINVAL);
        if (::chown(path, static_cast<uid_t>(-1), g->gr_gid) != 0)
            return fail(err,
                        "chown " + options_.socket_path + ": " +
                            std::strerror(errno),
                        errno);
    }
    int mode = options_.mode >= 0 ? options_.mode
                                  : (options_.group.empty() ? 0600 : 0660);
    if (::chmod(path, static_cast<mode_t>(mode)) != 0)
        return fail(
            err, "chmod " + options_.socket_path + ": " + std::strerror(errno),
            errno);
    return 0;
}

void ServiceDaemon::accept_clients() {
    for (;;) {
        int fd = ::accept4(listen_fd_, nullptr, nullptr,
                           SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0)
            return;
        ucred peer{};
        socklen_t len = sizeof peer;
        if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &len) != 0 ||
            !options_.peers.allows(peer)) {
            refuse(fd, peer);
            continue;
        }
        int buf = static_cast<int>(2 * socket_frame::kMaxFrame);
        (void)::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &buf, sizeof buf);
        (void)::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &buf, sizeof buf);
        clients_.push_back(
            std::make_unique<ClientLink>(fd, next_client_++, peer));
    }
}

// Refusals are logged even with --quiet: they are about access.
void ServiceDaemon::refuse(int fd, const ucred &peer) const {
    log_("aclsvc-sim: refused a peer (pid " + std::to_string(peer.pid) +
             ", uid " + std::to_string(peer.uid) + ", gid " +
             std::to_string(peer.gid) + "): not an allowed uid or gid\n",
         JsonObject()
             .add("event", "peer_refused")
             .add("pid", static_cast<int>(peer.pid))
             .add("uid", peer.uid)
             .add("gid", peer.gid),
         EventLog::Show::Always);
    ::close(fd);
}

void ServiceDaemon::read_client(ClientLink &client) {
    buffer_.resize(socket_frame::kMaxFrame);
    // Nothing more is read once a restart is due: it comes first.
    for (int i = 0; i < kReadsPerRound && restart_due_ == nullptr; ++i) {
        ssize_t n = ::recv(client.fd(), buffer_.data(), buffer_.size(),
                           MSG_DONTWAIT | MSG_TRUNC);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            return;
        if (n <= 0)
            return drop(client, ""); // gone: nothing to report
        if (static_cast<size_t>(n) > buffer_.size()) {
            refuse_oversized(client, static_cast<size_t>(n));
        } else {
            handle_frame(client, static_cast<size_t>(n));
        }
        if (is_dropped(client.id()))
            return;
    }
}

// A frame of `size` bytes in buffer_: a stats query is answered here (the
// daemon knows its connections), every other frame by the session.
void ServiceDaemon::handle_frame(ClientLink &client, size_t size) {
    socket_frame::Head head{};
    const uint8_t *payload = nullptr;
    std::vector<Outgoing> out;
    const bool well_formed =
        socket_frame::decode(buffer_.data(), size, &head, &payload);
    const bool stats_query =
        well_formed &&
        head.kind == static_cast<uint32_t>(socket_frame::Kind::Query) &&
        head.opcode == tools::kQueryConnectionStats;
    if (!stats_query && !session_.handle(buffer_.data(), size, &out))
        return drop(client,
                    "malformed frame of " + tools::counted(size, "byte"));
    capture_.received(buffer_.data(), size);
    client.count_received(head);
    if (stats_query)
        return answer_stats(client, head.token);
    deliver(client, std::move(out));
}

// The counters of the open connections, the asker's marked, then of the
// last closed ones.
void ServiceDaemon::answer_stats(ClientLink &asker, uint32_t token) {
    std::string body;
    auto append = [&body](const tools::ConnectionStats &s) {
        body.append(reinterpret_cast<const char *>(&s), sizeof s);
    };
    for (const auto &c : clients_) {
        tools::ConnectionStats s = c->stats();
        s.flags |= c.get() == &asker ? tools::kStatsAsker : 0;
        append(s);
    }
    for (const tools::ConnectionStats &s : closed_)
        append(s);
    std::vector<Outgoing> out;
    out.push_back(
        {{},
         Clock::now(),
         AnswerPages(socket_frame::make_head(socket_frame::Kind::Answer, token),
                     std::move(body))});
    deliver(asker, std::move(out));
}

// Keeps the counters of a connection being closed.
void ServiceDaemon::forget(const ClientLink &client) {
    if (closed_.size() == kClosedKept)
        closed_.pop_front();
    closed_.push_back(client.stats());
    closed_.back().flags &= ~tools::kStatsOpen;
}

// The kernel kept only the first buffer_.size() bytes of the frame and
// dropped the rest: the session goes on when the head can be answered.
void ServiceDaemon::refuse_oversized(ClientLink &client, size_t total) {
    socket_frame::Head head;
    std::vector<Outgoing> out;
    if (!socket_frame::decode_oversized(buffer_.data(), buffer_.size(), total,
                                        &head) ||
        !session_.refuse_oversized(head, total, &out))
        return drop(client,
                    "malformed frame of " + tools::counted(total, "byte"));
    deliver(client, std::move(out));
}

void ServiceDaemon::deliver(ClientLink &client, std::vector<Outgoing> out) {
    const auto now = Clock::now();
    for (Outgoing &o : out) {
        if (o.due > now) {
            delayed_.push_back({client.id(), std::move(o)});
            continue;
        }
        if (o.restart != nullptr)
            restart_due_ = o.restart;
        if (o.frame.empty() && !o.answer)
            continue; // a restart instead of an answer
        std::string reason;
        if (!o.answer)
            capture_.sent(o.frame);
        bool ok = o.answer ? client.send_paged(std::move(*o.answer), &reason)
                           : client.send(std::move(o.frame), &reason);
        if (!ok)
            return drop(client, reason);
    }
}

void ServiceDaemon::send_due() {
    const auto now = Clock::now();
    auto due = [now](const Delayed &d) { return d.out.due <= now; };
    std::vector<Delayed> ready;
    for (Delayed &d : delayed_)
        if (due(d))
            ready.push_back(std::move(d));
    delayed_.erase(std::remove_if(delayed_.begin(), delayed_.end(), due),
                   delayed_.end());
    for (Delayed &d : ready) {
        for (auto &c : clients_) {
            if (c->id() == d.client) {
                std::vector<Outgoing> one;
                d.out.due = now;
                one.push_back(std::move(d.out));
                deliver(*c, std::move(one));
            }
        }
    }
}

bool ServiceDaemon::is_dropped(uint64_t client) const {
    return std::count(dropped_.begin(), dropped_.end(), client) != 0;
}

void ServiceDaemon::drop(ClientLink &client, const std::string &reason) {
    if (is_dropped(client.id()))
        return;
    if (!reason.empty())
        log_("aclsvc-sim: dropped " + client.name() + ": " + reason + "\n",
             JsonObject()
                 .add("event", "client_dropped")
                 .add("client", client.name())
                 .add("reason", reason),
             EventLog::Show::Always);
    dropped_.push_back(client.id());
}

void ServiceDaemon::remove_dropped() {
    for (const auto &c : clients_)
        if (is_dropped(c->id()))
            forget(*c);
    auto gone = [this](const std::unique_ptr<ClientLink> &c) {
        return is_dropped(c->id());
    };
    clients_.erase(std::remove_if(clients_.begin(), clients_.end(), gone),
                   clients_.end());
    auto orphan = [this](const Delayed &d) { return is_dropped(d.client); };
    delayed_.erase(std::remove_if(delayed_.begin(), delayed_.end(), orphan),
                   delayed_.end());
    dropped_.clear();
}

int ServiceDaemon::poll_timeout_ms() const {
    if (delayed_.empty())
        return -1;
    auto next = std::min_element(delayed_.begin(), delayed_.end(),
                                 [](const Delayed &a, const Delayed &b) {
                                     return a.out.due < b.out.due;
                                 });
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    next->out.due - Clock::now())
                    .count();
    return left < 0 ? 0 : static_cast<int>(left) + 1;
}

int ServiceDaemon::run(int signal_fd) {
    for (;;) {
        std::vector<pollfd> fds{{signal_fd, POLLIN, 0},
                                {listen_fd_, POLLIN, 0}};
        for (const auto &c : clients_)
            fds.push_back(
                {c->fd(),
                 static_cast<short>(POLLIN | (c->wants_write() ? POLLOUT : 0)),
                 0});
        int ready = ::poll(fds.data(), fds.size(), poll_timeout_ms());
        if (ready < 0 && errno != EINTR)
            return 1;
        if ((fds[0].revents & POLLIN) && stop_requested(signal_fd)) {
            log_("aclsvc-sim: stopping\n",
                 JsonObject().add("event", "stopping"));
            return 0;
        }
        // Clients accepted now are polled from the next round on.
        const size_t polled = clients_.size();
        for (size_t i = 0; i < polled; ++i) {
            ClientLink &c = *clients_[i];
            std::string reason;
            short ev = fds[i + 2].revents;
            if ((ev & POLLOUT) && !c.flush(&reason))
                drop(c, reason);
            if ((ev & (POLLIN | POLLHUP | POLLERR)) && !is_dropped(c.id()))
                read_client(c);
        }
        if (fds[1].revents & POLLIN)
            accept_clients();
        send_due();
        remove_dropped();
        if (restart_due_ != nullptr)
            restart(restart_due_);
    }
}

// Reads the pending signal: true for SIGTERM or SIGINT; SIGHUP makes a
// restart due.
bool ServiceDaemon::stop_requested(int signal_fd) {
    signalfd_siginfo info{};
    if (::read(signal_fd, &info, sizeof info) != sizeof info)
        return false;
    if (info.ssi_signo != SIGHUP)
        return true;
    restart_due_ = "SIGHUP";
    return false;
}

// What is queued is sent as far as the sockets take it now (the answer
// to the last send included), then every connection is closed.
void ServiceDaemon::restart(const char *why) {
    const size_t closed = clients_.size();
    for (auto &c : clients_) {
        std::string ignored;
        (void)c->flush(&ignored);
        forget(*c);
    }
    clients_.clear();
    delayed_.clear();
    session_.restart();
    restart_due_ = nullptr;
    log_("aclsvc-sim: restart (" + std::string(why) +
             "): table forgotten, connections closed: " +
             std::to_string(closed) + "\n",
         JsonObject()
             .add("event", "restart")
             .add("cause", why)
             .add("connections_closed", static_cast<uint64_t>(closed)));
}

} // namespace ostrel::aclsvc
