// Test support for both registries: a readable picture of a registry, the
// count == list length invariant, and a fixture that starts every test with
// empty registries and a reset simulated platform and frees whatever a test
// leaves behind. Shared with tests/entry.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ostrelapi.h"
#include "sim_platform.h"

namespace registry_test {

using Addr = std::array<uint8_t, 6>;

// ACE identities with a recognisable tag in both addresses.
inline Addr addr1_of(uint8_t tag) {
    return Addr{0x02, tag, 0x11, 0x22, 0x33, tag};
}
inline Addr addr2_of(uint8_t tag) {
    return Addr{0x0a, tag, 0x44, 0x55, 0x66, tag};
}
inline constexpr Addr kZeroAddr{};

inline AceKey key_of(const Addr &a1, const Addr &a2, uint16_t qualifier) {
    AceKey k{};
    std::memcpy(k.addr1, a1.data(), 6);
    std::memcpy(k.addr2, a2.data(), 6);
    k.qualifier = qualifier;
    return k;
}
inline AceKey key_of(uint8_t tag, uint16_t qualifier) {
    return key_of(addr1_of(tag), addr2_of(tag), qualifier);
}

// "a<tag>q<qualifier>" for keys made by key_of(tag, q), "z<tag>q<q>" for a
// zero first address with addr2_of(tag), else a hex dump.
inline std::string describe(const AceKey &k) {
    char buf[96];
    const bool zero1 = std::memcmp(k.addr1, kZeroAddr.data(), 6) == 0;
    if (std::memcmp(k.addr2, addr2_of(k.addr2[1]).data(), 6) == 0 &&
        (zero1 || std::memcmp(k.addr1, addr1_of(k.addr2[1]).data(), 6) == 0)) {
        std::snprintf(buf, sizeof buf, "%c%uq%u", zero1 ? 'z' : 'a', k.addr2[1],
                      k.qualifier);
    } else {
        std::snprintf(buf, sizeof buf,
                      "%02x%02x%02x%02x%02x%02x/%02x%02x%02x%02x%02x%02xq%u",
                      k.addr1[0], k.addr1[1], k.addr1[2], k.addr1[3],
                      k.addr1[4], k.addr1[5], k.addr2[0], k.addr2[1],
                      k.addr2[2], k.addr2[3], k.addr2[4], k.addr2[5],
                      k.qualifier);
    }
    return buf;
}

inline std::string describe_aces(const AceNode *ace) {
    std::string s;
    for (; ace != nullptr; ace = ace->next) {
        if (!s.empty())
            s += ' ';
        s += describe(ace->key);
    }
    return s;
}

// A registry in list order (newest first), e.g. "30{5[a1q3 a2q3] 4[]} 20{}".
template <typename Parent> std::string describe_children(const Parent *first) {
    std::string s;
    for (const Parent *p = first; p != nullptr; p = p->next) {
        if (!s.empty())
            s += ' ';
        s += std::to_string(
            *reinterpret_cast<const uint32_t *>(p)); // the key word
        s += '{';
        std::string inner;
        for (auto *c = p->first; c != nullptr; c = c->next) {
            if (!inner.empty())
                inner += ' ';
            inner += std::to_string(*reinterpret_cast<const uint32_t *>(c));
            inner += '[' + describe_aces(c->first) + ']';
        }
        s += inner + '}';
    }
    return s;
}
inline std::string vlan_registry() {
    return describe_children(brisel_handle.next);
}
inline std::string pc_registry() {
    return describe_children(brisel_pchandle.next);
}

// Every count equals the length of its list, and the unused words of the
// heads stay zero.
template <typename Node> size_t length(const Node *n) {
    size_t len = 0;
    for (; n != nullptr; n = n->next)
        ++len;
    return len;
}
template <typename Head>
::testing::AssertionResult counts_match_lengths(const Head &head,
                                                const char *name) {
    if (head.count != length(head.next))
        return ::testing::AssertionFailure()
               << name << ".count " << head.count << " but "
               << length(head.next) << " nodes";
    if (*reinterpret_cast<const uint32_t *>(&head) != 0 ||
        head.first != nullptr)
        return ::testing::AssertionFailure()
               << name << ": unused words not zero";
    for (auto *p = head.next; p != nullptr; p = p->next) {
        if (p->count != length(p->first))
            return ::testing::AssertionFailure()
                   << name << ": node " << p->count << " count vs "
                   << length(p->first);
        for (auto *c = p->first; c != nullptr; c = c->next)
            if (c->count != length(c->first))
                return ::testing::AssertionFailure()
                       << name << ": child count " << c->count << " vs "
                       << length(c->first);
    }
    return ::testing::AssertionSuccess();
}
inline ::testing::AssertionResult registries_consistent() {
    auto v = counts_match_lengths(brisel_handle, "brisel_handle");
    if (!v)
        return v;
    return counts_match_lengths(brisel_pchandle, "brisel_pchandle");
}

// Frees every node of a registry by hand and empties its head.
template <typename Head> void free_all(Head &head) {
    for (auto *p = head.next; p != nullptr;) {
        for (auto *c = p->first; c != nullptr;) {
            for (AceNode *a = c->first; a != nullptr;) {
                AceNode *next = a->next;
                std::free(a);
                a = next;
            }
            auto *next = c->next;
            std::free(c);
            c = next;
        }
        auto *next = p->next;
        std::free(p);
        p = next;
    }
    head = Head{};
}

class RegistryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        free_all(brisel_handle);
        free_all(brisel_pchandle);
        sim::reset();
    }
    void TearDown() override {
        EXPECT_TRUE(registries_consistent());
        free_all(brisel_handle);
        free_all(brisel_pchandle);
        EXPECT_EQ(sim::live_allocations(), 0) << "blocks leaked";
    }
};

} // namespace registry_test
