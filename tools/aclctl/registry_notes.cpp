// The slot rule replayed: every interface of the VLAN with c ACEs writes
// its walked nodes (newest first, those with a nonzero first address) into
// slots b .. b + c - 1, then the base b advances by c - 1; the closing
// record goes to slot b at the end. A slot written more than once keeps
// only its last record; the closing slot keeps none.
#include "registry_notes.h"

#include <cstring>

#include "ostrelapi.h"

namespace ostrel::aclctl {

namespace {

using tools::SlotNote;

struct Write {
    size_t slot;
    uint16_t qual;
    uint32_t intf;
};

bool zero_address(const uint8_t a[6]) {
    static const uint8_t zeros[6] = {};
    return std::memcmp(a, zeros, 6) == 0;
}

// The writes of the builder in order, and the closing record's slot.
std::vector<Write> replay(VlanNode *vlan, size_t *closing) {
    std::vector<Write> writes;
    size_t base = 0;
    for (IntfNode *i = brisel_intf_get_first(vlan); i != nullptr;
         i = brisel_intf_get_next(vlan, i)) {
        if (i->count == 0)
            continue;
        size_t j = 0;
        for (AceNode *a = i->first; a != nullptr && j < i->count;
             a = a->next, ++j)
            if (!zero_address(a->key.addr1))
                writes.push_back({base + j, a->key.qualifier, i->if_index});
        base += i->count - 1;
    }
    *closing = base;
    return writes;
}

// Whether a later write, or the closing record, took w's slot.
bool replaced(const std::vector<Write> &writes, size_t k, size_t closing,
              bool *by_closing) {
    for (size_t later = k + 1; later < writes.size(); ++later)
        if (writes[later].slot == writes[k].slot) {
            *by_closing = false;
            return true;
        }
    *by_closing = writes[k].slot == closing;
    return *by_closing;
}

} // namespace

bool registry_slot_notes(const tools::Request &r,
                         std::vector<SlotNote> *notes) {
    VlanNode *vlan = brisel_vlan_lookup(r.vlan);
    if (vlan == nullptr)
        return false;
    size_t closing = 0;
    std::vector<Write> writes = replay(vlan, &closing);
    if (r.aces.size() != closing + 2 || writes.empty() ||
        r.aces[closing].fltr.fltr_qualifier != writes.back().qual)
        return false;
    std::vector<SlotNote> out;
    for (size_t k = 0; k < writes.size(); ++k) {
        bool by_closing = false;
        const Write &w = writes[k];
        if (replaced(writes, k, closing, &by_closing)) {
            out.push_back({w.slot, w.qual, w.intf, by_closing});
            continue;
        }
        if (r.aces[w.slot].fltr.fltr_qualifier != w.qual)
            return false; // the record shown is not the one replayed
    }
    *notes = std::move(out);
    return true;
}

} // namespace ostrel::aclctl
