// Support for the hardening tests: registry invariant checks and teardown
// that walk brisel_handle and brisel_pchandle, the batch well-formedness
// check of the bytes put on the transport, and client-style calls.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "ostrelapi.h"
#include "programming/programming_internal.h"
#include "sim_platform.h"

namespace hardening {

inline constexpr yarl_handle_t kHandle = 0x77;
using Addr = std::array<uint8_t, 6>;

// Distinct, nonzero addresses for ACE number `tag`.
inline Addr addr1_of(uint32_t tag) {
    return {0x02,
            static_cast<uint8_t>(tag >> 8),
            static_cast<uint8_t>(tag),
            0x11,
            0x22,
            0x33};
}
inline Addr addr2_of(uint32_t tag) {
    return {0x0a,
            0,
            0,
            0,
            static_cast<uint8_t>(tag >> 8),
            static_cast<uint8_t>(tag)};
}
inline const Addr kZeroAddr{};

// Length of a null-terminated list, or -1 when it does not end within
// `limit` nodes (a cycle or a lost terminator).
template <typename Node> long list_length(const Node *first, long limit) {
    long n = 0;
    for (const Node *p = first; p != nullptr; p = p->next) {
        if (++n > limit) {
            return -1;
        }
    }
    return n;
}

inline constexpr long kListLimit = 1L << 20;

// Every count equals its list's length, every list ends, keys are unique in
// their list and the unused words of the heads stay zero.
template <typename Parent>
void expect_children_consistent(const Parent *parent, const char *what) {
    const long len = list_length(parent->first, kListLimit);
    EXPECT_EQ(len, static_cast<long>(parent->count)) << what;
}

template <typename Node>
void expect_unique_keys(const Node *first, uint32_t Node::*key,
                        const char *what) {
    std::set<uint32_t> seen;
    for (const Node *p = first; p != nullptr; p = p->next) {
        EXPECT_TRUE(seen.insert(p->*key).second) << what << " " << p->*key;
    }
}

inline void expect_registry_invariants() {
    EXPECT_EQ(brisel_handle.vlan_id, 0u);
    EXPECT_EQ(brisel_handle.first, nullptr);
    ASSERT_EQ(list_length(brisel_handle.next, kListLimit),
              static_cast<long>(brisel_handle.count));
    expect_unique_keys(brisel_handle.next, &VlanNode::vlan_id, "vlan");
    for (const VlanNode *v = brisel_handle.next; v; v = v->next) {
        expect_children_consistent(v, "interfaces of a vlan");
        expect_unique_keys(v->first, &IntfNode::if_index, "interface");
        for (const IntfNode *i = v->first; i; i = i->next) {
            expect_children_consistent(i, "aces of an interface");
        }
    }
    EXPECT_EQ(brisel_pchandle.if_index, 0u);
    EXPECT_EQ(brisel_pchandle.first, nullptr);
    ASSERT_EQ(list_length(brisel_pchandle.next, kListLimit),
              static_cast<long>(brisel_pchandle.count));
    expect_unique_keys(brisel_pchandle.next, &PcNode::if_index, "pc");
    for (const PcNode *pc = brisel_pchandle.next; pc; pc = pc->next) {
        expect_children_consistent(pc, "vlans of a port channel");
        expect_unique_keys(pc->first, &PoVlanNode::vlan_id, "pc vlan");
        for (const PoVlanNode *pv = pc->first; pv; pv = pv->next) {
            expect_children_consistent(pv, "aces of a port-channel vlan");
        }
    }
}

template <typename Node> void free_list(Node *first) {
    while (first != nullptr) {
        Node *next = first->next;
        std::free(first);
        first = next;
    }
}

// Frees every node of both registries and empties their heads.
inline void free_registries() {
    for (VlanNode *v = brisel_handle.next; v; v = v->next) {
        for (IntfNode *i = v->first; i; i = i->next) {
            free_list(i->first);
        }
        free_list(v->first);
    }
    free_list(brisel_handle.next);
    for (PcNode *pc = brisel_pchandle.next; pc; pc = pc->next) {
        for (PoVlanNode *pv = pc->first; pv; pv = pv->next) {
            free_list(pv->first);
        }
        free_list(pc->first);
    }
    free_list(brisel_pchandle.next);
    brisel_start();
    brisel_pchandle = PcNode{};
}

// Releases an open batch and clears the builder's flags.
inline void clear_builder_state() {
    std::free(batch_buf);
    batch_buf = nullptr;
    batch_len = 0;
    pc_override_if_index = 0;
    did_yarl_send = 0;
}

// Fresh platform, empty registries, no open batch.
inline void start_clean() {
    free_registries();
    clear_builder_state();
    sim::reset();
}

// Whether the bytes of one batch hold a head whose count equals the number
// of requests behind it, requests of 24 + 64 * num_aces bytes that add up
// to the length exactly, within the batch size. Empty: well formed; else
// the reason.
inline std::string batch_defect(const std::vector<uint8_t> &payload) {
    if (payload.size() < 8) {
        return "shorter than the batch head";
    }
    if (payload.size() > ostrel::kBatchSize) {
        return "longer than a batch";
    }
    uint32_t count = 0;
    std::memcpy(&count, payload.data() + 4, 4);
    size_t off = 8;
    uint32_t requests = 0;
    while (off < payload.size()) {
        if (off + 24 > payload.size()) {
            return "a request header runs past the end";
        }
        uint32_t num_aces = 0;
        std::memcpy(&num_aces, payload.data() + off + 20, 4);
        const size_t size = 24 + 64 * size_t{num_aces};
        if (size > payload.size() - off) {
            return "a request runs past the end";
        }
        off += size;
        ++requests;
    }
    if (requests != count) {
        return "head count " + std::to_string(count) + " but " +
               std::to_string(requests) + " requests";
    }
    return "";
}

// Counts of the library's calls since reset().
inline size_t sends() {
    return sim::count_of(sim::Op::Send);
}

} // namespace hardening
