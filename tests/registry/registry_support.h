// Shared with tests/entry: tagged ACE keys, a picture of each registry, the
// count check, and a fixture that starts and ends empty and leak-free.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <type_traits>

#include "ostrelapi.h"
#include "sim_platform.h"

namespace registry_test {

using Addr = std::array<uint8_t, 6>;

struct Tags {
    static Addr addr1_of(uint8_t t) { return {2, t, 0x11, 0x22, 0x33, t}; }
    static Addr addr2_of(uint8_t t) { return {10, t, 0x44, 0x55, 0x66, t}; }
    static AceKey key_of(uint8_t t, uint16_t q) {
        return {{2, t, 0x11, 0x22, 0x33, t}, {10, t, 0x44, 0x55, 0x66, t}, q};
    }
    // "a<tag>q<qualifier>", or "z<tag>q<qualifier>" for a zero first address.
    static std::string describe(const AceKey &k) {
        return (k.addr1[0] == 0 ? "z" : "a") + std::to_string(k.addr2[1]) +
               "q" + std::to_string(k.qualifier);
    }
    // The first word of every registry node is its key.
    template <typename N> static uint32_t key(const N *n) {
        return *reinterpret_cast<const uint32_t *>(n);
    }
    // A registry in list order (newest first): "30{5[a1q3 z2q3] 4[]} 20{}".
    template <typename Top> static std::string picture(const Top *top) {
        std::string s;
        for (; top != nullptr; top = top->next) {
            s += (s.empty() ? "" : " ") + std::to_string(key(top)) + "{";
            for (auto *mid = top->first; mid != nullptr; mid = mid->next) {
                s += (s.back() == '{' ? "" : " ") + std::to_string(key(mid));
                for (const AceNode *a = mid->first; a; a = a->next)
                    s += (a == mid->first ? "[" : " ") + describe(a->key);
                s += mid->first == nullptr ? "[]" : "]";
            }
            s += "}";
        }
        return s;
    }
    static std::string vlan_registry() { return picture(brisel_handle.next); }
    static std::string pc_registry() { return picture(brisel_pchandle.next); }
    // Every count equals the length of its list; unused head words are 0.
    template <typename N> static bool counts_match(const N *n, uint32_t c) {
        for (; n != nullptr; n = n->next, --c)
            if constexpr (!std::is_same_v<N, AceNode>)
                if (!counts_match(n->first, n->count))
                    return false;
        return c == 0;
    }
    static bool registries_consistent() {
        return counts_match(brisel_handle.next, brisel_handle.count) &&
               counts_match(brisel_pchandle.next, brisel_pchandle.count) &&
               !brisel_handle.first && !brisel_handle.vlan_id &&
               !brisel_pchandle.first && !brisel_pchandle.if_index;
    }
    // Frees nodes by hand, children first.
    template <typename N> static void free_nodes(N *node) {
        while (node != nullptr) {
            N *next = node->next;
            if constexpr (!std::is_same_v<N, AceNode>)
                free_nodes(node->first);
            std::free(node);
            node = next;
        }
    }
    static void free_registries() {
        free_nodes(brisel_handle.next);
        free_nodes(brisel_pchandle.next);
        brisel_handle = {};
        brisel_pchandle = {};
    }
};

class RegistryTest : public ::testing::Test, public Tags {
  protected:
    void SetUp() override {
        free_registries();
        sim::reset();
    }
    void TearDown() override {
        EXPECT_TRUE(registries_consistent())
            << vlan_registry() << " | " << pc_registry();
        free_registries();
        EXPECT_EQ(sim::live_allocations(), 0) << "blocks leaked";
    }
    // A new ACE node for key_of(tag, qualifier's low 16 bits).
    static AceNode *ace(uint8_t tag, uint32_t qualifier) {
        return brisel_ace_alloc(addr1_of(tag).data(), addr2_of(tag).data(),
                                qualifier);
    }
};

} // namespace registry_test
