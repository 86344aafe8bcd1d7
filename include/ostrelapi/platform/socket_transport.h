// Message transport over a Unix-domain SOCK_SEQPACKET socket to a service
// process (for example the aclsvc-sim daemon). The yarl_* functions of
// yarl.h are provided on top of the ostrel_socket_yarl_* functions below by
// the ostrel_socket_transport library; a program that needs to pick its
// transport at run time calls the ostrel_socket_yarl_* functions directly.
//
// One connection per process, set up with ostrel_socket_transport_connect.
// Connecting, sending and receiving are each bounded by the timeout. A send
// waits for the service to accept or refuse it; a receive waits for the
// reply with its token. A service that does not answer in time is a
// failure with ETIMEDOUT, a service that went away one with ECONNRESET (or,
// when connecting again finds nobody listening, ECONNREFUSED or ENOENT), a
// malformed frame one with EPROTO (and the connection is closed: later
// calls fail with ENOTCONN until the program connects again). A Reply with
// a payload of fewer than 4 bytes is malformed, so a received payload
// always holds its status word. A frame over the size limit is refused
// without losing the connection: the call waiting for it fails with
// EMSGSIZE. The error number is read with yarl_errno_get and is also left
// in errno.
//
// Reconnecting: when the service went away (it closed the connection, for
// example to restart), the next send connects again to the same path
// within that send's timeout, so the library's retries carry a call across
// a service restart. Replies not yet received are lost with the old
// connection: a receive of one fails at once with ECONNRESET, on the new
// connection as before it is made. ostrel_socket_generation tells a client
// that this happened.
//
// Tokens: a send the service refused keeps its token for the next send;
// any other outcome (accepted, timed out, connection lost or broken after
// the frame went out) may have reached the service, and the token is never
// given out again until the program connects again (a reconnect keeps
// counting).
#pragma once

#include <stdint.h>

#include "ostrelapi.h"

#ifdef __cplusplus
#include <vector>
extern "C" {
#endif

/** Connects to the service listening at path (replacing any earlier
 *  connection). Returns 0 or an errno value. */
int ostrel_socket_transport_connect(const char *path);
/** Closes the connection and forgets replies not yet received and the
 *  path: no later send connects again. */
void ostrel_socket_transport_disconnect(void);
/** The connection generation: how many connections this process's
 *  transport has made, 0 before the first. It goes up by one at every
 *  successful connect, made by ostrel_socket_transport_connect or by a
 *  send that connected again after the service went away. A caller that
 *  reads a larger value than before a call knows that the service may
 *  have restarted and forgotten what it was sent (for example, to send
 *  its whole table again). The handle is not used: there is one
 *  connection per process. */
uint32_t ostrel_socket_generation(yarl_handle_t handle);
/** Longest wait in milliseconds for an acceptance or a reply (default
 *  5000; values below 1 mean 1). */
void ostrel_socket_transport_set_timeout_ms(int timeout_ms);

/* The transport functions of yarl.h, under their own names. */
int ostrel_socket_yarl_send(yarl_handle_t handle, yarl_addr *dst,
                            uint32_t opcode, const void *payload,
                            uint32_t length, yarl_msg *msg, uint32_t zero,
                            yarl_send_opts *opts);
int ostrel_socket_yarl_errno_get(yarl_handle_t handle);
uint32_t ostrel_socket_yarl_rr_token_get(yarl_msg *msg);
int ostrel_socket_yarl_drop(yarl_handle_t handle, yarl_msg *msg);
int ostrel_socket_yarl_recv(yarl_handle_t handle, yarl_msg *record,
                            yarl_recv_opts *opts);
void *ostrel_socket_yarl_payload_get(yarl_msg *record);
/** The service has no system manager to tell: does nothing, returns 0. */
int ostrel_socket_heartbeat_update_and_send(uint32_t arg);

#ifdef __cplusplus
}

namespace ostrel::socket_transport {
// Token of the first accepted send of a connection; each further accepted
// send gets the next integer.
inline constexpr uint32_t kFirstToken = 1001;

// Takes over a connected SOCK_SEQPACKET socket as the connection, tokens
// starting again at kFirstToken and query tokens at 1 (tests and fuzz
// targets: a socketpair).
void adopt_connection(int fd);

// Connects again now, as the next send would, when the service went away
// (a caller that lost a reply learns at once whether the service is back).
// 0 when a connection is open, already or now; ENOTCONN after
// ostrel_socket_transport_disconnect or a malformed frame; else the
// connect's error.
int reconnect();

// Asks the service something outside the message stream (no token is used
// up; connects again like a send) and waits for the answer, page after
// page, each within the timeout. Returns 0 with *answer filled, or an
// errno (the service's, when it refused the query).
int query(uint32_t opcode, std::vector<uint8_t> *answer);
} // namespace ostrel::socket_transport
#endif
