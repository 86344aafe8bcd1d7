// Port-channel programming (spec Part 1.5), through the simulated platform:
// the member loop with its drains, the registry updates around it, and the
// re-send walk with the port-channel override.
#include "entry_support.h"

namespace entry_test {
namespace {

constexpr uint32_t kVlan = 10;
constexpr uint32_t kPc = 100;

class PcProgramAcl : public EntryTest {
  protected:
    void SetUp() override {
        EntryTest::SetUp();
        sim::set_pc_members(kPc, {11, 12, 13});
    }
    // The interface each successful send was made for: its last copy.
    std::string sent_for() const {
        std::string s;
        for (const Batch &b : batches())
            s += (s.empty() ? "" : " ") +
                 (b.copies.empty() ? std::string("?")
                                   : b.dsts().substr(b.dsts().rfind(' ') + 1));
        return s;
    }
};

// ---- the member loop ----

TEST_F(PcProgramAcl,
       ThreeMembersAreAddedInRecordOrderWithADrainBetweenEachPair) {
    EXPECT_EQ(pc(kVlan, kPc, 1, 7, 1), 0u);
    ASSERT_FALSE(sim::calls().empty());
    EXPECT_EQ(sim::calls()[0].op, sim::Op::PcInfoGet);
    EXPECT_EQ(sim::calls()[0].arg, kPc);
    // No drain before the first member, one before each further member,
    // none after the last: its reply is the caller's.
    EXPECT_EQ(sends_and_drains(), "send recv send recv send");
    EXPECT_EQ(sent_for(), "11:1 12:1 13:1");
    const std::vector<Batch> sent = batches();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[1].dsts(), "11:1 12:1"); // member 12's add reprograms 11
    EXPECT_EQ(sent[2].dsts(), "12:1 11:1 13:1"); // and 13's both, newest first
    EXPECT_EQ(pc_registry(), "100{10[a1q7]}");
    EXPECT_EQ(vlan_registry(), "10{13[a1q7] 12[a1q7] 11[a1q7]}");
    EXPECT_EQ(did_yarl_send, 1u);
    EXPECT_EQ(sim::pending_replies(), 1u);
}

TEST_F(PcProgramAcl, MembersFollowTheRecordNotTheirNumbers) {
    sim::set_pc_members(kPc, {7, 3, 5});
    EXPECT_EQ(pc(kVlan, kPc, 1, 7, 1), 0u);
    EXPECT_EQ(sent_for(), "7:1 3:1 5:1");
}

TEST_F(PcProgramAcl, ADrainDrainsTheMessageRecordOfThePreviousMember) {
    EXPECT_EQ(pc(kVlan, kPc, 1, 7, 1), 0u);
    const auto sends = sim::calls_of(sim::Op::Send);
    const auto recvs = sim::calls_of(sim::Op::Recv);
    ASSERT_EQ(sends.size(), 3u);
    ASSERT_EQ(recvs.size(), 2u);
    EXPECT_EQ(recvs[0].token, sends[0].token);
    EXPECT_EQ(recvs[1].token, sends[1].token);
}

TEST_F(PcProgramAcl, TheQualifiersLow16BitsAreRecordedInBothRegistries) {
    EXPECT_EQ(pc(kVlan, kPc, 1, 0x00070005u, 1), 0u);
    EXPECT_EQ(pc_registry(), "100{10[a1q5]}");
    EXPECT_EQ(vlan_registry(), "10{13[a1q5] 12[a1q5] 11[a1q5]}");
    EXPECT_EQ(drain(), 0u);
    EXPECT_EQ(pc(kVlan, kPc, 1, 0x00000005u, 0), 0u);
    EXPECT_EQ(pc_registry(), "");
    EXPECT_EQ(vlan_registry(), "");
}

TEST_F(PcProgramAcl,
       ASuccessfulDeleteEmptiesBothRegistriesAndUninstallsEachMember) {
    given_pc_added(kVlan, kPc, 1, 7);
    mark();
    EXPECT_EQ(pc(kVlan, kPc, 1, 7, 0), 0u);
    EXPECT_EQ(sends_and_drains(), "send recv send recv send");
    EXPECT_EQ(sent_for(), "11:2 12:2 13:2");
    EXPECT_EQ(batches()[0].dsts(), "13:1 12:1 11:2");
    EXPECT_EQ(pc_registry(), "");
    EXPECT_EQ(brisel_pchandle.count, 0u);
    EXPECT_EQ(brisel_pchandle.next, nullptr);
    EXPECT_EQ(vlan_registry(), "");
    EXPECT_EQ(sim::live_allocations(), 0);
}

TEST_F(PcProgramAcl, AnAceAddedTwiceAndDeletedOnceStaysOnceEverywhere) {
    given_pc_added(kVlan, kPc, 1, 7);
    given_pc_added(kVlan, kPc, 1, 7);
    EXPECT_EQ(pc_registry(), "100{10[a1q7 a1q7]}");
    EXPECT_EQ(pc(kVlan, kPc, 1, 7, 0), 0u);
    EXPECT_EQ(pc_registry(), "100{10[a1q7]}");
    EXPECT_EQ(vlan_registry(), "10{13[a1q7] 12[a1q7] 11[a1q7]}");
}

TEST_F(PcProgramAcl, AMemberCountAboveSixProgramsTheSixEntriesOfTheRecord) {
    sim::set_pc_members(kPc, {21, 22, 23, 24, 25, 26});
    sim::set_pc_reported_count(kPc, 9);
    EXPECT_EQ(pc(kVlan, kPc, 1, 7, 1), 0u);
    EXPECT_EQ(sent_for(), "21:1 22:1 23:1 24:1 25:1 26:1");
    EXPECT_EQ(sim::count_of(sim::Op::Recv), 5u);
    EXPECT_EQ(brisel_vlan_lookup(kVlan)->count, 6u);
}

// ---- no members ----

TEST_F(PcProgramAcl,
       WithoutMembersAnAddRecordsTheAceSendsNothingAndReturnsTheQuerysResult) {
    EXPECT_EQ(pc(kVlan, 200, 1, 7, 1),
              0u); // a port channel the service does not know
    EXPECT_EQ(sim::trace(), "pc_info_get");
    sim::fail_pc_queries(1, 0x3c);
    EXPECT_EQ(pc(kVlan, kPc, 2, 8, 1),
              0x3cu); // a query that fails fills nothing
    EXPECT_EQ(sim::count_of(sim::Op::Send), 0u);
    EXPECT_EQ(pc_registry(), "100{10[a2q8]} 200{10[a1q7]}");
    EXPECT_EQ(vlan_registry(), "");
    EXPECT_EQ(did_yarl_send, 0u);
}

TEST_F(
    PcProgramAcl,
    WithoutMembersADeleteRemovesTheAceAndEmptiedEntriesAndReturnsTheQuerysResult) {
    sim::set_pc_members(kPc, {});
    given_pc_added(kVlan, kPc, 1, 7);
    given_pc_added(kVlan + 1, kPc, 2, 8);
    sim::fail_pc_queries(1, 0x3c);
    EXPECT_EQ(pc(kVlan, kPc, 1, 7, 0), 0x3cu);
    EXPECT_EQ(pc_registry(),
              "100{11[a2q8]}"); // VLAN 10's entry went, the port channel stays
    EXPECT_EQ(pc(kVlan + 1, kPc, 2, 8, 0), 0u);
    EXPECT_EQ(pc_registry(), "");
    EXPECT_EQ(brisel_pchandle.next, nullptr);
    EXPECT_EQ(sim::count_of(sim::Op::Send), 0u);
}

// ---- failures ----

struct Unrecorded {
    const char *what;
    uint32_t vlan;
    uint32_t pc_if_index;
    uint8_t tag;
    uint32_t qualifier;
};

TEST_F(PcProgramAcl, DeletingWhatIsNotRecordedReturnsNoEntryAndSendsNothing) {
    given_pc_added(kVlan, kPc, 1, 7);
    const std::string pcs = pc_registry(), vlans = vlan_registry();
    const Unrecorded cases[] = {
        {"port channel not recorded", kVlan, kPc + 1, 1, 7},
        {"VLAN not recorded under it", kVlan + 1, kPc, 1, 7},
        {"ACE not recorded there", kVlan, kPc, 2, 7},
        {"ACE differing only in the qualifier", kVlan, kPc, 1, 8},
    };
    for (const Unrecorded &c : cases) {
        mark();
        EXPECT_EQ(pc(c.vlan, c.pc_if_index, c.tag, c.qualifier, 0),
                  OSTREL_STATUS_NO_ENTRY)
            << c.what;
        EXPECT_EQ(calls_since_mark(), 0u) << c.what;
        EXPECT_EQ(pc_registry(), pcs) << c.what;
        EXPECT_EQ(vlan_registry(), vlans) << c.what;
    }
}

TEST_F(PcProgramAcl, EntriesThatCannotBeCreatedGiveNoEntryAndSendNothing) {
    for (long nth = 1; nth <= 3;
         ++nth) { // the PcNode, the PoVlanNode, the AceNode
        free_all(brisel_pchandle);
        sim::reset();
        sim::fail_allocation(nth);
        EXPECT_EQ(pc(kVlan, kPc, 1, 7, 1), OSTREL_STATUS_NO_ENTRY) << nth;
        EXPECT_TRUE(sim::calls().empty()) << nth;
        EXPECT_TRUE(registries_consistent());
    }
    EXPECT_EQ(pc_registry(),
              "100{10[]}"); // created entries stay; no ACE linked
}

TEST_F(PcProgramAcl, AFailedSecondMemberAddStopsTheLoopAndKeepsTheFirst) {
    // Fail the 1st, 2nd, ... allocation until the first member has been
    // sent and the add still fails: that failure belongs to the second.
    bool found = false;
    for (long nth = 1; nth < 40 && !found; ++nth) {
        free_all(brisel_handle);
        free_all(brisel_pchandle);
        clear_builder_state();
        sim::reset();
        sim::set_pc_members(kPc, {11, 12, 13});
        sim::fail_allocation(nth);
        const uint32_t status = pc(kVlan, kPc, 1, 7, 1);
        if (status == 0 || batches().size() != 1)
            continue;
        found = true;
        EXPECT_EQ(sent_for(), "11:1");
        EXPECT_EQ(sends_and_drains(),
                  "send recv"); // drained before the second, not after
        for (const sim::Call &c : sim::calls_of(sim::Op::IfTypeGet))
            EXPECT_NE(c.arg, 13u) << "the third member was programmed";
        VlanNode *vlan = brisel_vlan_lookup(kVlan);
        ASSERT_NE(vlan, nullptr);
        ASSERT_NE(brisel_intf_lookup(vlan, 11), nullptr);
        EXPECT_EQ(describe_aces(brisel_intf_lookup(vlan, 11)->first), "a1q7");
        EXPECT_EQ(brisel_intf_lookup(vlan, 13), nullptr);
        EXPECT_EQ(pc_registry(), "100{10[a1q7]}"); // the ACE stays recorded
    }
    EXPECT_TRUE(found);
}

TEST_F(PcProgramAcl, AFailedSecondMemberDeleteStopsTheLoopAndKeepsTheRecord) {
    given_pc_added(kVlan, kPc, 1, 7);
    ASSERT_EQ(del(kVlan, 12, 1, 7),
              0u); // member 12 loses the ACE behind our back
    ASSERT_EQ(drain(), 0u);
    mark();
    EXPECT_EQ(pc(kVlan, kPc, 1, 7, 0), OSTREL_STATUS_NO_ENTRY);
    EXPECT_EQ(sends_and_drains(), "send recv");
    EXPECT_EQ(sent_for(), "11:2");
    EXPECT_EQ(vlan_registry(),
              "10{13[a1q7]}"); // 11 emptied and removed, 13 untouched
    EXPECT_EQ(pc_registry(), "100{10[a1q7]}");
}

TEST_F(PcProgramAcl, AFailedFirstMemberSendReturnsItsStatus) {
    sim::fail_next_sends(4, 0x45);
    EXPECT_EQ(pc(kVlan, kPc, 1, 7, 1), OSTREL_STATUS_SEND_ERROR(0x45));
    EXPECT_EQ(sim::count_of(sim::Op::Recv), 0u);
    EXPECT_EQ(vlan_registry(), "10{11[a1q7]}");
    EXPECT_EQ(pc_registry(), "100{10[a1q7]}");
}

TEST_F(PcProgramAcl, NullAddressesAreRejectedWithInvalidBeforeAnyChange) {
    const Addr a = addr1_of(1);
    for (uint32_t add_flag : {0u, 1u}) {
        EXPECT_EQ(ostrel_api_pc_program_acl(kHandle, nullptr, a.data(), kVlan,
                                            kPc, 1, &msg, add_flag),
                  OSTREL_STATUS_INVALID);
        EXPECT_EQ(ostrel_api_pc_program_acl(kHandle, a.data(), nullptr, kVlan,
                                            kPc, 1, &msg, add_flag),
                  OSTREL_STATUS_INVALID);
    }
    EXPECT_TRUE(sim::calls().empty());
    EXPECT_EQ(pc_registry(), "");
}

// ---- ostrel_api_pc_program_acl_update ----

// Port channel 50 (members 31, 32) registered in VLANs 10 and 30, plain
// interface 60 in VLAN 20; VLAN list order 20, 30, 10.
class PcUpdate : public EntryTest {
  protected:
    static constexpr uint32_t kPortChannel = 50, kPlain = 60;
    void SetUp() override {
        EntryTest::SetUp();
        sim::set_if_type(kPortChannel, kPortChannelType);
        sim::set_pc_members(kPortChannel, {31, 32});
        given_added(10, kPortChannel, 1, 1);
        given_added(30, kPortChannel, 2, 2);
        given_added(20, kPlain, 3, 3);
        mark();
    }
    uint32_t update(uint32_t if_index, uint32_t override,
                    uint32_t install = 1) {
        return ostrel_api_pc_program_acl_update(kHandle, if_index, override,
                                                &msg, install);
    }
    std::string vlans_sent() const {
        std::string s;
        for (const Batch &b : batches())
            s += (s.empty() ? "" : " ") +
                 std::to_string(b.copies.empty() ? 0 : b.copies[0].vlan);
        return s;
    }
};

TEST_F(PcUpdate, ReSendsEveryVlanInListOrderToTheOverrideDrainingAfterEach) {
    EXPECT_EQ(update(kPortChannel, 32), 0u);
    EXPECT_EQ(sends_and_drains(), "send recv send recv");
    EXPECT_EQ(vlans_sent(), "30 10");
    const std::vector<Batch> sent = batches();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].dsts(),
              "32:1"); // one copy each: the override was set again
    EXPECT_EQ(sent[1].dsts(), "32:1");
    EXPECT_EQ(pc_override_if_index, 0u);
    EXPECT_EQ(did_yarl_send, 0u);
    EXPECT_EQ(sim::pending_replies(), 0u);
}

