// RegistryJournal: what a bulk call has changed in the registries, so that
// a failing change can take every earlier change of the call back.
//
// Every change is journaled as the node it linked in (a new VLAN,
// interface, port-channel, port-channel VLAN or ACE node, always at the head
// of its list) or the node it took out (detached, not freed, with the link
// that held it). undo() walks the journal backwards, so each entry finds
// its list exactly as the entry left it: a new node is at the head again
// and is unlinked and freed, a detached node goes back through its link.
// commit() frees the detached nodes instead. Node addresses survive an
// undo, so a caller holding registry nodes sees the same nodes again.
//
// The journal's own array reports a failed allocation: reserve() before a
// change, so that recording it cannot fail.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "programming/registry/malloc_array.h"
#include "programming/registry/registry_list.h"

namespace ostrel {

class RegistryJournal {
  public:
    // Room for `more` further entries. False when it cannot be allocated.
    [[nodiscard]] bool reserve(size_t more) { return entries_.reserve(more); }

    // node was just linked at the head of list.
    template <typename Node>
    void linked(const registry::List<Node> &list, Node *node) {
        push({&undo_linked<Node>, nullptr, &list.first, node, &list.count});
    }
    // gone was just detached from list (gone.node may be null: nothing to
    // record).
    template <typename Node>
    void detached(const registry::List<Node> &list,
                  registry::Detached<Node> gone) {
        if (gone.node != nullptr) {
            push({&undo_detached<Node>, &free_node, gone.link, gone.node,
                  &list.count});
        }
    }

    // Takes every journaled change back, newest first, and empties the
    // journal.
    void undo();
    // Keeps every change: frees the detached nodes, empties the journal.
    void commit();

  private:
    struct Entry {
        void (*undo)(const Entry &);
        void (*commit)(const Entry &); // null: nothing to release
        void *link;                    // Node **: the list's first link, or
                                       // the link that held a detached node
        void *node;                    // Node *
        uint32_t *count;               // the list's count
    };

    template <typename Node> static void undo_linked(const Entry &e) {
        auto *node = static_cast<Node *>(e.node);
        *static_cast<Node **>(e.link) = node->next;
        --*e.count;
        std::free(node);
    }
    template <typename Node> static void undo_detached(const Entry &e) {
        *static_cast<Node **>(e.link) = static_cast<Node *>(e.node);
        ++*e.count;
    }
    static void free_node(const Entry &e) { std::free(e.node); }

    void push(const Entry &entry) { entries_.push(entry); }

    MallocArray<Entry> entries_;
};

} // namespace ostrel
