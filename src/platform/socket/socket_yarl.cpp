// yarl.h's transport and heartbeat functions, carried over the socket
// transport. Linked into programs that talk to a service process instead
// of the in-process simulated platform.
#include "socket_yarl.h"

#include "ostrelapi/platform/socket_transport.h"
#include "yarl.h"

namespace ostrel::socket_transport {
namespace {
SendObserver send_observer = nullptr;
} // namespace

void observe_sends(SendObserver observer) {
    send_observer = observer;
}

} // namespace ostrel::socket_transport

extern "C" {

int yarl_send(yarl_handle_t handle, yarl_addr *dst, uint32_t opcode,
              const void *payload, uint32_t length, yarl_msg *msg,
              uint32_t zero, yarl_send_opts *opts) {
    using ostrel::socket_transport::send_observer;
    if (send_observer != nullptr) {
        send_observer(length);
    }
    return ostrel_socket_yarl_send(handle, dst, opcode, payload, length, msg,
                                   zero, opts);
}

int yarl_errno_get(yarl_handle_t handle) {
    return ostrel_socket_yarl_errno_get(handle);
}

uint32_t yarl_rr_token_get(yarl_msg *msg) {
    return ostrel_socket_yarl_rr_token_get(msg);
}

int yarl_drop(yarl_handle_t handle, yarl_msg *msg) {
    return ostrel_socket_yarl_drop(handle, msg);
}

int yarl_recv(yarl_handle_t handle, yarl_msg *record, yarl_recv_opts *opts) {
    return ostrel_socket_yarl_recv(handle, record, opts);
}

void *yarl_payload_get(yarl_msg *record) {
    return ostrel_socket_yarl_payload_get(record);
}

int heartbeat_update_and_send(uint32_t arg) {
    return ostrel_socket_heartbeat_update_and_send(arg);
}

} // extern "C"
