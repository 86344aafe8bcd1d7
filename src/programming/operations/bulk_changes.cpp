// ostrel_api_program_acl_bulk: many adds and deletes in one call.
//
// The changes are applied to the registries in array order with exactly
// the effects of the single calls (the same nodes created and removed, in
// the same list positions), journaled so that a failing change takes every
// earlier one back. Only then are requests sent: each interface that the
// single calls would have reprogrammed gets one request, built from the
// final registry; an interface that the changes left without ACEs gets the
// remove request that its last delete would have sent.
#include <algorithm>

#include "observe/counters.h"
#include "programming/programming_internal.h"
#include "programming/registry/malloc_array.h"
#include "programming/registry/registry_journal.h"
#include "programming/registry/registry_update.h"
#include "programming/request/send_requests.h"

namespace ostrel {
namespace {

// An interface named by a change (a port channel's change names each
// member), and whether the change reprograms every interface of the VLAN
// (its first address is not all zero).
struct NamedInterface {
    uint32_t vlan_id;
    uint32_t if_index;
    size_t order; // position among the names, for the VLANs' send order
    bool whole_vlan;
};

// Journal entries one change can make: a port channel's three nodes in
// and out, and three per member (VLAN, interface, ACE).
constexpr size_t kEntriesPerChange = 3 + 3 * OSTREL_PC_MAX_MEMBERS;

class BulkApply {
  public:
    // Applies one change; 0 or the change's failing status (the change
    // itself may then be partly applied: undo() takes it back too).
    uint32_t apply(const ostrel_api_acl_change_t &c) {
        if (!journal_.reserve(kEntriesPerChange) ||
            !named_.reserve(OSTREL_PC_MAX_MEMBERS)) {
            return OSTREL_STATUS_INVALID;
        }
        const AceKey key = make_ace_key(c.addr1, c.addr2, c.qualifier);
        const bool whole = !is_all_zero(c.addr1);
        if (c.on_port_channel != 0) {
            return c.add != 0 ? pc_add(c.vlan_id, c.if_index, key, whole)
                              : pc_del(c.vlan_id, c.if_index, key, whole);
        }
        return c.add != 0 ? intf_add(c.vlan_id, c.if_index, key, whole)
                          : intf_del(c.vlan_id, c.if_index, key, whole);
    }

    void undo() { journal_.undo(); }
    void commit() { journal_.commit(); }
    MallocArray<NamedInterface> &named() { return named_; }

  private:
    uint32_t intf_add(uint32_t vlan_id, uint32_t if_index, const AceKey &key,
                      bool whole) {
        if (!registry::add_ace_to_entry<&VlanNode::vlan_id,
                                        &IntfNode::if_index>(
                journal_, brisel_handle, vlan_id, if_index, key)) {
            return OSTREL_STATUS_NO_ENTRY;
        }
        named_.push({vlan_id, if_index, named_.size(), whole});
        return OSTREL_STATUS_OK;
    }

    uint32_t intf_del(uint32_t vlan_id, uint32_t if_index, const AceKey &key,
                      bool whole) {
        VlanNode *vlan = brisel_vlan_lookup(vlan_id);
        IntfNode *intf =
            vlan != nullptr ? brisel_intf_lookup(vlan, if_index) : nullptr;
        if (intf == nullptr ||
            !registry::remove_ace(journal_, registry::children(*intf), key)) {
            return OSTREL_STATUS_NO_ENTRY;
        }
        named_.push({vlan_id, if_index, named_.size(), whole});
        registry::drop_emptied<&VlanNode::vlan_id, &IntfNode::if_index>(
            journal_, brisel_handle, *vlan, *intf);
        return OSTREL_STATUS_OK;
    }

    uint32_t pc_add(uint32_t vlan_id, uint32_t pc_if_index, const AceKey &key,
                    bool whole) {
        if (!registry::add_ace_to_entry<&PcNode::if_index,
                                        &PoVlanNode::vlan_id>(
                journal_, brisel_pchandle, pc_if_index, vlan_id, key)) {
            return OSTREL_STATUS_NO_ENTRY;
        }
        return on_members(pc_if_index, [&](uint32_t member) {
            return intf_add(vlan_id, member, key, whole);
        });
    }

