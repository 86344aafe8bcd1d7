// `aclctl send`: a raw message straight onto the socket transport, past
// the library and the tap.
#include "raw_send.h"

#include <cstdio>
#include <cstring>

#include "daemon_connect.h"
#include "ostrelapi/platform/socket_transport.h"
#include "status_names.h"
#include "yarl.h"

namespace ostrel::aclctl {

namespace {

constexpr yarl_handle_t kHandle = 1;

int receive_status(const yarl_msg *sent) {
    yarl_recv_opts opts{};
    opts.word[0] = 1;
    opts.word[2] = 20;
    opts.word[3] =
        ostrel_socket_yarl_rr_token_get(const_cast<yarl_msg *>(sent));
    yarl_msg reply{};
    if (ostrel_socket_yarl_recv(kHandle, &reply, &opts) == -1) {
        std::printf("receive failed: %s\n",
                    std::strerror(ostrel_socket_yarl_errno_get(kHandle)));
        return 1;
    }
    const void *payload = ostrel_socket_yarl_payload_get(&reply);
    uint32_t word = 0;
    if (payload != nullptr)
        std::memcpy(&word, payload, sizeof word);
    if (payload != nullptr)
        std::printf("reply token %u: status %s\n", opts.word[3],
                    tools::status_text(word).c_str());
    else
        std::printf("reply token %u: no payload\n", opts.word[3]);
    (void)ostrel_socket_yarl_drop(kHandle, &reply);
    return payload != nullptr && word == 0 ? 0 : 1;
}

} // namespace

int send_raw(const std::string &socket_path, const std::vector<uint8_t> &bytes,
             uint32_t timeout_ms) {
    ostrel_socket_transport_set_timeout_ms(static_cast<int>(timeout_ms));
    if (!connect_daemon(socket_path, 0))
        return 2;
    yarl_addr dst{OSTREL_ACL_SERVICE_NODE, OSTREL_ACL_SERVICE_PORT};
    yarl_send_opts opts{};
    opts.word[0] = 1;
    yarl_msg msg{};
    int status = 1;
    if (ostrel_socket_yarl_send(kHandle, &dst, OSTREL_ACL_OPCODE, bytes.data(),
                                static_cast<uint32_t>(bytes.size()), &msg, 0,
                                &opts) != 0) {
        std::printf("send refused: %s\n",
                    std::strerror(ostrel_socket_yarl_errno_get(kHandle)));
    } else {
        std::printf("sent %zu bytes, reply token %u\n", bytes.size(),
                    ostrel_socket_yarl_rr_token_get(&msg));
        status = receive_status(&msg);
        (void)ostrel_socket_yarl_drop(kHandle, &msg);
    }
    ostrel_socket_transport_disconnect();
    return status;
}

} // namespace ostrel::aclctl
