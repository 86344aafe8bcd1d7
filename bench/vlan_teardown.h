// Empties a VLAN that a benchmark entered into the registry directly:
// every ACE, every interface, then the VLAN itself (nothing is sent).
#pragma once

#include <cstdint>

#include "ostrelapi.h"

namespace bench {

inline void empty_vlan(uint32_t vlan_id) {
    VlanNode *vlan = brisel_vlan_lookup(vlan_id);
    while (vlan != nullptr && vlan->first != nullptr) {
        IntfNode *intf = vlan->first;
        while (intf->first != nullptr) {
            const AceKey key = intf->first->key;
            (void)brisel_ace_del(intf, &key);
        }
        (void)brisel_intf_del(vlan, intf);
    }
    if (vlan != nullptr) {
        (void)brisel_vlan_del(vlan);
    }
}

} // namespace bench
