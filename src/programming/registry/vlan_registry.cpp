// The VLAN registry: VLANs -> interfaces -> ACEs, rooted in
// brisel_handle. Thin C wrappers over the list algorithm of registry_list.h.
// Node arguments must be valid, non-null nodes; every delete returns 0,
// whether or not it removed a node.
#include "programming/registry/registry_list.h"

using ostrel::registry::children;
using ostrel::registry::roots;

// Head of the VLAN list: count at offset 4, first VlanNode in `next`; the
// key and `first` words stay zero.
VlanNode brisel_handle = {}; // C linkage and visibility from ostrelapi.h

// Forgets every VLAN (all four words of the head to zero) without freeing
// anything. The port-channel registry is not touched.
extern "C" OSTREL_API void brisel_start(void) {
    brisel_handle = VlanNode{};
}

extern "C" OSTREL_API VlanNode *brisel_vlan_malloc(void) {
    return ostrel::registry::allocate<VlanNode>();
}

extern "C" OSTREL_API IntfNode *brisel_intf_malloc(void) {
    return ostrel::registry::allocate<IntfNode>();
}

// The VlanNode of vlan_id, or null.
extern "C" OSTREL_API VlanNode *brisel_vlan_lookup(uint32_t vlan_id) {
    return ostrel::registry::lookup<&VlanNode::vlan_id>(roots(brisel_handle),
                                                        vlan_id);
}

// The IntfNode of if_index in vlan, or null.
extern "C" OSTREL_API IntfNode *brisel_intf_lookup(VlanNode *vlan,
                                                   uint32_t if_index) {
    return ostrel::registry::lookup<&IntfNode::if_index>(children(*vlan),
                                                         if_index);
}

// The first (newest) ACE of intf equal to key, or null.
extern "C" OSTREL_API AceNode *brisel_ace_lookup(IntfNode *intf,
                                                 const AceKey *key) {
    return ostrel::registry::ace_lookup(children(*intf), *key);
}

// A new VlanNode for vlan_id at the head of the registry; null (registry
// unchanged) when the allocation fails. No check for an existing vlan_id.
extern "C" OSTREL_API VlanNode *brisel_vlan_add(uint32_t vlan_id) {
    return ostrel::registry::add<&VlanNode::vlan_id>(roots(brisel_handle),
                                                     vlan_id);
}

// A new IntfNode for if_index at the head of vlan's list; null (nothing
// changed) when the allocation fails. No check for an existing if_index.
extern "C" OSTREL_API IntfNode *brisel_intf_add(VlanNode *vlan,
                                                uint32_t if_index) {
    return ostrel::registry::add<&IntfNode::if_index>(children(*vlan),
                                                      if_index);
}

// Links the non-null ace at the head of intf's list; returns ace.
extern "C" OSTREL_API AceNode *brisel_ace_add(IntfNode *intf, AceNode *ace) {
    return ostrel::registry::link_front(children(*intf), ace);
}

// Removes and frees the registry's VlanNode with vlan's key, unless vlan
// still has interfaces. Returns 0.
extern "C" OSTREL_API uint32_t brisel_vlan_del(VlanNode *vlan) {
    (void)ostrel::registry::remove_if_childless<&VlanNode::vlan_id>(
        roots(brisel_handle), *vlan);
    return 0;
}

// Removes and frees vlan's IntfNode with intf's key, unless intf still has
// ACEs. Returns 0.
extern "C" OSTREL_API uint32_t brisel_intf_del(VlanNode *vlan, IntfNode *intf) {
    (void)ostrel::registry::remove_if_childless<&IntfNode::if_index>(
        children(*vlan), *intf);
    return 0;
}

// Removes and frees the first (newest) ACE of intf equal to key. Returns 0.
extern "C" OSTREL_API uint32_t brisel_ace_del(IntfNode *intf,
                                              const AceKey *key) {
    (void)ostrel::registry::ace_remove(children(*intf), *key);
    return 0;
}

// vlan's first (newest) interface, or null.
extern "C" OSTREL_API IntfNode *brisel_intf_get_first(VlanNode *vlan) {
    return vlan->first;
}

// The interface after intf in its VLAN, or null; vlan is not used.
extern "C" OSTREL_API IntfNode *brisel_intf_get_next(VlanNode *,
                                                     IntfNode *intf) {
    return intf->next;
}
