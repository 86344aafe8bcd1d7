// Sending to the ACL service: the destination, opcode and send options that
// every message of the library uses, and the report of a send that failed.
// Shared by the batch sender (with its retries) and the policy update send
// (one attempt).
#pragma once

#include <cstdint>

#include "ostrelapi.h"

namespace ostrel {

// One attempt to send len bytes at data to the ACL service with msg; the
// destination is filled anew for every attempt. Returns yarl_send's result
// (0 when the message went out).
int send_to_acl_service(yarl_handle_t handle, yarl_msg *msg, const void *data,
                        uint32_t len);

// After the last failed attempt to send len bytes: prints "Unable to send
// YARL message" with perror and returns OSTREL_STATUS_SEND_ERROR of the
// transport's error number.
uint32_t report_send_failure(yarl_handle_t handle, uint32_t len);

} // namespace ostrel
