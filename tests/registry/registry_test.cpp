// Both programming registries through one typed suite, then what only one
// of them does, and the ACE node they share.
#include "library_state.h"

namespace ostrel_test {
namespace {

// One registry's operations under common names.
#define REGISTRY_SIDE(Side, head_, Top_, Mid_, top, mid, ace)                  \
    struct Side {                                                              \
        using Top = Top_;                                                      \
        using Mid = Mid_;                                                      \
        static constexpr auto &head = head_;                                   \
        static constexpr auto add_top = brisel_##top##_add;                    \
        static constexpr auto find_top = brisel_##top##_lookup;                \
        static constexpr auto del_top = brisel_##top##_del;                    \
        static constexpr auto add_mid = brisel_##mid##_add;                    \
        static constexpr auto find_mid = brisel_##mid##_lookup;                \
        static constexpr auto del_mid = brisel_##mid##_del;                    \
        static constexpr auto add_ace = brisel_##ace##_add;                    \
        static constexpr auto find_ace = brisel_##ace##_lookup;                \
        static constexpr auto del_ace = brisel_##ace##_del;                    \
        static constexpr auto malloc_top = brisel_##top##_malloc;              \
        static constexpr auto malloc_mid = brisel_##mid##_malloc;              \
    }
REGISTRY_SIDE(Vlans, brisel_handle, VlanNode, IntfNode, vlan, intf, ace);
REGISTRY_SIDE(Pcs, brisel_pchandle, PcNode, PoVlanNode, pc, povlan, poace);

template <typename S> class BothRegistries : public LibraryTest {};
using Sides = ::testing::Types<Vlans, Pcs>;
TYPED_TEST_SUITE(BothRegistries, Sides);

AceNode *ace(uint32_t tag, uint32_t qualifier) {
    return brisel_ace_alloc(addr1_of(tag).data(), addr2_of(tag).data(),
                            qualifier);
}

TYPED_TEST(BothRegistries, AddsGoInFrontLookupsAndDeletesMatchWholeKeys) {
    using S = TypeParam;
    auto *small = S::add_top(10), *big = S::add_top(0x12345678);
    auto *mid = S::add_mid(big, 0xdead0005);
    S::add_mid(big, 6);
    for (uint32_t tag : {1, 2, 1, 3})
        S::add_ace(mid, ace(tag, tag));
    EXPECT_EQ(picture(S::head.next),
              "305419896{6[] 3735879685[a3q3 a1q1 a2q2 a1q1]} 10{}");
    EXPECT_EQ(S::find_top(10), small);
    EXPECT_EQ(S::find_top(0x5678), nullptr);
    EXPECT_EQ(S::find_mid(big, 0xdead0005), mid);
    EXPECT_EQ(S::find_mid(small, 0xdead0005), nullptr);
    const AceKey k1 = key_of(1, 1), k1q2 = key_of(1, 2);
    EXPECT_EQ(S::find_ace(mid, &k1), mid->first->next); // the newer one
    EXPECT_EQ(S::del_ace(mid, &k1q2), 0u); // only the qualifier differs
    EXPECT_EQ(S::del_ace(mid, &k1), 0u);
    EXPECT_EQ(S::del_ace(mid, &mid->first->key), 0u); // key inside the node
    EXPECT_EQ(picture(S::head.next),
              "305419896{6[] 3735879685[a2q2 a1q1]} 10{}");
}

TYPED_TEST(BothRegistries, DeletesFreeOnlyEmptyNodesWhereverTheyLie) {
    using S = TypeParam;
    typename S::Top absent{99, 0, nullptr, nullptr};
    EXPECT_EQ(S::del_top(&absent), 0u);       // empty registry
    for (uint32_t victim : {30u, 20u, 10u}) { // first, middle, last
        for (uint32_t k : {10u, 20u, 30u})
            S::add_top(k);
        typename S::Top key_only{victim, 0, nullptr, nullptr};
        EXPECT_EQ(S::del_top(&key_only) + S::del_top(&absent), 0u);
        EXPECT_EQ(S::find_top(victim), nullptr);
        EXPECT_EQ(ostrel::sim::live_allocations(), held_blocks()) << victim;
        EXPECT_TRUE(registries_consistent());
        reset_library();
    }
    auto *top = S::add_top(10);
    auto *mid = S::add_mid(top, 5);
    typename S::Mid absent_mid{99, 0, nullptr, nullptr};
    EXPECT_EQ(S::del_mid(top, &absent_mid), 0u);
    S::add_ace(mid, ace(1, 1));
    EXPECT_EQ(S::del_mid(top, mid) + S::del_top(top), 0u); // not empty
    EXPECT_EQ(picture(S::head.next), "10{5[a1q1]}");
    ostrel::sim::fail_allocation(1);
    EXPECT_EQ(S::add_top(11), nullptr);
    ostrel::sim::fail_allocation(1);
    EXPECT_EQ(S::add_mid(top, 6), nullptr);
    EXPECT_EQ(picture(S::head.next), "10{5[a1q1]}");
    for (auto *make : {+[] { return (void *)S::malloc_top(); },
                       +[] { return (void *)S::malloc_mid(); }}) {
        ostrel::sim::fail_allocation(1);
        EXPECT_EQ(make(), nullptr);
        void *blank = make();
        const typename S::Mid zero{};
        EXPECT_EQ(std::memcmp(blank, &zero, sizeof zero), 0);
        std::free(blank);
    }
}

using Registries = LibraryTest;

TEST_F(Registries, BriselStartForgetsVlansWithoutFreeingAndKeepsPortChannels) {
    VlanNode *vlan = brisel_vlan_add(10);
    brisel_ace_add(brisel_intf_add(vlan, 5), ace(1, 1));
    brisel_pc_add(100);
    brisel_handle.vlan_id = 0x55; // the unused head words are cleared too
    brisel_handle.first = vlan->first;
    brisel_start();
    EXPECT_TRUE(registries_consistent());
    EXPECT_EQ(vlan_registry() + "|" + pc_registry(), "|100{}");
    EXPECT_EQ(ostrel::sim::live_allocations(), held_blocks() + 3);
    free_nodes(vlan);
}

TEST_F(Registries, RemovingTheLastCountedPortChannelClearsTheHead) {
    PcNode *uncounted = brisel_pc_add(101);
    PcNode *pc = brisel_pc_add(100);
    brisel_pchandle.count = 1;
    EXPECT_EQ(brisel_pc_del(pc), 0u);
    EXPECT_EQ(brisel_pchandle.next, nullptr);
    EXPECT_EQ(brisel_pchandle.count, 0u);
    brisel_pchandle = {0, 1, nullptr, uncounted}; // freed by TearDown
}

TEST_F(Registries, AceNodesHoldTheirKeyAndCompareAllOfItAndNothingElse) {
    ostrel::sim::fail_allocation(1);
    EXPECT_EQ(ace(1, 1), nullptr);
    AceNode *node = ace(1, 0xabcd0102u), *blank = brisel_ace_malloc(), zero{};
    EXPECT_EQ(std::memcmp(blank, &zero, sizeof zero), 0);
    std::free(blank);
    AceNode other{key_of(1, 0x0102), nullptr}; // the qualifier's low 16 bits
    EXPECT_EQ(std::memcmp(node, &other, sizeof other), 0);
    std::memset(&other, 0xff, sizeof other); // bytes past the key: ignored
    other.key = node->key;
    EXPECT_EQ(brisel_ace_cmp(&other, &node->key), 0);
    for (size_t byte = 0; byte < sizeof(AceKey); ++byte)
        for (uint8_t delta : {1, 255}) { // one higher, one lower: never > 0
            AceKey k = node->key;
            reinterpret_cast<uint8_t *>(&k)[byte] += delta;
            EXPECT_EQ(brisel_ace_cmp(node, &k), -1) << byte;
        }
    std::free(node);
}

} // namespace
} // namespace ostrel_test
