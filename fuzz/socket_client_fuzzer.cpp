// Fuzz target for the client end of the socket transport: the messages a
// service sends, queued on a socketpair before the client reads them.
// Checks that every payload handed out holds its 4-byte status word (the
// copy is exactly sized, so the address sanitizer sees any over-read),
// that errno carries the transport's error, and that no token is given
// out twice. (A refusal may carry any error number, EPROTO and ENOTCONN
// included, so whether the connection was closed is not visible here.)
#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

#include "frame_input.h"
#include "ostrelapi/platform/socket_transport.h"

namespace {

using namespace ostrel_fuzz;

constexpr yarl_handle_t kHandle = 5;

class Client {
  public:
    void send_and_receive() {
        yarl_addr dst{0xfe000000u, 190};
        yarl_msg msg{};
        if (ostrel_socket_yarl_send(kHandle, &dst, 4810, "batch", 5, &msg, 0,
                                    nullptr) != 0)
            return failed();
        const uint32_t token = ostrel_socket_yarl_rr_token_get(&msg);
        OSTREL_FUZZ_CHECK(token > last_token_);
        last_token_ = token;
        (void)ostrel_socket_yarl_drop(kHandle, &msg);
        yarl_recv_opts opts{};
        opts.word[3] = token;
        yarl_msg reply{};
        if (ostrel_socket_yarl_recv(kHandle, &reply, &opts) != 0)
            return failed();
        const void *payload = ostrel_socket_yarl_payload_get(&reply);
        uint32_t status = 0;
        if (payload != nullptr)
            std::memcpy(&status, payload, sizeof status);
        OSTREL_FUZZ_CHECK(ostrel_socket_yarl_drop(kHandle, &reply) == 0);
    }

    void failed() {
        const int err = ostrel_socket_yarl_errno_get(kHandle);
        OSTREL_FUZZ_CHECK(err != 0 && errno == err);
    }

  private:
    uint32_t last_token_ = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    int sv[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, sv) != 0)
        return 0;
    for (const Block &m : split_messages(data, size))
        if (send(sv[1], m.data(), m.size(), MSG_DONTWAIT | MSG_NOSIGNAL) < 0)
            break;
    // Every queued message is read, then the service is gone: no wait.
    shutdown(sv[1], SHUT_WR);
    ostrel::socket_transport::adopt_connection(sv[0]);
    ostrel_socket_transport_set_timeout_ms(1);
    Client client;
    for (int i = 0; i < 4; ++i)
        client.send_and_receive();
    std::vector<uint8_t> answer;
    (void)ostrel::socket_transport::query(1, &answer);
    ostrel_socket_transport_disconnect();
    close(sv[1]);
    return 0;
}