    uint32_t pc_del(uint32_t vlan_id, uint32_t pc_if_index, const AceKey &key,
                    bool whole) {
        PcNode *pc = brisel_pc_lookup(pc_if_index);
        PoVlanNode *povlan =
            pc != nullptr ? brisel_povlan_lookup(pc, vlan_id) : nullptr;
        if (povlan == nullptr || brisel_poace_lookup(povlan, &key) == nullptr) {
            return OSTREL_STATUS_NO_ENTRY;
        }
        const uint32_t status = on_members(pc_if_index, [&](uint32_t member) {
            return intf_del(vlan_id, member, key, whole);
        });
        if (status != OSTREL_STATUS_OK) {
            return status;
        }
        (void)registry::remove_ace(journal_, registry::children(*povlan), key);
        registry::drop_emptied<&PcNode::if_index, &PoVlanNode::vlan_id>(
            journal_, brisel_pchandle, *pc, *povlan);
        return OSTREL_STATUS_OK;
    }

    // Runs op on every member of the port channel in record order; a failed
    // member query fails the change with the query's own result.
    template <typename Op> uint32_t on_members(uint32_t pc_if_index, Op op) {
        const PcMembers members = query_pc_members(pc_if_index);
        if (members.result != 0) {
            return static_cast<uint32_t>(members.result);
        }
        for (uint32_t i = 0; i < members.count; ++i) {
            const uint32_t status = op(members.if_index[i]);
            if (status != OSTREL_STATUS_OK) {
                return status;
            }
        }
        return OSTREL_STATUS_OK;
    }

    RegistryJournal journal_;
    MallocArray<NamedInterface> named_;
};

// Stands in for an interface that the changes removed: its remove request
// needs only the VLAN id and the interface index.
struct RemovedInterface {
    VlanNode vlan;
    IntfNode intf;
};

// The VLANs named, in the order of their first name.
struct VlanGroup {
    size_t begin, end; // its names, sorted by interface index
    size_t first_order;
    bool whole_vlan;
};

// The requests a successful bulk call sends, in order: VLAN by VLAN in the
// order the changes first named them; in each, the interfaces of the final
// registry that are affected, in list order, then the interfaces the
// changes removed, by interface index.
class SendPlan {
  public:
    // False when the plan cannot be allocated.
    [[nodiscard]] bool build(MallocArray<NamedInterface> &named) {
        if (!group(named)) {
            return false;
        }
        size_t targets = 0, gone = 0;
        visit(
            named, [&](VlanNode *, IntfNode *) { ++targets; },
            [&](uint32_t, uint32_t) { ++targets, ++gone; });
        if (!targets_.reserve(targets) || !gone_.reserve(gone)) {
            return false;
        }
        visit(
            named,
            [&](VlanNode *vlan, IntfNode *intf) {
                targets_.push({vlan, intf, 1});
            },
            [&](uint32_t vlan_id, uint32_t if_index) {
                RemovedInterface g{};
                g.vlan.vlan_id = vlan_id;
                g.intf.if_index = if_index;
                gone_.push(g);
                targets_.push({&gone_.back().vlan, &gone_.back().intf, 0});
            });
        return true;
    }

    const RequestTarget *targets() { return targets_.begin(); }
    size_t size() const { return targets_.size(); }

