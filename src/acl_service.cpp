#include "acl_service.h"

#include <cstdio>

#include "observe/counters.h"

#include "yarl.h"

namespace ostrel {

int send_to_acl_service(yarl_handle_t handle, yarl_msg *msg, const void *data,
                        uint32_t len) {
    yarl_addr dst{OSTREL_ACL_SERVICE_NODE, OSTREL_ACL_SERVICE_PORT};
    yarl_send_opts opts{};
    opts.word[0] = 1;
    const observe::Stopwatch sending;
    const int result =
        yarl_send(handle, &dst, OSTREL_ACL_OPCODE, data, len, msg, 0, &opts);
    observe::send_attempted(result, len, sending.stop());
    return result;
}

uint32_t report_send_failure(yarl_handle_t handle, uint32_t len) {
    perror("Unable to send YARL message\n");
    const int error = yarl_errno_get(handle);
    const uint32_t status = OSTREL_STATUS_SEND_ERROR(error);
    observe::send_failed(status, error, len);
    return status;
}

} // namespace ostrel
