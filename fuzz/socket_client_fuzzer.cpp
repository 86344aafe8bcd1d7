// Fuzz target for the client end of the socket transport: the messages a
// service sends, queued on the connection before the client reads them.
// Checks that every payload handed out holds its 4-byte status word (the
// copy is exactly sized, so the address sanitizer sees any over-read),
// that errno carries the transport's error, and that no token is given
// out twice. (A refusal may carry any error number, EPROTO and ENOTCONN
// included, so whether the connection was closed is not visible here.)
//
// Then the service restarts: it closes the connection, and the receive of
// the reply to any send of the first connection must fail at once as lost
// (ECONNRESET), never be waited for, before the client connects again and
// after (the new connection waits in the listener's backlog, unanswered).
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

#include "frame_input.h"
#include "ostrelapi/platform/socket_transport.h"

namespace {

using namespace ostrel_fuzz;

constexpr yarl_handle_t kHandle = 5;

// A listening socket of this process, made once: each input's service
// takes the client's first connection; the one made after its restart
// waits in the backlog and is closed by the next input.
class Listener {
  public:
    Listener() {
        char dir[] = "/tmp/ostrel-fuzz-XXXXXX";
        if (::mkdtemp(dir) == nullptr)
            std::abort();
        dir_ = dir;
        path_ = dir_ + "/svc.sock";
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strcpy(addr.sun_path, path_.c_str());
        fd_ =
            ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (::bind(fd_, reinterpret_cast<sockaddr *>(&addr), sizeof addr) !=
                0 ||
            ::listen(fd_, 16) != 0)
            std::abort();
    }
    ~Listener() {
        ::close(fd_);
        ::unlink(path_.c_str());
        ::rmdir(dir_.c_str());
    }
    const char *path() const { return path_.c_str(); }
    // The next waiting connection, or -1.
    int take() const { return ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC); }
    void close_waiting() const {
        for (int fd = take(); fd >= 0; fd = take())
            ::close(fd);
    }

  private:
    std::string dir_;
    std::string path_;
    int fd_ = -1;
};

class Client {
  public:
    void send_and_receive() {
        yarl_msg msg{};
        if (!send(&msg))
            return;
        const uint32_t token = ostrel_socket_yarl_rr_token_get(&msg);
        (void)ostrel_socket_yarl_drop(kHandle, &msg);
        yarl_msg reply{};
        if (receive(token, &reply) != 0)
            return failed();
        const void *payload = ostrel_socket_yarl_payload_get(&reply);
        uint32_t status = 0;
        if (payload != nullptr)
            std::memcpy(&status, payload, sizeof status);
        OSTREL_FUZZ_CHECK(ostrel_socket_yarl_drop(kHandle, &reply) == 0);
    }

    // After the service closed the connection: once the client has read
    // to its end, and again once it connected anew, no reply of the first
    // connection is waited for. A connection broken by a malformed frame
    // is not made again.
    void after_restart() {
        yarl_msg none{};
        if (receive(UINT32_MAX, &none) == 0 || errno != ECONNRESET)
            return; // a reply for that token, or a malformed frame
        replies_lost();
        const uint32_t generation = ostrel_socket_generation(kHandle);
        OSTREL_FUZZ_CHECK(ostrel::socket_transport::reconnect() == 0);
        OSTREL_FUZZ_CHECK(ostrel_socket_generation(kHandle) == generation + 1);
        replies_lost();
    }

  private:
    // True when the service accepted the send (its token is recorded).
    bool send(yarl_msg *msg) {
        yarl_addr dst{0xfe000000u, 190};
        if (ostrel_socket_yarl_send(kHandle, &dst, 4810, "batch", 5, msg, 0,
                                    nullptr) != 0) {
            failed();
            return false;
        }
        const uint32_t token = ostrel_socket_yarl_rr_token_get(msg);
        OSTREL_FUZZ_CHECK(tokens_.empty() || token > tokens_.back());
        tokens_.push_back(token);
        return true;
    }

    void replies_lost() const {
        for (uint32_t token : tokens_) {
            yarl_msg reply{};
            OSTREL_FUZZ_CHECK(receive(token, &reply) != 0);
            OSTREL_FUZZ_CHECK(errno == ECONNRESET);
        }
    }

    static int receive(uint32_t token, yarl_msg *reply) {
        yarl_recv_opts opts{};
        opts.word[3] = token;
        return ostrel_socket_yarl_recv(kHandle, reply, &opts);
    }

    static void failed() {
        const int err = ostrel_socket_yarl_errno_get(kHandle);
        OSTREL_FUZZ_CHECK(err != 0 && errno == err);
    }

    std::vector<uint32_t> tokens_; // of the accepted sends, in order
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const Listener listener;
    listener.close_waiting();
    ostrel_socket_transport_set_timeout_ms(1);
    if (ostrel_socket_transport_connect(listener.path()) != 0)
        return 0;
    const int service = listener.take();
    if (service < 0) {
        ostrel_socket_transport_disconnect();
        return 0;
    }
    for (const Block &m : split_messages(data, size))
        if (::send(service, m.data(), m.size(), MSG_DONTWAIT | MSG_NOSIGNAL) <
            0)
            break;
    // Every queued message is read, then the service is gone: no wait.
    ::shutdown(service, SHUT_WR);
    Client client;
    for (int i = 0; i < 4; ++i)
        client.send_and_receive();
    std::vector<uint8_t> answer;
    (void)ostrel::socket_transport::query(1, &answer);
    ::close(service); // the restart
    client.after_restart();
    ostrel_socket_transport_disconnect();
    return 0;
}
