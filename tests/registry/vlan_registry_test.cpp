// The VLAN registry (spec Part 1.2): VLANs -> interfaces -> ACEs under
// brisel_handle.
#include <algorithm>

#include "registry_support.h"

namespace registry_test {
namespace {

using VlanRegistry = RegistryTest;

AceNode *add_ace(IntfNode *intf, uint8_t tag, uint16_t qualifier) {
    AceNode *ace =
        brisel_ace_alloc(addr1_of(tag).data(), addr2_of(tag).data(), qualifier);
    EXPECT_NE(ace, nullptr);
    return brisel_ace_add(intf, ace);
}

TEST_F(VlanRegistry, EveryLookupInAnEmptyRegistryFindsNothing) {
    EXPECT_EQ(brisel_vlan_lookup(10), nullptr);
    EXPECT_EQ(brisel_vlan_lookup(0), nullptr);
    EXPECT_EQ(brisel_handle.count, 0u);
    EXPECT_EQ(brisel_handle.next, nullptr);

    VlanNode *vlan = brisel_vlan_add(10);
    ASSERT_NE(vlan, nullptr);
    EXPECT_EQ(brisel_intf_lookup(vlan, 5), nullptr);
    EXPECT_EQ(brisel_intf_get_first(vlan), nullptr);
    IntfNode *intf = brisel_intf_add(vlan, 5);
    ASSERT_NE(intf, nullptr);
    AceKey key = key_of(1, 3);
    EXPECT_EQ(brisel_ace_lookup(intf, &key), nullptr);
}

TEST_F(VlanRegistry, NewVlansGoInFrontSoTheListRunsNewestFirst) {
    VlanNode *v10 = brisel_vlan_add(10);
    VlanNode *v20 = brisel_vlan_add(20);
    VlanNode *v30 = brisel_vlan_add(30);
    EXPECT_EQ(vlan_registry(), "30{} 20{} 10{}");
    EXPECT_EQ(brisel_handle.count, 3u);
    EXPECT_EQ(brisel_handle.next, v30);
    EXPECT_EQ(brisel_vlan_lookup(10), v10);
    EXPECT_EQ(brisel_vlan_lookup(20), v20);
    EXPECT_EQ(brisel_vlan_lookup(30), v30);
    EXPECT_EQ(brisel_vlan_lookup(40), nullptr);
}

TEST_F(VlanRegistry, AddedNodesHoldTheirKeyAndNothingElse) {
    VlanNode *vlan = brisel_vlan_add(0xdeadbeef);
    ASSERT_NE(vlan, nullptr);
    EXPECT_EQ(vlan->vlan_id, 0xdeadbeefu);
    EXPECT_EQ(vlan->count, 0u);
    EXPECT_EQ(vlan->first, nullptr);
    EXPECT_EQ(vlan->next, nullptr);
    IntfNode *intf = brisel_intf_add(vlan, 0x12345678);
    ASSERT_NE(intf, nullptr);
    EXPECT_EQ(intf->if_index, 0x12345678u);
    EXPECT_EQ(intf->count, 0u);
    EXPECT_EQ(intf->first, nullptr);
    EXPECT_EQ(intf->next, nullptr);
    EXPECT_EQ(vlan->count, 1u);
    EXPECT_EQ(vlan->first, intf);
    // VLAN ids are compared as whole 32-bit values.
    EXPECT_EQ(brisel_vlan_lookup(0xbeef), nullptr);
    EXPECT_EQ(brisel_intf_lookup(vlan, 0x5678), nullptr);
}

TEST_F(VlanRegistry, InterfacesIterateNewestFirstAndTheLastHasNoNext) {
    VlanNode *vlan = brisel_vlan_add(10);
    IntfNode *a = brisel_intf_add(vlan, 1);
    IntfNode *b = brisel_intf_add(vlan, 2);
    IntfNode *c = brisel_intf_add(vlan, 3);
    EXPECT_EQ(brisel_intf_get_first(vlan), c);
    EXPECT_EQ(brisel_intf_get_next(vlan, c), b);
    EXPECT_EQ(brisel_intf_get_next(vlan, b), a);
    EXPECT_EQ(brisel_intf_get_next(vlan, a), nullptr);
    // The VLAN argument of get_next is not used.
    EXPECT_EQ(brisel_intf_get_next(nullptr, c), b);
    EXPECT_EQ(vlan->count, 3u);
    EXPECT_EQ(brisel_intf_lookup(vlan, 2), b);
}

TEST_F(VlanRegistry, AnInterfaceKeyIsLookedUpOnlyInItsOwnVlan) {
    VlanNode *v10 = brisel_vlan_add(10);
    VlanNode *v20 = brisel_vlan_add(20);
    IntfNode *i = brisel_intf_add(v10, 5);
    EXPECT_EQ(brisel_intf_lookup(v10, 5), i);
    EXPECT_EQ(brisel_intf_lookup(v20, 5), nullptr);
}

TEST_F(VlanRegistry, AVlanWithAnInterfaceIsNotDeleted) {
    VlanNode *vlan = brisel_vlan_add(10);
    brisel_intf_add(vlan, 5);
    EXPECT_EQ(brisel_vlan_del(vlan), 0u);
    EXPECT_EQ(vlan_registry(), "10{5[]}");
    EXPECT_EQ(brisel_handle.count, 1u);
}

TEST_F(VlanRegistry, AnInterfaceWithAnAceIsNotDeleted) {
    VlanNode *vlan = brisel_vlan_add(10);
    IntfNode *intf = brisel_intf_add(vlan, 5);
    add_ace(intf, 1, 7);
    EXPECT_EQ(brisel_intf_del(vlan, intf), 0u);
    EXPECT_EQ(vlan_registry(), "10{5[a1q7]}");
    EXPECT_EQ(vlan->count, 1u);
}

TEST_F(VlanRegistry, EmptyNodesAreUnlinkedWhereverTheyLieAndFreed) {
    for (uint32_t victim : {10u, 20u, 30u}) { // last, middle, first of the list
        VlanNode *v10 = brisel_vlan_add(10);
        VlanNode *v20 = brisel_vlan_add(20);
        VlanNode *v30 = brisel_vlan_add(30);
        VlanNode *by_key[] = {v10, v20, v30};
        long live = sim::live_allocations();
        EXPECT_EQ(brisel_vlan_del(by_key[victim / 10 - 1]), 0u);
        EXPECT_EQ(sim::live_allocations(), live - 1);
        EXPECT_EQ(brisel_handle.count, 2u);
        EXPECT_EQ(brisel_vlan_lookup(victim), nullptr);
        std::string expected;
        for (uint32_t k : {30u, 20u, 10u})
            if (k != victim) {
                expected +=
                    (expected.empty() ? "" : " ") + std::to_string(k) + "{}";
            }
        EXPECT_EQ(vlan_registry(), expected) << "deleting " << victim;
        EXPECT_TRUE(registries_consistent());
        free_all(brisel_handle);
    }
}

TEST_F(VlanRegistry, InterfacesAreUnlinkedWhereverTheyLie) {
    VlanNode *vlan = brisel_vlan_add(10);
    IntfNode *a = brisel_intf_add(vlan, 1);
    IntfNode *b = brisel_intf_add(vlan, 2);
    IntfNode *c = brisel_intf_add(vlan, 3);
    EXPECT_EQ(brisel_intf_del(vlan, b), 0u);
    EXPECT_EQ(vlan_registry(), "10{3[] 1[]}");
    EXPECT_EQ(brisel_intf_del(vlan, c), 0u);
    EXPECT_EQ(vlan_registry(), "10{1[]}");
    EXPECT_EQ(brisel_intf_del(vlan, a), 0u);
    EXPECT_EQ(vlan_registry(), "10{}");
    EXPECT_EQ(vlan->count, 0u);
    EXPECT_EQ(vlan->first, nullptr);
    EXPECT_EQ(brisel_vlan_del(vlan), 0u);
    EXPECT_EQ(vlan_registry(), "");
    EXPECT_EQ(brisel_handle.count, 0u);
    EXPECT_EQ(brisel_handle.next, nullptr);
    EXPECT_EQ(sim::live_allocations(), 0);
}

TEST_F(VlanRegistry, DeletingAKeyThatIsNotListedChangesNothing) {
    // An empty registry.
    VlanNode stray{};
    stray.vlan_id = 10;
    EXPECT_EQ(brisel_vlan_del(&stray), 0u);
    EXPECT_EQ(brisel_handle.count, 0u);
    EXPECT_EQ(brisel_handle.next, nullptr);

    // A VLAN without interfaces, and one with some.
    VlanNode *vlan = brisel_vlan_add(20);
    IntfNode stray_intf{};
    stray_intf.if_index = 9;
    EXPECT_EQ(brisel_intf_del(vlan, &stray_intf), 0u);
    EXPECT_EQ(vlan->count, 0u);
    brisel_intf_add(vlan, 5);
    EXPECT_EQ(brisel_intf_del(vlan, &stray_intf), 0u);
    EXPECT_EQ(brisel_vlan_del(&stray), 0u);
    EXPECT_EQ(vlan_registry(), "20{5[]}");
    EXPECT_EQ(brisel_handle.count, 1u);
    EXPECT_EQ(vlan->count, 1u);

    // An ACE that is not there, on an empty and a non-empty list.
    IntfNode *intf = brisel_intf_lookup(vlan, 5);
    AceKey absent = key_of(9, 9);
    EXPECT_EQ(brisel_ace_del(intf, &absent), 0u);
    add_ace(intf, 1, 1);
    EXPECT_EQ(brisel_ace_del(intf, &absent), 0u);
    EXPECT_EQ(vlan_registry(), "20{5[a1q1]}");
    EXPECT_EQ(intf->count, 1u);
}

TEST_F(VlanRegistry, DeletesMatchByKeyNotByNodeIdentity) {
    // A node that only carries the key stands for the registered one.
    brisel_vlan_add(10);
    VlanNode *v20 = brisel_vlan_add(20);
    VlanNode key_only{};
    key_only.vlan_id = 20;
    EXPECT_EQ(brisel_vlan_del(&key_only), 0u);
    EXPECT_EQ(vlan_registry(), "10{}");
    (void)v20; // freed by the delete
}

TEST_F(VlanRegistry, OfTwoEqualAcesTheNewerIsFoundAndDeleted) {
    VlanNode *vlan = brisel_vlan_add(10);
    IntfNode *intf = brisel_intf_add(vlan, 5);
    AceNode *older = add_ace(intf, 1, 7);
    AceNode *newer = add_ace(intf, 1, 7);
    EXPECT_EQ(intf->count, 2u);
    AceKey key = key_of(1, 7);
    EXPECT_EQ(brisel_ace_lookup(intf, &key), newer);
    EXPECT_EQ(brisel_ace_del(intf, &key), 0u);
    EXPECT_EQ(intf->count, 1u);
    EXPECT_EQ(intf->first, older);
    EXPECT_EQ(older->next, nullptr);
    EXPECT_EQ(brisel_ace_lookup(intf, &key), older);
}

TEST_F(VlanRegistry, AcesAreUnlinkedWhereverTheyLie) {
    VlanNode *vlan = brisel_vlan_add(10);
    IntfNode *intf = brisel_intf_add(vlan, 5);
    for (uint8_t tag = 1; tag <= 4; ++tag)
        add_ace(intf, tag, tag);
    EXPECT_EQ(vlan_registry(), "10{5[a4q4 a3q3 a2q2 a1q1]}");
    AceKey k3 = key_of(3, 3), k1 = key_of(1, 1), k4 = key_of(4, 4),
           k2 = key_of(2, 2);
    EXPECT_EQ(brisel_ace_del(intf, &k3), 0u);
    EXPECT_EQ(vlan_registry(), "10{5[a4q4 a2q2 a1q1]}");
    EXPECT_EQ(brisel_ace_del(intf, &k1), 0u);
    EXPECT_EQ(vlan_registry(), "10{5[a4q4 a2q2]}");
    EXPECT_EQ(brisel_ace_del(intf, &k4), 0u);
    EXPECT_EQ(vlan_registry(), "10{5[a2q2]}");
    // The key may lie in the node being deleted.
    EXPECT_EQ(brisel_ace_del(intf, &brisel_ace_lookup(intf, &k2)->key), 0u);
    EXPECT_EQ(vlan_registry(), "10{5[]}");
    EXPECT_EQ(intf->count, 0u);
    EXPECT_EQ(intf->first, nullptr);
}

TEST_F(VlanRegistry,
       BriselStartForgetsEveryVlanWithoutFreeingAndKeepsPortChannels) {
    VlanNode *vlan = brisel_vlan_add(10);
    IntfNode *intf = brisel_intf_add(vlan, 5);
    add_ace(intf, 1, 1);
    PcNode *pc = brisel_pc_add(100);
    long live = sim::live_allocations();

    brisel_start();
    EXPECT_EQ(brisel_vlan_lookup(10), nullptr);
    EXPECT_EQ(brisel_handle.count, 0u);
    EXPECT_EQ(brisel_handle.next, nullptr);
    EXPECT_EQ(brisel_handle.vlan_id, 0u);
    EXPECT_EQ(brisel_handle.first, nullptr);
    EXPECT_EQ(sim::live_allocations(), live); // nothing freed
    EXPECT_EQ(brisel_pc_lookup(100), pc);
    EXPECT_EQ(brisel_pchandle.count, 1u);

    // The forgotten nodes are still whole; free them by hand.
    VlanNode head{};
    head.count = 1;
    head.next = vlan;
    free_all(head);
}

TEST_F(VlanRegistry, BriselStartClearsTheUnusedHeadWordsToo) {
    brisel_handle.vlan_id = 0x55;
    brisel_handle.first = reinterpret_cast<IntfNode *>(&brisel_handle);
    brisel_start();
    EXPECT_EQ(brisel_handle.vlan_id, 0u);
    EXPECT_EQ(brisel_handle.first, nullptr);
}

TEST_F(VlanRegistry, TheCountsAlwaysEqualTheListLengths) {
    // A seeded walk of adds and deletes over a few keys, checked against
    // the invariant after every step.
    uint64_t x = 0x9e3779b97f4a7c15ull;
    auto next = [&x](uint32_t bound) {
        x ^= x << 13, x ^= x >> 7, x ^= x << 17;
        return static_cast<uint32_t>(x % bound);
    };
    for (int step = 0; step < 3000; ++step) {
        uint32_t vlan_id = 1 + next(4), if_index = 1 + next(4);
        uint8_t tag = static_cast<uint8_t>(1 + next(3));
        AceKey key = key_of(tag, tag);
        VlanNode *vlan = brisel_vlan_lookup(vlan_id);
        IntfNode *intf = vlan ? brisel_intf_lookup(vlan, if_index) : nullptr;
        switch (next(6)) {
        case 0:
            if (!vlan) {
                ASSERT_NE(brisel_vlan_add(vlan_id), nullptr);
            }
            break;
        case 1:
            if (vlan && !intf) {
                ASSERT_NE(brisel_intf_add(vlan, if_index), nullptr);
            }
            break;
        case 2:
            if (intf) {
                add_ace(intf, tag, tag);
            }
            break;
        case 3:
            if (intf) {
                EXPECT_EQ(brisel_ace_del(intf, &key), 0u);
            }
            break;
        case 4:
            if (intf) {
                EXPECT_EQ(brisel_intf_del(vlan, intf), 0u);
            }
            break;
        default:
            if (vlan) {
                EXPECT_EQ(brisel_vlan_del(vlan), 0u);
            }
            break;
        }
        ASSERT_TRUE(registries_consistent()) << "after step " << step;
    }
    // Emptied by the registry's own deletes, nothing stays allocated.
    while (VlanNode *vlan = brisel_handle.next) {
        while (IntfNode *intf = vlan->first) {
            while (intf->first)
                EXPECT_EQ(brisel_ace_del(intf, &intf->first->key), 0u);
            EXPECT_EQ(brisel_intf_del(vlan, intf), 0u);
        }
        EXPECT_EQ(brisel_vlan_del(vlan), 0u);
    }
    EXPECT_EQ(sim::live_allocations(), 0);
}

// ---- allocation ----

TEST_F(VlanRegistry, MallocsGiveZeroedNodes) {
    VlanNode *v = brisel_vlan_malloc();
    IntfNode *i = brisel_intf_malloc();
    AceNode *a = brisel_ace_malloc();
    ASSERT_TRUE(v && i && a);
    // Large enough for every node type (an AceNode is the larger one on
    // 32-bit builds).
    const uint8_t zero[std::max(sizeof(VlanNode), sizeof(AceNode))] = {};
    EXPECT_EQ(std::memcmp(v, zero, sizeof *v), 0);
    EXPECT_EQ(std::memcmp(i, zero, sizeof *i), 0);
    EXPECT_EQ(std::memcmp(a, zero, sizeof *a), 0);
    EXPECT_EQ(sim::live_allocations(), 3);
    std::free(v);
    std::free(i);
    std::free(a);
    EXPECT_EQ(brisel_handle.count, 0u); // mallocs link nothing
}

TEST_F(VlanRegistry, FailedAllocationsGiveNullAndLeaveTheRegistryUnchanged) {
    VlanNode *vlan = brisel_vlan_add(10);
    IntfNode *intf = brisel_intf_add(vlan, 5);
    add_ace(intf, 1, 1);
    const std::string before = vlan_registry();
    const long live = sim::live_allocations();

    sim::fail_allocation(1);
    EXPECT_EQ(brisel_vlan_add(20), nullptr);
    sim::fail_allocation(1);
    EXPECT_EQ(brisel_intf_add(vlan, 6), nullptr);
    sim::fail_allocation(1);
    EXPECT_EQ(brisel_ace_alloc(addr1_of(2).data(), addr2_of(2).data(), 2),
              nullptr);
    sim::fail_allocation(1);
    EXPECT_EQ(brisel_vlan_malloc(), nullptr);
    sim::fail_allocation(1);
    EXPECT_EQ(brisel_intf_malloc(), nullptr);
    sim::fail_allocation(1);
    EXPECT_EQ(brisel_ace_malloc(), nullptr);

    EXPECT_EQ(vlan_registry(), before);
    EXPECT_EQ(brisel_handle.count, 1u);
    EXPECT_EQ(vlan->count, 1u);
    EXPECT_EQ(intf->count, 1u);
    EXPECT_EQ(sim::live_allocations(), live);
    EXPECT_EQ(brisel_vlan_lookup(20), nullptr);
    EXPECT_EQ(brisel_intf_lookup(vlan, 6), nullptr);
}

TEST_F(VlanRegistry, EachAddMakesExactlyOneAllocation) {
    long made = sim::allocations_made();
    VlanNode *vlan = brisel_vlan_add(10);
    EXPECT_EQ(sim::allocations_made(), made + 1);
    IntfNode *intf = brisel_intf_add(vlan, 5);
    EXPECT_EQ(sim::allocations_made(), made + 2);
    AceNode *ace = brisel_ace_alloc(addr1_of(1).data(), addr2_of(1).data(), 1);
    EXPECT_EQ(sim::allocations_made(), made + 3);
    brisel_ace_add(intf, ace); // links, allocates nothing
    EXPECT_EQ(sim::allocations_made(), made + 3);
}

} // namespace
} // namespace registry_test
