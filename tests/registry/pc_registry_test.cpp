// The port-channel registry (spec Part 1.4): port channels -> their VLANs
// -> ACEs under brisel_pchandle; the same rules as the VLAN registry except
// where the spec says otherwise.
#include "registry_support.h"

namespace registry_test {
namespace {

using PcRegistry = RegistryTest;

AceNode *add_poace(PoVlanNode *povlan, uint8_t tag, uint16_t qualifier) {
    AceNode *ace =
        brisel_ace_alloc(addr1_of(tag).data(), addr2_of(tag).data(), qualifier);
    EXPECT_NE(ace, nullptr);
    return brisel_poace_add(povlan, ace);
}

TEST_F(PcRegistry, LookupsInAnEmptyRegistryFindNothing) {
    EXPECT_EQ(brisel_pc_lookup(100), nullptr);
    PcNode *pc = brisel_pc_add(100);
    ASSERT_NE(pc, nullptr);
    EXPECT_EQ(brisel_povlan_lookup(pc, 10), nullptr);
    PoVlanNode *povlan = brisel_povlan_add(pc, 10);
    ASSERT_NE(povlan, nullptr);
    AceKey key = key_of(1, 1);
    EXPECT_EQ(brisel_poace_lookup(povlan, &key), nullptr);
}

TEST_F(PcRegistry, NewEntriesGoInFrontAndAreCounted) {
    PcNode *p1 = brisel_pc_add(101);
    PcNode *p2 = brisel_pc_add(102);
    PoVlanNode *v10 = brisel_povlan_add(p2, 10);
    PoVlanNode *v20 = brisel_povlan_add(p2, 20);
    add_poace(v20, 1, 1);
    AceNode *a2 = add_poace(v20, 2, 2);
    EXPECT_EQ(pc_registry(), "102{20[a2q2 a1q1] 10[]} 101{}");
    EXPECT_EQ(brisel_pchandle.count, 2u);
    EXPECT_EQ(brisel_pchandle.next, p2);
    EXPECT_EQ(p2->count, 2u);
    EXPECT_EQ(v20->count, 2u);
    EXPECT_EQ(brisel_pc_lookup(101), p1);
    EXPECT_EQ(brisel_povlan_lookup(p2, 10), v10);
    EXPECT_EQ(brisel_povlan_lookup(p1, 10), nullptr);
    AceKey k2 = key_of(2, 2);
    EXPECT_EQ(brisel_poace_lookup(v20, &k2), a2);
    EXPECT_EQ(vlan_registry(), ""); // the VLAN registry is not involved
}

TEST_F(PcRegistry, APoAceLookupWithOnlyTheQualifierDifferentFindsNothing) {
    PoVlanNode *povlan = brisel_povlan_add(brisel_pc_add(100), 10);
    add_poace(povlan, 1, 0x0010);
    AceKey other = key_of(1, 0x0011);
    EXPECT_EQ(brisel_poace_lookup(povlan, &other), nullptr);
    EXPECT_EQ(brisel_poace_del(povlan, &other), 0u);
    EXPECT_EQ(povlan->count, 1u);
}

TEST_F(PcRegistry, AVlanEntryWithAnAceAndAPortChannelWithAVlanEntryStay) {
    PcNode *pc = brisel_pc_add(100);
    PoVlanNode *povlan = brisel_povlan_add(pc, 10);
    add_poace(povlan, 1, 1);
    EXPECT_EQ(brisel_povlan_del(pc, povlan), 0u);
    EXPECT_EQ(brisel_pc_del(pc), 0u);
    EXPECT_EQ(pc_registry(), "100{10[a1q1]}");
    EXPECT_EQ(brisel_pchandle.count, 1u);
    EXPECT_EQ(pc->count, 1u);
}

TEST_F(PcRegistry, RemovingTheOnlyPortChannelLeavesAnEmptyHead) {
    PcNode *pc = brisel_pc_add(100);
    PoVlanNode *povlan = brisel_povlan_add(pc, 10);
    add_poace(povlan, 1, 1);
    AceKey key = key_of(1, 1);
    EXPECT_EQ(brisel_poace_del(povlan, &key), 0u);
    EXPECT_EQ(brisel_povlan_del(pc, povlan), 0u);
    EXPECT_EQ(brisel_pc_del(pc), 0u);
    EXPECT_EQ(brisel_pchandle.count, 0u);
    EXPECT_EQ(brisel_pchandle.next, nullptr);
    EXPECT_EQ(brisel_pchandle.if_index, 0u);
    EXPECT_EQ(brisel_pchandle.first, nullptr);
    EXPECT_EQ(sim::live_allocations(), 0);
}

TEST_F(PcRegistry, EntriesAreUnlinkedWhereverTheyLie) {
    PcNode *p1 = brisel_pc_add(101);
    PcNode *p2 = brisel_pc_add(102);
    PcNode *p3 = brisel_pc_add(103);
    PoVlanNode *a = brisel_povlan_add(p1, 10);
    PoVlanNode *b = brisel_povlan_add(p1, 20);
    PoVlanNode *c = brisel_povlan_add(p1, 30);
    EXPECT_EQ(brisel_povlan_del(p1, b), 0u);
    EXPECT_EQ(pc_registry(), "103{} 102{} 101{30[] 10[]}");
    EXPECT_EQ(brisel_povlan_del(p1, c), 0u);
    EXPECT_EQ(brisel_povlan_del(p1, a), 0u);
    EXPECT_EQ(p1->first, nullptr);
    EXPECT_EQ(brisel_pc_del(p2), 0u);
    EXPECT_EQ(pc_registry(), "103{} 101{}");
    EXPECT_EQ(brisel_pc_del(p1), 0u);
    EXPECT_EQ(pc_registry(), "103{}");
    EXPECT_EQ(brisel_pchandle.next, p3);
    EXPECT_EQ(brisel_pc_del(p3), 0u);
    EXPECT_EQ(brisel_pchandle.count, 0u);
    EXPECT_EQ(brisel_pchandle.next, nullptr);
    EXPECT_EQ(sim::live_allocations(), 0);
}

TEST_F(PcRegistry, DeletingAbsentKeysChangesNothing) {
    PcNode stray{};
    stray.if_index = 100;
    EXPECT_EQ(brisel_pc_del(&stray), 0u); // empty registry
    EXPECT_EQ(brisel_pchandle.count, 0u);
    PcNode *pc = brisel_pc_add(101);
    EXPECT_EQ(brisel_pc_del(&stray), 0u);
    PoVlanNode stray_vlan{};
    stray_vlan.vlan_id = 99;
    EXPECT_EQ(brisel_povlan_del(pc, &stray_vlan), 0u); // empty list
    PoVlanNode *povlan = brisel_povlan_add(pc, 10);
    EXPECT_EQ(brisel_povlan_del(pc, &stray_vlan), 0u);
    AceKey absent = key_of(5, 5);
    EXPECT_EQ(brisel_poace_del(povlan, &absent), 0u); // empty list
    add_poace(povlan, 1, 1);
    EXPECT_EQ(brisel_poace_del(povlan, &absent), 0u);
    EXPECT_EQ(pc_registry(), "101{10[a1q1]}");
    EXPECT_EQ(brisel_pchandle.count, 1u);
    EXPECT_EQ(pc->count, 1u);
    EXPECT_EQ(povlan->count, 1u);
}

TEST_F(PcRegistry, OfTwoEqualAcesTheNewerIsRemoved) {
    PoVlanNode *povlan = brisel_povlan_add(brisel_pc_add(100), 10);
    AceNode *older = add_poace(povlan, 1, 1);
    AceNode *newer = add_poace(povlan, 1, 1);
    AceKey key = key_of(1, 1);
    EXPECT_EQ(brisel_poace_lookup(povlan, &key), newer);
    EXPECT_EQ(brisel_poace_del(povlan, &key), 0u);
    EXPECT_EQ(povlan->count, 1u);
    EXPECT_EQ(povlan->first, older);
}

TEST_F(PcRegistry, PortChannelEntriesSurviveBriselStart) {
    PcNode *pc = brisel_pc_add(100);
    PoVlanNode *povlan = brisel_povlan_add(pc, 10);
    VlanNode *vlan = brisel_vlan_add(10);
    brisel_start();
    EXPECT_EQ(brisel_pc_lookup(100), pc);
    EXPECT_EQ(brisel_povlan_lookup(pc, 10), povlan);
    EXPECT_EQ(brisel_pchandle.count, 1u);
    EXPECT_EQ(brisel_pchandle.next, pc);
    EXPECT_EQ(brisel_vlan_lookup(10), nullptr);
    std::free(vlan); // forgotten by brisel_start, not freed by it
}

TEST_F(PcRegistry, BothRegistriesKeepTheSameKeysApart) {
    VlanNode *vlan = brisel_vlan_add(100);
    PcNode *pc = brisel_pc_add(100);
    EXPECT_EQ(brisel_vlan_lookup(100), vlan);
    EXPECT_EQ(brisel_pc_lookup(100), pc);
    EXPECT_EQ(brisel_pc_del(pc), 0u);
    EXPECT_EQ(brisel_vlan_lookup(100), vlan);
    EXPECT_EQ(brisel_handle.count, 1u);
}

TEST_F(PcRegistry, MallocsGiveZeroedNodes) {
    PcNode *pc = brisel_pc_malloc();
    PoVlanNode *povlan = brisel_povlan_malloc();
    ASSERT_TRUE(pc && povlan);
    const uint8_t zero[sizeof(PcNode)] = {};
    EXPECT_EQ(std::memcmp(pc, zero, sizeof *pc), 0);
    EXPECT_EQ(std::memcmp(povlan, zero, sizeof *povlan), 0);
    std::free(pc);
    std::free(povlan);
    EXPECT_EQ(brisel_pchandle.count, 0u);
}

TEST_F(PcRegistry, FailedAllocationsGiveNullAndLeaveTheRegistryUnchanged) {
    PcNode *pc = brisel_pc_add(100);
    PoVlanNode *povlan = brisel_povlan_add(pc, 10);
    add_poace(povlan, 1, 1);
    const std::string before = pc_registry();
    const long live = sim::live_allocations();
    sim::fail_allocation(1);
    EXPECT_EQ(brisel_pc_add(101), nullptr);
    sim::fail_allocation(1);
    EXPECT_EQ(brisel_povlan_add(pc, 20), nullptr);
    sim::fail_allocation(1);
    EXPECT_EQ(brisel_pc_malloc(), nullptr);
    sim::fail_allocation(1);
    EXPECT_EQ(brisel_povlan_malloc(), nullptr);
    EXPECT_EQ(pc_registry(), before);
    EXPECT_EQ(brisel_pchandle.count, 1u);
    EXPECT_EQ(pc->count, 1u);
    EXPECT_EQ(sim::live_allocations(), live);
}

TEST_F(PcRegistry, TheCountsAlwaysEqualTheListLengths) {
    uint64_t x = 0x2545f4914f6cdd1dull;
    auto next = [&x](uint32_t bound) {
        x ^= x << 13, x ^= x >> 7, x ^= x << 17;
        return static_cast<uint32_t>(x % bound);
    };
    for (int step = 0; step < 3000; ++step) {
        uint32_t pc_if = 100 + next(4), vlan_id = 1 + next(4);
        uint8_t tag = static_cast<uint8_t>(1 + next(3));
        AceKey key = key_of(tag, tag);
        PcNode *pc = brisel_pc_lookup(pc_if);
        PoVlanNode *povlan = pc ? brisel_povlan_lookup(pc, vlan_id) : nullptr;
        switch (next(6)) {
        case 0:
            if (!pc) {
                ASSERT_NE(brisel_pc_add(pc_if), nullptr);
            }
            break;
        case 1:
            if (pc && !povlan) {
                ASSERT_NE(brisel_povlan_add(pc, vlan_id), nullptr);
            }
            break;
        case 2:
            if (povlan) {
                add_poace(povlan, tag, tag);
            }
            break;
        case 3:
            if (povlan) {
                EXPECT_EQ(brisel_poace_del(povlan, &key), 0u);
            }
            break;
        case 4:
            if (povlan) {
                EXPECT_EQ(brisel_povlan_del(pc, povlan), 0u);
            }
            break;
        default:
            if (pc) {
                EXPECT_EQ(brisel_pc_del(pc), 0u);
            }
            break;
        }
        ASSERT_TRUE(registries_consistent()) << "after step " << step;
        if (brisel_pchandle.count == 0) {
            ASSERT_EQ(brisel_pchandle.next, nullptr);
        }
    }
    while (PcNode *pc = brisel_pchandle.next) {
        while (PoVlanNode *povlan = pc->first) {
            while (povlan->first)
                EXPECT_EQ(brisel_poace_del(povlan, &povlan->first->key), 0u);
            EXPECT_EQ(brisel_povlan_del(pc, povlan), 0u);
        }
        EXPECT_EQ(brisel_pc_del(pc), 0u);
    }
    EXPECT_EQ(sim::live_allocations(), 0);
}

} // namespace
} // namespace registry_test
