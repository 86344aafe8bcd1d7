// Port-channel programming: the member loop with its drains, the registry
// updates around it, and the re-send walk with the override.
#include "ifsvc.h"
#include "library_state.h"

namespace ostrel_test {
namespace {

constexpr uint32_t kVlan = 10, kPc = 100;
using PcProgramming = LibraryTest;

TEST_F(PcProgramming, AnAddProgramsEachMemberInRecordOrderDrainingBetween) {
    ostrel::sim::set_pc_members(kPc, {13, 11, 12});
    EXPECT_EQ(pc(1, kVlan, kPc, 1, 0x70007), 0u);
    EXPECT_EQ(ostrel::sim::calls().at(0).op, ostrel::sim::Op::PcInfoGet);
    EXPECT_EQ(ostrel::sim::calls().at(0).arg, kPc);
    EXPECT_EQ(sends_and_drains(), "send recv send recv send");
    EXPECT_EQ(sent(), "1|13:1 / 0|13:1 11:1 / 0|11:1 13:1 12:1");
    const auto sends = ostrel::sim::calls_of(ostrel::sim::Op::Send);
    const auto recvs = ostrel::sim::calls_of(ostrel::sim::Op::Recv);
    EXPECT_EQ(recvs.at(0).token, sends.at(0).token); // the previous member's
    EXPECT_EQ(recvs.at(1).token, sends.at(1).token);
    EXPECT_EQ(pc_registry(), "100{10[a1q7]}");
    EXPECT_EQ(vlan_registry(), "10{12[a1q7] 11[a1q7] 13[a1q7]}");
    EXPECT_EQ(ostrel::sim::pending_replies(),
              1u); // the last one is the caller's
}

TEST_F(PcProgramming, ADeleteUninstallsEachMemberThenEmptiesBothRegistries) {
    ostrel::sim::set_pc_members(kPc, {11, 12});
    given(pc(1, kVlan, kPc, 1, 7));
    given(pc(1, kVlan, kPc, 1, 7));
    given(pc(0, kVlan, kPc, 1, 7)); // added twice, deleted once: still there
    EXPECT_EQ(pc_registry(), "100{10[a1q7]}");
    EXPECT_EQ(vlan_registry(), "10{12[a1q7] 11[a1q7]}");
    mark();
    EXPECT_EQ(pc(0, kVlan, kPc, 1, 7), 0u);
    EXPECT_EQ(sends_and_drains(), "send recv send");
    EXPECT_EQ(sent(), "0|12:1 11:2 / 1|12:2");
    EXPECT_EQ(pc_registry() + vlan_registry(), "");
}

TEST_F(PcProgramming, AMemberCountAboveSixProgramsTheSixEntriesOfTheRecord) {
    ostrel::sim::set_pc_members(kPc, {21, 22, 23, 24, 25, 26});
    ostrel::sim::set_pc_reported_count(kPc, 9);
    EXPECT_EQ(pc(1, kVlan, kPc, 1, 7), 0u);
    EXPECT_EQ(ostrel::sim::count_of(ostrel::sim::Op::Send), 6u);
    EXPECT_EQ(ostrel::sim::count_of(ostrel::sim::Op::Recv), 5u);
    EXPECT_EQ(vlan_registry(), "10{26[a1q7] 25[a1q7] 24[a1q7] 23[a1q7] "
                               "22[a1q7] 21[a1q7]}");
}

TEST_F(PcProgramming, WithoutMembersOnlyTheRegistryChangesAndTheQueryAnswers) {
    EXPECT_EQ(pc(1, kVlan, kPc, 1, 7), 0u); // unknown to the service
    ostrel::sim::fail_pc_queries(1, 0x3c);
    EXPECT_EQ(pc(1, kVlan + 1, kPc, 2, 8), 0x3cu);
    EXPECT_EQ(pc_registry(), "100{11[a2q8] 10[a1q7]}");
    ostrel::sim::fail_pc_queries(1, 0x3d);
    EXPECT_EQ(pc(0, kVlan, kPc, 1, 7), 0x3du);
    EXPECT_EQ(pc_registry(), "100{11[a2q8]}");
    EXPECT_EQ(pc(0, kVlan + 1, kPc, 2, 8), 0u);
    EXPECT_EQ(pc_registry(), "");
    EXPECT_EQ(ostrel::sim::trace(),
              "pc_info_get pc_info_get pc_info_get pc_info_get");
}

TEST_F(PcProgramming, AFailingMemberStopsTheLoopAndADeleteKeepsTheRecord) {
    ostrel::sim::set_pc_members(kPc, {11, 12, 13});
    given(pc(1, kVlan, kPc, 1, 7));
    given(acl(0, kVlan, 12, 1, 7)); // member 12 loses the ACE behind our back
    mark();
    EXPECT_EQ(pc(0, kVlan, kPc, 1, 7), OSTREL_STATUS_NO_ENTRY);
    EXPECT_EQ(sends_and_drains(), "send recv");
    EXPECT_EQ(sent(), "0|13:1 11:2");
    EXPECT_EQ(vlan_registry(), "10{13[a1q7]}");
    EXPECT_EQ(pc_registry(), "100{10[a1q7]}");
}

TEST_F(PcProgramming, AnAddStopsAtAMemberWhoseSendFailsAndKeepsWhatItRecorded) {
    ostrel::sim::set_pc_members(kPc, {11, 12, 13});
    ostrel::sim::fail_sends_after(1, 4, 0x21);
    EXPECT_EQ(pc(1, kVlan, kPc, 1, 7), OSTREL_STATUS_SEND_ERROR(0x21));
    EXPECT_EQ(sends_and_drains(), "send recv send send send send");
    EXPECT_EQ(sent(), "1|11:1"); // member 13 is never programmed
    EXPECT_EQ(vlan_registry(), "10{12[a1q7] 11[a1q7]}");
    EXPECT_EQ(pc_registry(), "100{10[a1q7]}");
}

// Port channel 50 (members 31, 32) in VLANs 10 and 30, plain interface 60 in
// VLAN 20: VLAN list order 20, 30, 10.
class PcUpdate : public LibraryTest {
  protected:
    void SetUp() override {
        LibraryTest::SetUp();
        ostrel::sim::set_if_type(50, OSTREL_IF_TYPE_PORT_CHANNEL);
        ostrel::sim::set_pc_members(50, {31, 32});
        given(acl(1, 10, 50, 1, 1));
        given(acl(1, 30, 50, 2, 2));
        given(acl(1, 20, 60, 3, 3));
        mark();
    }
    uint32_t update(uint32_t if_index, uint32_t override, uint32_t install) {
        return ostrel_api_pc_program_acl_update(kHandle, if_index, override,
                                                &msg, install);
    }
};

TEST_F(PcUpdate, ReSendsEachVlanHoldingTheInterfaceAndDrainsAfterEach) {
    EXPECT_EQ(update(50, 32, 1), 0u);
    EXPECT_EQ(sends_and_drains(), "send recv send recv");
    EXPECT_EQ(sent(), "1|32:1 / 1|32:1"); // one copy each, to the override
    const auto sends = ostrel::sim::calls_of(ostrel::sim::Op::Send);
    EXPECT_EQ(read<uint16_t>(sends.at(3).payload, 8 + 14), 30u);
    EXPECT_EQ(read<uint16_t>(sends.at(4).payload, 8 + 14), 10u);
    mark();
    pc_override_if_index = 77; // overwritten before every rebuild
    EXPECT_EQ(update(50, 0, 0), 0u);
    EXPECT_EQ(sent(), "1|31:2 32:2 / 1|31:2 32:2");
    mark();
    EXPECT_EQ(update(99, 32, 1), 0u); // held nowhere
    EXPECT_EQ((ostrel::sim::calls().size() - mark_), 0u);
    EXPECT_EQ(pc_override_if_index, 0u);
}

TEST_F(PcUpdate, AFailedReSendStopsTheWalkAndPlainInterfacesKeepTheOverride) {
    ostrel::sim::fail_next_sends(4, 0x21);
    EXPECT_EQ(update(50, 32, 1), OSTREL_STATUS_SEND_ERROR(0x21));
    EXPECT_EQ(sends_and_drains(), "send send send send"); // VLAN 30 only
    mark();
    EXPECT_EQ(update(60, 32, 1), 0u);
    EXPECT_EQ(sent(), "1|60:1");
    EXPECT_EQ(pc_override_if_index, 32u); // left for the next port channel
    mark();
    EXPECT_EQ(acl(1, 10, 50, 4, 4), 0u);
    EXPECT_EQ(sent(), "1|32:1");
    EXPECT_EQ(pc_override_if_index, 0u);
}

} // namespace
} // namespace ostrel_test