TEST_F(PcUpdate, TheInstallFlagIsPassedThrough) {
    EXPECT_EQ(update(kPortChannel, 31, 0), 0u);
    ASSERT_EQ(batches().size(), 2u);
    EXPECT_EQ(batches()[0].dsts(), "31:2");
    EXPECT_EQ(batches()[1].dsts(), "31:2");
}

TEST_F(PcUpdate, AZeroOverrideSendsToEveryMember) {
    pc_override_if_index = 77; // cleared by the update's store
    EXPECT_EQ(update(kPortChannel, 0), 0u);
    ASSERT_EQ(batches().size(), 2u);
    EXPECT_EQ(batches()[0].dsts(), "31:1 32:1");
    EXPECT_EQ(batches()[1].dsts(), "31:1 32:1");
}

TEST_F(PcUpdate, AnInterfaceRegisteredNowhereSendsNothingAndSetsNoOverride) {
    EXPECT_EQ(update(99, 32), 0u);
    EXPECT_EQ(calls_since_mark(), 0u);
    EXPECT_EQ(pc_override_if_index, 0u);
}

TEST_F(PcUpdate, TheFirstFailingReSendStopsTheWalkWithoutADrain) {
    sim::fail_next_sends(4, 0x21);
    EXPECT_EQ(update(kPortChannel, 32), OSTREL_STATUS_SEND_ERROR(0x21));
    EXPECT_EQ(sends_and_drains(),
              "send send send send"); // VLAN 30's retries only
    for (const sim::Call &c : calls_since_mark(sim::Op::Send))
        EXPECT_EQ(read<uint16_t>(c.payload, 8 + 14), 30u);
}

TEST_F(PcUpdate,
       APlainInterfaceLeavesTheOverridePendingForTheNextPortChannelRequest) {
    EXPECT_EQ(update(kPlain, 32), 0u);
    ASSERT_EQ(batches().size(), 1u);
    EXPECT_EQ(batches()[0].dsts(), "60:1"); // not redirected
    EXPECT_EQ(pc_override_if_index, 32u);

    mark();
    EXPECT_EQ(add(10, kPortChannel, 4, 4),
              0u); // VLAN 10 holds only the port channel
    ASSERT_EQ(batches().size(), 1u);
    EXPECT_EQ(batches()[0].dsts(),
              "32:1"); // consumed: one copy to the override
    EXPECT_EQ(pc_override_if_index, 0u);
}

} // namespace
} // namespace entry_test
