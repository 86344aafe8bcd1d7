#include "table_load.h"

#include <cstdlib>
#include <cstring>

#include "vlan_teardown.h"

namespace bench {
namespace {

constexpr uint32_t kFirstVlanId = 100;
constexpr uint32_t kFirstIfIndex = 1;
constexpr uint8_t kAddr2[6] = {0x02, 0x11, 0x22, 0x33, 0x44, 0x55};

ostrel_api_acl_change_t add_of(uint32_t vlan, uint32_t intf, uint32_t ace) {
    ostrel_api_acl_change_t c{};
    // Unique per (VLAN, interface, ACE) and never all zero.
    const uint8_t addr1[6] = {0x02,
                              static_cast<uint8_t>(vlan),
                              static_cast<uint8_t>(intf),
                              static_cast<uint8_t>(ace >> 8),
                              static_cast<uint8_t>(ace),
                              0x01};
    std::memcpy(c.addr1, addr1, sizeof addr1);
    std::memcpy(c.addr2, kAddr2, sizeof kAddr2);
    c.vlan_id = kFirstVlanId + vlan;
    c.if_index = kFirstIfIndex + intf;
    c.qualifier = 0x100 + ace;
    c.add = 1;
    return c;
}

// The records of each request of vlan: one per ACE slot (each interface
// with c ACEs adds c - 1) and the two closing records.
uint64_t records_per_request(VlanNode *vlan) {
    uint64_t slots = 0;
    for (IntfNode *i = brisel_intf_get_first(vlan); i != nullptr;
         i = brisel_intf_get_next(vlan, i)) {
        slots += i->count != 0 ? i->count - 1 : 0;
    }
    return slots + 2;
}

} // namespace

TableLoad::TableLoad(TableShape shape) : shape_(shape) {
    changes_.reserve(shape.ace_count());
    for (uint32_t v = 0; v < shape.vlans; ++v) {
        if (brisel_vlan_lookup(kFirstVlanId + v) != nullptr) {
            std::abort(); // another benchmark left the registry filled
        }
        for (uint32_t i = 0; i < shape.interfaces; ++i) {
            for (uint32_t a = 0; a < shape.aces; ++a) {
                changes_.push_back(add_of(v, i, a));
            }
        }
    }
}

TableLoad::~TableLoad() {
    clear_registry();
}

uint32_t TableLoad::drain(uint32_t status, yarl_handle_t handle) {
    return status != 0 ? status : brisel_api_yarl_gobble(handle, &msg_);
}

uint32_t TableLoad::load_bulk(yarl_handle_t handle) {
    const uint32_t status = ostrel_api_program_acl_bulk(
        handle, changes_.data(), static_cast<uint32_t>(changes_.size()),
        nullptr, &msg_);
    return drain(status, handle);
}

uint32_t TableLoad::load_single(yarl_handle_t handle) {
    for (const ostrel_api_acl_change_t &c : changes_) {
        const uint32_t status =
            drain(ostrel_api_program_acl(handle, c.addr1, c.addr2, c.vlan_id,
                                         c.if_index, c.qualifier, &msg_, c.add),
                  handle);
        if (status != 0) {
            return status;
        }
    }
    return 0;
}

uint32_t TableLoad::resync(yarl_handle_t handle) {
    return drain(ostrel_api_resync(handle, nullptr, &msg_), handle);
}

void TableLoad::clear_registry() const {
    for (uint32_t v = 0; v < shape_.vlans; ++v) {
        empty_vlan(kFirstVlanId + v);
    }
}

uint64_t TableLoad::final_request_bytes() {
    uint64_t bytes = 0;
    for (VlanNode *v = brisel_handle.next; v != nullptr; v = v->next) {
        const uint64_t request =
            sizeof(ostrel_api_plcy_update_req_t) +
            sizeof(ostrel_api_ace_t) * records_per_request(v);
        for (IntfNode *i = brisel_intf_get_first(v); i != nullptr;
             i = brisel_intf_get_next(v, i)) {
            bytes += request;
        }
    }
    return bytes;
}

} // namespace bench
