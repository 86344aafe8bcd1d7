// The simulated ACL service daemon: listens on a Unix-domain
// SOCK_SEQPACKET socket, takes the socket transport's Send frames, applies
// each message to its programmed table and replies with a 4-byte status.
// It can refuse the first sends, drop replies and delay them, so that a
// client's retries, drains and timeouts run for real.
//
// One poll loop serves every client without blocking: each client has a
// bounded output queue (ClientLink), and a client that lets it overflow,
// sends a malformed frame or is not an allowed peer is closed with the
// reason logged. A frame over the size limit with a well-formed head is
// refused with an error frame and the client stays.
//
// A restart (after the --restart-after'th accepted send has been answered,
// or on SIGHUP) forgets the table and closes every connection, as a
// service that restarts would; the daemon keeps listening.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "client_link.h"
#include "daemon_options.h"
#include "event_log.h"
#include "frame_capture.h"
#include "service_session.h"

namespace ostrel::aclsvc {

class ServiceDaemon {
  public:
    explicit ServiceDaemon(Options options)
        : options_(std::move(options)), log_(options_),
          session_(options_, log_) {}
    ~ServiceDaemon();

    // Probes the path, binds, sets the socket file's mode and group, and
    // listens; 0 or an errno value (with *err set).
    int start(std::string *err);
    // Serves until SIGTERM or SIGINT, restarting on SIGHUP (all three
    // blocked by the caller and read from signal_fd); returns the process
    // exit status.
    int run(int signal_fd);

  private:
    struct Delayed {
        uint64_t client;
        Outgoing out;
    };

    int bind_socket(std::string *err);
    int set_owner_and_mode(std::string *err) const;
    void accept_clients();
    void refuse(int fd, const ucred &peer) const;
    void read_client(ClientLink &client);
    void handle_frame(ClientLink &client, size_t size);
    void answer_stats(ClientLink &asker, uint32_t token);
    void forget(const ClientLink &client);
    void refuse_oversized(ClientLink &client, size_t total);
    bool stop_requested(int signal_fd);
    void restart(const char *why);
    void deliver(ClientLink &client, std::vector<Outgoing> out);
    void send_due();
    bool is_dropped(uint64_t client) const;
    void drop(ClientLink &client, const std::string &reason);
    void remove_dropped();
    int poll_timeout_ms() const;

    Options options_;
    EventLog log_;
    ServiceSession session_;
    FrameCapture capture_;
    int listen_fd_ = -1;
    uint64_t next_client_ = 1;
    std::vector<std::unique_ptr<ClientLink>> clients_;
    std::deque<tools::ConnectionStats> closed_; // the last ones, newest last
    std::vector<uint64_t> dropped_;
    std::vector<Delayed> delayed_;
    std::vector<uint8_t> buffer_;
    const char *restart_due_ = nullptr; // why, once a restart is due
};

} // namespace ostrel::aclsvc
