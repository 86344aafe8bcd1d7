#include "programming/request/send_requests.h"

#include <optional>

#include "programming/programming_internal.h"
#include "programming/request/record_reuse.h"

namespace ostrel {

uint32_t send_requests(yarl_handle_t handle, yarl_msg *msg,
                       const RequestTarget *targets, size_t count) {
    std::optional<RecordReuse> reuse;
    const VlanNode *scoped = nullptr;
    for (size_t i = 0; i < count; ++i) {
        const RequestTarget &t = targets[i];
        if (t.vlan != scoped) {
            reuse.reset(); // scopes do not nest
            reuse.emplace(t.vlan);
            scoped = t.vlan;
        }
        const uint32_t defer = i + 1 < count ? 1 : 0;
        const uint32_t status = ostrel_api_program_intf(
            handle, msg, t.vlan, t.intf, t.install, defer);
        if (status != OSTREL_STATUS_OK) {
            return status;
        }
    }
    return OSTREL_STATUS_OK;
}

} // namespace ostrel
