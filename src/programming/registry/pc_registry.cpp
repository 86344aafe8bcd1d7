// The port-channel registry: port channels -> their VLANs -> ACEs, rooted
// in brisel_pchandle. The same list algorithm as the VLAN registry
// (registry_list.h), with three differences:
//  1. brisel_pc_del clears the head's first-node field when it has removed
//     the last port channel;
//  2. nothing resets brisel_pchandle (brisel_start clears brisel_handle
//     only);
//  3. there are no iteration operations.
// ACE nodes are the shared AceNodes (brisel_ace_alloc, brisel_ace_cmp).
#include "programming/registry/registry_list.h"

using ostrel::registry::children;
using ostrel::registry::roots;

// Head of the port-channel list: count at offset 4, first PcNode in `next`.
PcNode brisel_pchandle = {}; // C linkage and visibility from ostrelapi.h

extern "C" OSTREL_API PcNode *brisel_pc_malloc(void) {
    return ostrel::registry::allocate<PcNode>();
}

extern "C" OSTREL_API PoVlanNode *brisel_povlan_malloc(void) {
    return ostrel::registry::allocate<PoVlanNode>();
}

// The PcNode of pc_if_index, or null.
extern "C" OSTREL_API PcNode *brisel_pc_lookup(uint32_t pc_if_index) {
    return ostrel::registry::lookup<&PcNode::if_index>(roots(brisel_pchandle),
                                                       pc_if_index);
}

// A new PcNode at the head of the registry; null (unchanged) on allocation
// failure.
extern "C" OSTREL_API PcNode *brisel_pc_add(uint32_t pc_if_index) {
    return ostrel::registry::add<&PcNode::if_index>(roots(brisel_pchandle),
                                                    pc_if_index);
}

// Removes and frees the PcNode with pc's key unless pc still has VLAN
// entries; when that leaves no port channel, also nulls the head's first
// node field. Returns 0.
extern "C" OSTREL_API uint32_t brisel_pc_del(PcNode *pc) {
    if (ostrel::registry::remove_if_childless<&PcNode::if_index>(
            roots(brisel_pchandle), *pc) &&
        brisel_pchandle.count == 0) {
        brisel_pchandle.next = nullptr;
    }
    return 0;
}

// pc's PoVlanNode of vlan_id, or null.
extern "C" OSTREL_API PoVlanNode *brisel_povlan_lookup(PcNode *pc,
                                                       uint32_t vlan_id) {
    return ostrel::registry::lookup<&PoVlanNode::vlan_id>(children(*pc),
                                                          vlan_id);
}

// A new PoVlanNode at the head of pc's list; null (unchanged) on allocation
// failure.
extern "C" OSTREL_API PoVlanNode *brisel_povlan_add(PcNode *pc,
                                                    uint32_t vlan_id) {
    return ostrel::registry::add<&PoVlanNode::vlan_id>(children(*pc), vlan_id);
}

// Removes and frees pc's PoVlanNode with povlan's key unless povlan still
// has ACEs. Returns 0.
extern "C" OSTREL_API uint32_t brisel_povlan_del(PcNode *pc,
                                                 PoVlanNode *povlan) {
    (void)ostrel::registry::remove_if_childless<&PoVlanNode::vlan_id>(
        children(*pc), *povlan);
    return 0;
}

// The first (newest) ACE of povlan equal to key, or null.
extern "C" OSTREL_API AceNode *brisel_poace_lookup(PoVlanNode *povlan,
                                                   const AceKey *key) {
    return ostrel::registry::ace_lookup(children(*povlan), *key);
}

// Links the non-null ace at the head of povlan's list; returns ace.
extern "C" OSTREL_API AceNode *brisel_poace_add(PoVlanNode *povlan,
                                                AceNode *ace) {
    return ostrel::registry::link_front(children(*povlan), ace);
}

// Removes and frees the first (newest) ACE of povlan equal to key. Returns 0.
extern "C" OSTREL_API uint32_t brisel_poace_del(PoVlanNode *povlan,
                                                const AceKey *key) {
    (void)ostrel::registry::ace_remove(children(*povlan), *key);
    return 0;
}
