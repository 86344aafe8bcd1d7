#include "vlan_scenario.h"

#include <cstdlib>

#include "sim_platform.hpp"
#include "vlan_teardown.h"

namespace bench {
namespace {

constexpr yarl_handle_t kHandle = 7;

// The ACE that the benchmarks add and delete; no registered ACE equals it.
constexpr uint8_t kExtraAddr1[6] = {0x02, 0xbe, 0x4c, 0x00, 0x00, 0x01};
constexpr uint8_t kExtraAddr2[6] = {0x02, 0xbe, 0x4c, 0x00, 0x00, 0x02};
constexpr uint32_t kExtraQualifier = 0xbeef;

// The registered ACEs: a nonzero first address unique per interface and
// position, so every one of them yields a record.
void fill_interface(IntfNode *intf, uint32_t aces) {
    for (uint32_t j = 0; j < aces; ++j) {
        const uint8_t addr1[6] = {0x02,
                                  0x00,
                                  static_cast<uint8_t>(intf->if_index >> 8),
                                  static_cast<uint8_t>(intf->if_index),
                                  static_cast<uint8_t>(j >> 8),
                                  static_cast<uint8_t>(j)};
        const uint8_t addr2[6] = {0x02, 0x11, 0x22, 0x33, 0x44, 0x55};
        AceNode *ace = brisel_ace_alloc(addr1, addr2, 0x100 + j);
        if (ace == nullptr) {
            std::abort();
        }
        (void)brisel_ace_add(intf, ace);
    }
}

} // namespace

VlanScenario::VlanScenario(uint32_t interfaces, uint32_t aces)
    : interfaces_(interfaces) {
    if (brisel_handle.count != 0) {
        std::abort(); // another fixture left the registry filled
    }
    forget_calls();
    VlanNode *vlan = brisel_vlan_add(kVlanId);
    for (uint32_t i = 0; vlan != nullptr && i < interfaces; ++i) {
        IntfNode *intf = brisel_intf_add(vlan, kNamedIfIndex + i);
        if (intf == nullptr) {
            std::abort();
        }
        fill_interface(intf, aces);
    }
    if (vlan == nullptr) {
        std::abort();
    }
}

VlanScenario::~VlanScenario() {
    empty_vlan(kVlanId);
    forget_calls();
}

uint32_t VlanScenario::program(uint32_t add) {
    status_ =
        ostrel_api_program_acl(kHandle, kExtraAddr1, kExtraAddr2, kVlanId,
                               kNamedIfIndex, kExtraQualifier, &msg_, add);
    drain_status_ = status_ == 0 ? brisel_api_yarl_gobble(kHandle, &msg_) : 0;
    return status_ != 0 ? status_ : drain_status_;
}

uint32_t VlanScenario::add_and_drain() {
    return program(1);
}

uint32_t VlanScenario::delete_and_drain() {
    return program(0);
}

OpResult VlanScenario::last_result() const {
    OpResult r;
    r.status = status_;
    r.drain_status = drain_status_;
    for (const ostrel::sim::Call &call : ostrel::sim::calls()) {
        if (call.op == ostrel::sim::Op::Send && call.result == 0) {
            r.request_bytes += call.length - 8; // the batch head
            ++r.sends;
        }
    }
    return r;
}

void VlanScenario::forget_calls() {
    ostrel::sim::reset();
    ostrel::sim::set_copy_payloads(false);
}

OpResult VlanScenario::probe_add() {
    forget_calls();
    (void)add_and_drain();
    OpResult r = last_result();
    (void)delete_and_drain(); // the registry as before, whatever happened
    forget_calls();
    return r;
}

OpResult VlanScenario::probe_delete() {
    forget_calls();
    (void)add_and_drain(); // registers the ACE even when programming fails
    forget_calls();
    (void)delete_and_drain();
    OpResult r = last_result();
    forget_calls();
    return r;
}

} // namespace bench
