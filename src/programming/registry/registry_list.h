// The two-level list algorithm shared by both registries (VLAN and port
// channel), written once over the node layout that OSTREL_REGISTRY_NODE
// produces: key, count, first child, next sibling.
//
// A list is named by its parent: the parent's `count` and the link that
// holds its first node. For an ordinary node (VlanNode, IntfNode, PcNode,
// PoVlanNode) that link is `first`; for the head records brisel_handle and
// brisel_pchandle, which are laid out as nodes but keep their first node in
// `next`, it is `next` (see roots()).
//
// Every list is null-terminated and runs newest first (adds link at the
// head); a parent's count equals the length of its list as long as only
// these functions change it. Lookups and deletes are linear scans that stop
// at the first match. Nodes are zeroed heap blocks from calloc, released
// with free by the deletes.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <type_traits>

#include "ostrelapi.h"

namespace ostrel::registry {

// A parent's list: the link to its first node and its node count.
template <typename Node> struct List {
    Node *&first;
    uint32_t &count;
};

// The children of an ordinary node: its `first` list.
template <typename Parent> auto children(Parent &parent) {
    using Child = std::remove_pointer_t<decltype(parent.first)>;
    return List<Child>{parent.first, parent.count};
}

// The top-level list of a head record: first node in `next`.
template <typename Head> List<Head> roots(Head &head) {
    return List<Head>{head.next, head.count};
}

// A new zeroed node, or null when the allocation fails.
template <typename Node> [[nodiscard]] Node *allocate() {
    return static_cast<Node *>(std::calloc(1, sizeof(Node)));
}

// The first node of the list for which match(node) holds, or null.
template <typename Node, typename Match>
[[nodiscard]] Node *find_if(const List<Node> &list, Match match) {
    for (Node *node = list.first; node != nullptr; node = node->next) {
        if (match(*node)) {
            return node;
        }
    }
    return nullptr;
}

// Links node in front of the list's first node and counts it. Returns node.
template <typename Node> Node *link_front(const List<Node> &list, Node *node) {
    node->next = list.first;
    list.first = node;
    ++list.count;
    return node;
}

// A node taken out of its list, and the link that held it: putting the
// node back through that link restores the list exactly, as long as the
// list has been brought back to what it was right after the node left.
template <typename Node> struct Detached {
    Node **link = nullptr;
    Node *node = nullptr; // null: nothing was detached
};

// Unlinks the first node for which match(node) holds and uncounts it,
// without freeing it. Returns an empty Detached, with nothing changed, when
// no node matches (also for an empty list).
template <typename Node, typename Match>
Detached<Node> detach_first_if(const List<Node> &list, Match match) {
    for (Node **link = &list.first; *link != nullptr; link = &(*link)->next) {
        Node *node = *link;
        if (match(*node)) {
            *link = node->next;
            --list.count;
            return {link, node};
        }
    }
    return {};
}

// Unlinks the first node for which match(node) holds, uncounts it and frees
// it. Returns false, with nothing changed, when no node matches (also for an
// empty list). match is evaluated before anything is freed.
template <typename Node, typename Match>
bool unlink_first_if(const List<Node> &list, Match match) {
    const Detached<Node> gone = detach_first_if(list, match);
    std::free(gone.node);
    return gone.node != nullptr;
}

// ---- keyed lists (VLANs, interfaces, port channels, port-channel VLANs) ----
//
// Key is the pointer to the node type's 32-bit key member (vlan_id or
// if_index), compared as a whole 32-bit value.

template <auto Key, typename Node>
[[nodiscard]] Node *lookup(const List<Node> &list, uint32_t key) {
    return find_if(list, [key](const Node &node) { return node.*Key == key; });
}

// Allocates a zeroed node holding key and links it at the head. Null, with
// nothing changed, when the allocation fails. Does not look for an equal key.
template <auto Key, typename Node>
[[nodiscard]] Node *add(const List<Node> &list, uint32_t key) {
    Node *node = allocate<Node>();
    if (node == nullptr) {
        return nullptr;
    }
    node->*Key = key;
    return link_front(list, node);
}

// Removes the first node whose key equals node's key, unless node still has
// children (non-null `first`). Returns whether a node was removed; node is
// not to be used afterwards when it was.
template <auto Key, typename Node>
bool remove_if_childless(const List<Node> &list, const Node &node) {
    if (node.first != nullptr) {
        return false;
    }
    const uint32_t key = node.*Key;
    return unlink_first_if(list,
                           [key](const Node &n) { return n.*Key == key; });
}

// ---- ACE lists (of an IntfNode or a PoVlanNode) ----

// First ACE equal to key (brisel_ace_cmp), or null.
[[nodiscard]] inline AceNode *ace_lookup(const List<AceNode> &list,
                                         const AceKey &key) {
    return find_if(list, [&key](const AceNode &ace) {
        return brisel_ace_cmp(&ace, &key) == 0;
    });
}

// Removes the first ACE equal to key, the newest of equal ones. Returns
// whether one was removed.
inline bool ace_remove(const List<AceNode> &list, const AceKey &key) {
    return unlink_first_if(list, [&key](const AceNode &ace) {
        return brisel_ace_cmp(&ace, &key) == 0;
    });
}

} // namespace ostrel::registry
