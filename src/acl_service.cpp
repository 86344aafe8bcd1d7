#include "acl_service.h"

#include <cstdio>

#include "yarl.h"

namespace ostrel {

int send_to_acl_service(yarl_handle_t handle, yarl_msg *msg, const void *data,
                        uint32_t len) {
    yarl_addr dst{OSTREL_ACL_SERVICE_NODE, OSTREL_ACL_SERVICE_PORT};
    yarl_send_opts opts{};
    opts.word[0] = 1;
    return yarl_send(handle, &dst, OSTREL_ACL_OPCODE, data, len, msg, 0, &opts);
}

uint32_t report_send_failure(yarl_handle_t handle) {
    perror("Unable to send YARL message\n");
    return OSTREL_STATUS_SEND_ERROR(yarl_errno_get(handle));
}

} // namespace ostrel
