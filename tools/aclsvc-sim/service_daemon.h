// The simulated ACL service daemon: listens on a Unix-domain
// SOCK_SEQPACKET socket, takes the socket transport's Send frames, applies
// each message to its programmed table and replies with a 4-byte status.
// It can refuse the first sends, drop replies and delay them, so that a
// client's retries, drains and timeouts run for real.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "daemon_options.h"
#include "json_writer.h"
#include "service_model.h"
#include "socket_frame.h"

namespace ostrel::aclsvc {

class ServiceDaemon {
  public:
    explicit ServiceDaemon(Options options) : options_(std::move(options)) {}
    ~ServiceDaemon();

    // Binds and listens; 0 or an errno value (with *err set).
    int start(std::string *err);
    // Serves until SIGTERM or SIGINT (blocked by the caller and read from
    // signal_fd); returns the process exit status.
    int run(int signal_fd);

  private:
    using Clock = std::chrono::steady_clock;
    struct Pending {
        int fd;
        Clock::time_point due;
        std::vector<uint8_t> frame;
    };

    void accept_client();
    // false when the client is gone and was closed.
    bool serve_client(int fd);
    void on_send(int fd, const socket_frame::Head &head,
                 const uint8_t *payload);
    void on_query(int fd, const socket_frame::Head &head);
    void send_due_replies();
    int poll_timeout_ms() const;
    void close_client(int fd);
    // Text, or in JSON log format the event on one line; nothing if quiet.
    void log(const std::string &text, const tools::JsonObject &event) const;

    Options options_;
    tools::ServiceModel model_;
    int listen_fd_ = -1;
    std::vector<int> clients_;
    std::vector<Pending> pending_;
    uint32_t sends_refused_ = 0;
    uint32_t replies_dropped_ = 0;
    std::vector<uint8_t> buffer_;
};

} // namespace ostrel::aclsvc
