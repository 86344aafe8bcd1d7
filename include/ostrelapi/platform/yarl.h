/*
 * Message transport and system-manager heartbeat, as the library calls them.
 * The core library only declares these; the platform (or a test double)
 * supplies them at link time.
 */
#ifndef OSTREL_PLATFORM_YARL_H
#define OSTREL_PLATFORM_YARL_H

#include "ostrelapi.h"

#ifdef __cplusplus
extern "C" {
#endif

/* handle and msg: see yarl_handle_t and yarl_msg in ostrelapi.h (any
 * handle value with the shipped transports; msg zeroed before its first
 * use). */

/** Sends length bytes of payload; 0 on success, then msg refers to this
 *  send and carries the token of its reply. `zero` is always 0. */
int yarl_send(yarl_handle_t handle, yarl_addr *dst, uint32_t opcode,
              const void *payload, uint32_t length, yarl_msg *msg,
              uint32_t zero, yarl_send_opts *opts);
/** Error number of the last failed operation on handle. */
int yarl_errno_get(yarl_handle_t handle);
/** Token under which the reply to msg's send arrives. */
uint32_t yarl_rr_token_get(yarl_msg *msg);
/** Releases what the transport holds for msg. */
int yarl_drop(yarl_handle_t handle, yarl_msg *msg);
/** Waits for the message selected by opts; -1 on failure. */
int yarl_recv(yarl_handle_t handle, yarl_msg *record, yarl_recv_opts *opts);
/** Payload of a received record, or null when it has none. */
void *yarl_payload_get(yarl_msg *record);

/** Tells the system manager that the process is alive. */
int heartbeat_update_and_send(uint32_t arg);

#ifdef __cplusplus
}
#endif

/* Fixed addressing of every message the library sends. */
#define OSTREL_ACL_SERVICE_NODE 0xfe000000u
#define OSTREL_ACL_SERVICE_PORT 190u
#define OSTREL_ACL_OPCODE 4810u

#endif