  private:
    // Sorts the names by VLAN and interface, keeps the first of equal
    // names and groups them by VLAN, in the order of first naming.
    bool group(MallocArray<NamedInterface> &named) {
        std::sort(named.begin(), named.end(),
                  [](const NamedInterface &a, const NamedInterface &b) {
                      if (a.vlan_id != b.vlan_id) {
                          return a.vlan_id < b.vlan_id;
                      }
                      return a.if_index != b.if_index ? a.if_index < b.if_index
                                                      : a.order < b.order;
                  });
        size_t kept = 0;
        for (size_t i = 0; i < named.size(); ++i) {
            const NamedInterface &n = named[i];
            const bool new_vlan =
                kept == 0 || named[kept - 1].vlan_id != n.vlan_id;
            if (new_vlan) {
                if (!groups_.reserve(1)) {
                    return false;
                }
                groups_.push({kept, kept, n.order, false});
            }
            VlanGroup &g = groups_.back();
            g.whole_vlan = g.whole_vlan || n.whole_vlan;
            g.first_order = std::min(g.first_order, n.order);
            if (new_vlan || named[kept - 1].if_index != n.if_index) {
                named[kept++] = n;
                g.end = kept;
            }
        }
        std::sort(groups_.begin(), groups_.end(),
                  [](const VlanGroup &a, const VlanGroup &b) {
                      return a.first_order < b.first_order;
                  });
        return true;
    }

    template <typename Present, typename Removed>
    void visit(MallocArray<NamedInterface> &named, Present present,
               Removed removed) {
        for (const VlanGroup &g : groups_) {
            NamedInterface *first = &named[g.begin], *last = &named[0] + g.end;
            VlanNode *vlan = brisel_vlan_lookup(first->vlan_id);
            for (IntfNode *intf = vlan != nullptr ? vlan->first : nullptr;
                 intf != nullptr; intf = intf->next) {
                if (g.whole_vlan || named_in(first, last, intf->if_index)) {
                    present(vlan, intf);
                }
            }
            for (const NamedInterface *n = first; n != last; ++n) {
                if (vlan == nullptr ||
                    brisel_intf_lookup(vlan, n->if_index) == nullptr) {
                    removed(n->vlan_id, n->if_index);
                }
            }
        }
    }

    static bool named_in(const NamedInterface *first,
                         const NamedInterface *last, uint32_t if_index) {
        const NamedInterface *it = std::lower_bound(
            first, last, if_index,
            [](const NamedInterface &n, uint32_t i) { return n.if_index < i; });
        return it != last && it->if_index == if_index;
    }

    MallocArray<VlanGroup> groups_;
    MallocArray<RequestTarget> targets_;
    MallocArray<RemovedInterface> gone_;
};

} // namespace
} // namespace ostrel

// Applies the changes in order; on the first failing change takes every
// earlier one back and sends nothing; otherwise sends each affected
// interface's request once. See ostrelapi.h for the statuses.
extern "C" OSTREL_API uint32_t ostrel_api_program_acl_bulk(
    yarl_handle_t handle, const ostrel_api_acl_change_t *changes,
    uint32_t count, uint32_t *statuses, yarl_msg *msg) {
    using namespace ostrel;
    const observe::CallScope counted;
    for (uint32_t i = 0; statuses != nullptr && i < count; ++i) {
        statuses[i] = OSTREL_STATUS_NOT_EXECUTED;
    }
    if ((changes == nullptr && count != 0) || msg == nullptr) {
        return OSTREL_STATUS_INVALID;
    }
    BulkApply bulk;
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t status = bulk.apply(changes[i]);
        if (status != OSTREL_STATUS_OK) {
            const uint64_t undo_from = observe::monotonic_ns();
            bulk.undo();
            observe::bulk_rolled_back(status,
                                      observe::monotonic_ns() - undo_from);
            if (statuses != nullptr) {
                statuses[i] = status;
            }
            return status;
        }
    }
    SendPlan plan;
    if (!plan.build(bulk.named())) {
        const uint64_t undo_from = observe::monotonic_ns();
        bulk.undo();
        observe::bulk_rolled_back(OSTREL_STATUS_INVALID,
                                  observe::monotonic_ns() - undo_from);
        return OSTREL_STATUS_INVALID;
    }
    bulk.commit();
    for (uint32_t i = 0; statuses != nullptr && i < count; ++i) {
        statuses[i] = OSTREL_STATUS_OK;
    }
    return send_requests(handle, msg, plan.targets(), plan.size());
}
