// Seeded random walks of interface and port-channel adds and deletes. After
// every step the status is the one a counting model expects, the registries
// hold exactly the model's ACEs and keep their invariants and every live
// block, every batch sent is well formed and its reply is drained. At the
// end everything is deleted again: empty registries, nothing allocated.
#include <map>
#include <random>
#include <tuple>

#include "library_state.h"

namespace ostrel_test {
namespace {

// vlan, interface or port channel, tag (also the qualifier), zero addr1;
// port-channel records are kept under zero = true.
using Place = std::tuple<uint32_t, uint32_t, uint32_t, bool>;
const std::map<uint32_t, std::vector<uint32_t>> kMembers = {
    {100, {1, 2, 3}}, {101, {4, 5}}, {102, {}}};

class ProgrammingWalk : public LibraryTest,
                        public ::testing::WithParamInterface<uint32_t> {
  protected:
    // One step on an interface or a port channel, with the model's status.
    void intf(bool add, uint32_t vlan, uint32_t if_index, uint32_t tag,
              bool zero) {
        int &n = model[{vlan, if_index, tag, zero}];
        const uint32_t want = add || n > 0 ? 0 : OSTREL_STATUS_NO_ENTRY;
        n += add ? 1 : want == 0 ? -1 : 0;
        step(acl(add, vlan, if_index, tag, tag, zero), want);
    }
    void port_channel(bool add, uint32_t vlan, uint32_t pc_if, uint32_t tag) {
        int &n = model[{vlan, pc_if, tag, true}];
        uint32_t want = add || n > 0 ? 0 : OSTREL_STATUS_NO_ENTRY;
        for (uint32_t m : kMembers.at(pc_if)) {
            int &member = model[{vlan, m, tag, false}];
            if (want != 0 || (!add && member == 0)) {
                want = OSTREL_STATUS_NO_ENTRY; // the loop stops here
                break;
            }
            member += add ? 1 : -1;
        }
        n += add ? 1 : want == 0 ? -1 : 0;
        step(pc(add, vlan, pc_if, tag, tag), want);
    }
    void step(uint32_t status, uint32_t want) {
        ASSERT_EQ(status, want);
        std::map<Place, int> expected;
        for (const auto &[place, n] : model)
            if (n != 0)
                expected[place] = n;
        ASSERT_EQ(registered(), expected);
        ASSERT_TRUE(registries_consistent());
        for (size_t i = mark_; i < sim::calls().size(); ++i)
            if (sim::calls()[i].op == sim::Op::Send) {
                ASSERT_EQ(batch_defect(sim::calls()[i].payload), "");
            }
        if (did_yarl_send) {
            ASSERT_EQ(drain(), 0u);
        }
        ASSERT_EQ(sim::pending_replies() + (batch_buf != nullptr), 0u);
        ASSERT_EQ(sim::live_allocations(), held_blocks());
        mark();
    }
    std::map<Place, int> registered() const {
        std::map<Place, int> m;
        for (const VlanNode *v = brisel_handle.next; v; v = v->next)
            for (const IntfNode *i = v->first; i; i = i->next)
                for (const AceNode *a = i->first; a; a = a->next)
                    ++m[{v->vlan_id, i->if_index, a->key.qualifier,
                         a->key.addr1[0] == 0}];
        for (const PcNode *p = brisel_pchandle.next; p; p = p->next)
            for (const PoVlanNode *v = p->first; v; v = v->next)
                for (const AceNode *a = v->first; a; a = a->next)
                    ++m[{v->vlan_id, p->if_index, a->key.qualifier, true}];
        return m;
    }
    std::map<Place, int> model;
};

TEST_P(ProgrammingWalk, RegistriesFollowACountingModelAndEmptyAgain) {
    for (const auto &[pc, members] : kMembers)
        sim::set_pc_members(pc, members);
    std::mt19937 rng(GetParam());
    auto pick = [&](uint32_t n) { return uint32_t(rng() % n); };
    const uint32_t pcs[] = {100, 101, 102};
    for (int i = 0; i < 1500 && !HasFatalFailure(); ++i) {
        const uint32_t vlan = 10 * (1 + pick(3)), tag = 1 + pick(12);
        const uint32_t dice = pick(100);
        if (dice < 35)
            intf(true, vlan, 1 + pick(6), tag, pick(6) == 0);
        else if (dice < 70)
            intf(false, vlan, 1 + pick(6), tag, pick(6) == 0);
        else
            port_channel(dice < 85, vlan, pcs[pick(3)], tag);
    }
    // Delete everything: port channels first, their members made whole.
    for (auto &[place, n] : std::map<Place, int>(model)) {
        const auto [vlan, where, tag, zero] = place;
        for (; zero && kMembers.count(where) && n > 0 && !HasFatalFailure();
             --n) {
            for (uint32_t m : kMembers.at(where))
                intf(true, vlan, m, tag, false);
            port_channel(false, vlan, where, tag);
        }
    }
    for (auto &[place, n] : std::map<Place, int>(model))
        for (int k = 0; k < n && !HasFatalFailure(); ++k)
            intf(false, std::get<0>(place), std::get<1>(place),
                 std::get<2>(place), std::get<3>(place));
    EXPECT_EQ(vlan_registry() + pc_registry(), "");
    EXPECT_EQ(sim::live_allocations(), 0);
}

INSTANTIATE_TEST_SUITE_P(Seeds, ProgrammingWalk, ::testing::Values(1u, 7u));

} // namespace
} // namespace ostrel_test
