// Calls and state shared between the parts of ACL programming; hidden from
// the shared library's symbol table.
#pragma once

#include <cstdint>

#include "ostrelapi.h"

extern "C" {

// Rebuilds the complete request of `intf` in `vlan` from the registry and
// appends it to the batch; with defer == 0 also sends the batch.
uint32_t ostrel_api_program_intf(yarl_handle_t handle, yarl_msg *msg,
                                 VlanNode *vlan, IntfNode *intf,
                                 uint32_t install, uint32_t defer);
// Sends length bytes at data to the ACL service, with retries.
uint32_t ostrel_api_send_batch(yarl_handle_t handle, yarl_msg *msg,
                               const void *data, uint32_t length);
// Records an ACE on an interface and reprograms the affected interfaces.
uint32_t ostrel_api_add_acl(yarl_handle_t handle, const uint8_t *addr1,
                            const uint8_t *addr2, uint32_t vlan_id,
                            uint32_t if_index, uint32_t qualifier,
                            yarl_msg *msg);

// Open batch block and its used length (0 when none is open).
extern uint8_t *batch_buf;
extern uint32_t batch_len;
// One-shot interface index replacing a port channel's member fan-out.
extern uint32_t pc_override_if_index;

} // extern "C"

namespace ostrel {
// Size in bytes of the batch block sent to the ACL service.
inline constexpr uint32_t kBatchSize = OSTREL_BATCH_SIZE;
inline constexpr uint32_t kBatchHeadSize = 8;
} // namespace ostrel
