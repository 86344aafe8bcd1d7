// The registry steps of an add and a delete, written once for both
// registries (VLAN -> interface -> ACEs, port channel -> VLAN -> ACEs) and
// for every caller: the single entry points, the port-channel entry point
// and the bulk call.
//
// Every step reports what it links in or takes out to a journal:
//  - a bulk call passes its RegistryJournal (registry_journal.h), which
//    keeps a detached node until the call commits and can take every step
//    back;
//  - a single call passes NoJournal: its changes are never taken back, so
//    nothing is recorded and a node taken out is freed at once.
// The steps make the same allocations, in the same order, and leave the
// same nodes in the same list positions whichever journal they are given.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <type_traits>

#include "ostrelapi.h"
#include "programming/registry/registry_list.h"

namespace ostrel::registry {

// The journal of a call that never takes its changes back.
struct NoJournal {
    template <typename Node> void linked(const List<Node> &, Node *) {}
    template <typename Node>
    void detached(const List<Node> &, Detached<Node> gone) {
        std::free(gone.node);
    }
};

// The node of list with key, or a new one linked at the head (journaled).
// Null, with the list unchanged, when the new node cannot be allocated.
template <auto Key, typename Node, typename Journal>
[[nodiscard]] Node *find_or_add(Journal &journal, const List<Node> &list,
                                uint32_t key) {
    Node *node = lookup<Key>(list, key);
    if (node == nullptr) {
        node = add<Key>(list, key);
        if (node != nullptr) {
            journal.linked(list, node);
        }
    }
    return node;
}

// An entry ACEs hang from and its parent: a VLAN's interface, or a port
// channel's VLAN.
template <typename Top> struct Entry {
    Top *top;
    std::remove_pointer_t<decltype(Top::first)> *mid; // null: none
};

// The entry an ACE of an add goes to: the middle entry mid_key under the
// top entry top_key of the registry rooted in head, each found or added at
// the head of its list. mid is null when an entry cannot be allocated; a
// top entry added before that stays (journaled).
template <auto TopKey, auto MidKey, typename Top, typename Journal>
[[nodiscard]] Entry<Top> find_or_add_entry(Journal &journal, Top &head,
                                           uint32_t top_key, uint32_t mid_key) {
    Entry<Top> entry{find_or_add<TopKey>(journal, roots(head), top_key),
                     nullptr};
    if (entry.top != nullptr) {
        entry.mid = find_or_add<MidKey>(journal, children(*entry.top), mid_key);
    }
    return entry;
}

// A new ACE node for key linked at the head of aces (journaled). False,
// with nothing changed, when the node cannot be allocated.
template <typename Journal>
[[nodiscard]] bool add_ace(Journal &journal, const List<AceNode> &aces,
                           const AceKey &key) {
    AceNode *ace = brisel_ace_alloc(key.addr1, key.addr2, key.qualifier);
    if (ace == nullptr) {
        return false;
    }
    journal.linked(aces, link_front(aces, ace));
    return true;
}

// A new ACE for key at the head of the entry (top_key, mid_key), the
// entries found or added first. False when an entry or the ACE node cannot
// be allocated; what was added before that stays (journaled).
template <auto TopKey, auto MidKey, typename Top, typename Journal>
[[nodiscard]] bool add_ace_to_entry(Journal &journal, Top &head,
                                    uint32_t top_key, uint32_t mid_key,
                                    const AceKey &key) {
    auto *mid =
        find_or_add_entry<TopKey, MidKey>(journal, head, top_key, mid_key).mid;
    return mid != nullptr && add_ace(journal, children(*mid), key);
}

// Takes out the first ACE of aces equal to key, the newest of equal ones
// (journaled). False, with nothing changed, when there is none.
template <typename Journal>
bool remove_ace(Journal &journal, const List<AceNode> &aces,
                const AceKey &key) {
    const Detached<AceNode> gone =
        detach_first_if(aces, [&key](const AceNode &ace) {
            return brisel_ace_cmp(&ace, &key) == 0;
        });
    journal.detached(aces, gone);
    return gone.node != nullptr;
}

// Takes out the first node of list with key (journaled).
template <auto Key, typename Node, typename Journal>
void drop_keyed(Journal &journal, const List<Node> &list, uint32_t key) {
    journal.detached(list, detach_first_if(list, [key](const Node &node) {
                         return node.*Key == key;
                     }));
}

// As a delete leaves the registry rooted in head: the middle entry mid
// under top goes when it holds no ACE, and then top when it holds no middle
// entry (journaled). mid is not to be used afterwards.
template <auto TopKey, auto MidKey, typename Journal, typename Top,
          typename Mid>
void drop_emptied(Journal &journal, Top &head, Top &top, const Mid &mid) {
    if (mid.first != nullptr) {
        return;
    }
    drop_keyed<MidKey>(journal, children(top), mid.*MidKey);
    if (top.first == nullptr) {
        drop_keyed<TopKey>(journal, roots(head), top.*TopKey);
    }
}

} // namespace ostrel::registry
