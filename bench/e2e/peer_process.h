// The other process of the end-to-end benchmarks: the aclsvc-sim daemon
// started on a temporary socket, or a raw SOCK_SEQPACKET echo peer that
// answers every message with two messages of given sizes.
#pragma once

#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

namespace e2e {

// A child process, stopped (SIGTERM, then reaped) when destroyed.
class PeerProcess {
  public:
    PeerProcess() = default;
    ~PeerProcess();
    PeerProcess(const PeerProcess &) = delete;
    PeerProcess &operator=(const PeerProcess &) = delete;

    // Runs `daemon --quiet --socket <path>` with the extra options and
    // waits for it to listen.
    bool start_daemon(const std::string &daemon, const std::string &path,
                      const std::vector<std::string> &options = {});
    // Forks a peer on one end of a socketpair that reads each message and
    // answers it with a message of `first` bytes and one of `second`
    // bytes; returns the other end (or -1). The peer ends at end of file.
    int start_echo(uint32_t first, uint32_t second);

  private:
    pid_t pid_ = -1;
};

// The raw floor of the daemon's exchange: a client on one end of a
// SOCK_SEQPACKET socketpair whose peer answers every message as the daemon
// answers a Send, with an Accept (a frame head) and a Reply (a frame head
// and the 4-byte status).
class RawClient {
  public:
    RawClient() = default;
    ~RawClient();
    RawClient(const RawClient &) = delete;
    RawClient &operator=(const RawClient &) = delete;

    // Starts the peer; false when it cannot.
    bool start();
    // Sends one message per length (a frame head and that many payload
    // bytes) and waits for both answers before the next one. False when a
    // send or receive fails or an answer has another size.
    bool exchange(const std::vector<uint32_t> &lengths);

  private:
    PeerProcess peer_;
    int fd_ = -1;
    std::vector<uint8_t> out_, in_;
};

// A fresh socket path in the temporary directory.
std::string temporary_socket_path();

} // namespace e2e
