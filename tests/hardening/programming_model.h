// An independent model of ACL programming for the stress test: which ACEs
// are registered on which interface of which VLAN and on which port
// channel, in list order (newest first), and which batches an operation
// puts on the transport, attempt by attempt, given the scripted send
// failures. It is written from the observable contract only: registry
// first, never rolled back; the other interfaces of the VLAN deferred, the
// named one last; one batch per interface operation; members in order.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "ostrelapi.h"

namespace hardening {

struct ModelAce {
    uint32_t tag;
    bool zero_addr1;
    bool operator==(const ModelAce &o) const = default;
};

struct ModelIntf {
    uint32_t if_index;
    std::vector<ModelAce> aces; // newest first
};
struct ModelVlan {
    uint32_t vlan;
    std::vector<ModelIntf> intfs; // newest first
};
struct ModelPoVlan {
    uint32_t vlan;
    std::vector<ModelAce> aces;
};
struct ModelPc {
    uint32_t pc;
    std::vector<ModelPoVlan> vlans;
};

// Finds the node with `key` in a newest-first list, or null.
template <typename T, typename K>
T *find_in(std::vector<T> &list, K T::*key, uint32_t value) {
    auto it = std::find_if(list.begin(), list.end(),
                           [&](const T &n) { return n.*key == value; });
    return it == list.end() ? nullptr : &*it;
}

// Finds or creates (at the front) the node with `key`.
template <typename T, typename K>
T &find_or_add(std::vector<T> &list, K T::*key, uint32_t value) {
    if (T *found = find_in(list, key, value)) {
        return *found;
    }
    T node{};
    node.*key = value;
    list.insert(list.begin(), node);
    return list.front();
}

// Removes the first (newest) equal ACE; false when there is none.
inline bool remove_first(std::vector<ModelAce> &aces, const ModelAce &ace) {
    auto it = std::find(aces.begin(), aces.end(), ace);
    if (it == aces.end()) {
        return false;
    }
    aces.erase(it);
    return true;
}

class ProgrammingModel {
  public:
    // A send expected on the transport: "w<word0> <if>:<op> ..." and
    // whether that attempt succeeds.
    struct Send {
        std::string batch;
        bool ok;
    };

    std::vector<ModelVlan> vlans;
    std::vector<ModelPc> pcs;
    std::vector<Send> sends;   // of the current operation
    bool sent_ok_last = false; // did the operation's last send succeed
    int pending_failures = 0;  // scripted send failures still to come
    int failure_errno = 0;

    void fail_next_sends(int n, int errno_value) {
        pending_failures = n;
        failure_errno = errno_value;
    }

    void begin_operation() {
        sends.clear();
        sent_ok_last = false;
    }

    uint32_t intf_add(uint32_t vlan_id, uint32_t if_index, ModelAce ace) {
        ModelVlan &vlan = find_or_add(vlans, &ModelVlan::vlan, vlan_id);
        ModelIntf &intf =
            find_or_add(vlan.intfs, &ModelIntf::if_index, if_index);
        intf.aces.insert(intf.aces.begin(), ace);
        return send(batch_for(vlan, if_index, ace, 1));
    }

    uint32_t intf_del(uint32_t vlan_id, uint32_t if_index, ModelAce ace) {
        ModelVlan *vlan = find_in(vlans, &ModelVlan::vlan, vlan_id);
        ModelIntf *intf =
            vlan ? find_in(vlan->intfs, &ModelIntf::if_index, if_index)
                 : nullptr;
        if (intf == nullptr || !remove_first(intf->aces, ace)) {
            return OSTREL_STATUS_NO_ENTRY;
        }
        const uint32_t status =
            send(batch_for(*vlan, if_index, ace, intf->aces.empty() ? 2 : 1));
        prune(vlan_id, if_index);
        return status;
    }

    uint32_t pc_add(uint32_t pc_id, uint32_t vlan_id, ModelAce ace,
                    const std::vector<uint32_t> &members) {
        ModelPc &pc = find_or_add(pcs, &ModelPc::pc, pc_id);
        ModelPoVlan &pv = find_or_add(pc.vlans, &ModelPoVlan::vlan, vlan_id);
        pv.aces.insert(pv.aces.begin(), ace);
        for (size_t i = 0; i < members.size(); ++i) {
            sent_ok_last = sent_ok_last && i == 0; // drained between members
            if (const uint32_t status = intf_add(vlan_id, members[i], ace)) {
                return status;
            }
        }
        return 0;
    }

    uint32_t pc_del(uint32_t pc_id, uint32_t vlan_id, ModelAce ace,
                    const std::vector<uint32_t> &members) {
        ModelPc *pc = find_in(pcs, &ModelPc::pc, pc_id);
        ModelPoVlan *pv =
            pc ? find_in(pc->vlans, &ModelPoVlan::vlan, vlan_id) : nullptr;
        if (pv == nullptr || std::find(pv->aces.begin(), pv->aces.end(), ace) ==
                                 pv->aces.end()) {
            return OSTREL_STATUS_NO_ENTRY;
        }
        for (size_t i = 0; i < members.size(); ++i) {
            sent_ok_last = sent_ok_last && i == 0; // drained between members
            if (const uint32_t status = intf_del(vlan_id, members[i], ace)) {
                return status;
            }
        }
        remove_first(pv->aces, ace);
        if (pv->aces.empty()) {
            std::erase_if(pc->vlans, [&](const ModelPoVlan &v) {
                return v.vlan == vlan_id;
            });
        }
        if (pc->vlans.empty()) {
            std::erase_if(pcs, [&](const ModelPc &p) { return p.pc == pc_id; });
        }
        return 0;
    }

    size_t ace_count() const {
        size_t n = 0;
        for (const ModelVlan &v : vlans) {
            for (const ModelIntf &i : v.intfs) {
                n += i.aces.size();
            }
        }
        return n;
    }

  private:
    // The batch of one interface operation: the VLAN's other interfaces in
    // list order (only when the first address is not all zero), then the
    // named one, whose call created the batch when it is alone in it.
    static std::string batch_for(const ModelVlan &vlan, uint32_t named,
                                 const ModelAce &ace, uint32_t final_op) {
        std::string others;
        if (!ace.zero_addr1) {
            for (const ModelIntf &i : vlan.intfs) {
                if (i.if_index != named) {
                    others += " " + std::to_string(i.if_index) + ":1";
                }
            }
        }
        return std::string(others.empty() ? "w1" : "w0") + others + " " +
               std::to_string(named) + ":" + std::to_string(final_op);
    }

    // One batch send with up to three retries, consuming scripted failures.
    uint32_t send(const std::string &batch) {
        for (int attempt = 0; attempt < 4; ++attempt) {
            const bool ok = pending_failures == 0;
            sends.push_back({batch, ok});
            if (ok) {
                sent_ok_last = true;
                return 0;
            }
            --pending_failures;
        }
        sent_ok_last = false;
        return OSTREL_STATUS_SEND_ERROR(failure_errno);
    }

    void prune(uint32_t vlan_id, uint32_t if_index) {
        ModelVlan *vlan = find_in(vlans, &ModelVlan::vlan, vlan_id);
        std::erase_if(vlan->intfs, [&](const ModelIntf &i) {
            return i.if_index == if_index && i.aces.empty();
        });
        if (vlan->intfs.empty()) {
            std::erase_if(
                vlans, [&](const ModelVlan &v) { return v.vlan == vlan_id; });
        }
    }
};

} // namespace hardening
