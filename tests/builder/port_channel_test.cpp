// Addressing: plain interfaces, port-channel fan-out, the one-shot
// override, member counts above six, and failed type and member queries.
#include "builder_support.h"

namespace builder_test {
namespace {

const Ace A = ace(0xA1, 0x0A01);
constexpr uint16_t kVlan = 40;
constexpr uint32_t kPc = 0x5000;
const char *const kDrain = "rr_token_get drop heartbeat recv payload_get drop";

class PortChannel : public BuilderTest {
protected:
    void SetUp() override {
        BuilderTest::SetUp();
        sim::set_if_type(kPc, kPortChannelType);
    }
};

TEST_F(PortChannel, ThreeMembersGetOneCopyEachInRecordOrder) {
    sim::set_pc_members(kPc, {11, 12, 13});
    Registry reg(kVlan);
    IntfNode *pc = reg.add(kPc, {});

    ASSERT_EQ(program(reg.vlan(), pc), 0u);

    EXPECT_EQ(sim::trace(), "if_type_get pc_info_get send");
    EXPECT_EQ(sim::calls_of(sim::Op::IfTypeGet).at(0).arg, kPc);
    EXPECT_EQ(sim::calls_of(sim::Op::PcInfoGet).at(0).arg, kPc);
    EXPECT_EQ(sent(0), batch(1, 3, {empty_request(1, kVlan, 11), empty_request(1, kVlan, 12),
                                    empty_request(1, kVlan, 13)}));
}

TEST_F(PortChannel, DeferredCopiesAddTheirCountToTheOpenBatch) {
    sim::set_pc_members(kPc, {11, 12, 13});
    Registry reg(kVlan);
    IntfNode *plain = reg.add(9, {});
    IntfNode *pc = reg.add(kPc, {});
    ASSERT_EQ(program(reg.vlan(), plain, 1, 1), 0u);

    ASSERT_EQ(program(reg.vlan(), pc, 1, 1), 0u);

    EXPECT_EQ(u32(open_batch_bytes(), 4), 4u);
    EXPECT_EQ(batch_len, 8u + 4 * 152u);
}

struct SpaceCase {
    const char *name;
    std::vector<uint32_t> members;
    uint32_t override_index;
    uint32_t room;
    bool flushes;
};

class PortChannelSpace : public PortChannel, public ::testing::WithParamInterface<SpaceCase> {};

TEST_P(PortChannelSpace, SpaceCheckCountsTheCopies) {
    const SpaceCase &c = GetParam();
    sim::set_pc_members(kPc, c.members);
    Registry reg(kVlan);
    IntfNode *pc = reg.add(kPc, {});
    open_batch(kBatchSize - c.room, 1);
    pc_override_if_index = c.override_index;

    ASSERT_EQ(program(reg.vlan(), pc, 1, 1), 0u);

    EXPECT_EQ(sim::count_of(sim::Op::Send), c.flushes ? 1u : 0u);
    EXPECT_LT(batch_len, kBatchSize);
}

const SpaceCase kSpaceCases[] = {
    {"ThreeMembersRoomExactlyThreeRequestsFlushes", {11, 12, 13}, 0, 3 * 152, true},
    {"ThreeMembersRoomJustAboveThreeRequestsAppends", {11, 12, 13}, 0, 3 * 152 + 8, false},
    {"OverrideStillCountsEveryMember", {11, 12, 13}, 99, 2 * 152, true},
    {"OverrideWithNoMembersCountsItsOneCopy", {}, 99, 152, true},
    {"OverrideWithNoMembersAppendsWhenItFits", {}, 99, 160, false},
    {"NoMembersNoOverrideNeedsNoRoom", {}, 0, 8, false},
};
INSTANTIATE_TEST_SUITE_P(Copies, PortChannelSpace, ::testing::ValuesIn(kSpaceCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(PortChannel, PendingOverrideGivesOneCopyAndIsConsumed) {
    sim::set_pc_members(kPc, {11, 12, 13});
    Registry reg(kVlan);
    IntfNode *pc = reg.add(kPc, {A});
    pc_override_if_index = 0x4242;

    ASSERT_EQ(program(reg.vlan(), pc), 0u);

    EXPECT_EQ(sent(0), batch(1, 1, {request(1, kVlan, 0x4242, {first_closing(A.qualifier), second_closing()})}));
    EXPECT_EQ(pc_override_if_index, 0u);
}

TEST_F(PortChannel, OverrideWithNoMembersStillSendsItsOneCopy) {
    sim::set_pc_members(kPc, {});
    Registry reg(kVlan);
    IntfNode *pc = reg.add(kPc, {});
    pc_override_if_index = 0x4242;

    ASSERT_EQ(program(reg.vlan(), pc), 0u);

    EXPECT_EQ(sent(0), batch(1, 1, {empty_request(1, kVlan, 0x4242)}));
    EXPECT_EQ(pc_override_if_index, 0u);
}

TEST_F(PortChannel, PlainInterfaceLeavesAPendingOverrideInPlace) {
    Registry reg(kVlan);
    IntfNode *plain = reg.add(9, {A});
    pc_override_if_index = 0x4242;

    ASSERT_EQ(program(reg.vlan(), plain), 0u);

    EXPECT_EQ(u32(sent(0), 8 + 16), 9u);
    EXPECT_EQ(pc_override_if_index, 0x4242u);
}

TEST_F(PortChannel, NoMembersNoOverrideAppendsNothingButStillSends) {
    sim::set_pc_members(kPc, {});
    Registry reg(kVlan);
    IntfNode *pc = reg.add(kPc, {A});

    ASSERT_EQ(program(reg.vlan(), pc), 0u);

    EXPECT_EQ(sent(0), batch(1, 0, {}));
    EXPECT_EQ(sends().at(0).length, 8u);
    EXPECT_EQ(did_yarl_send, 1u);
}

TEST_F(PortChannel, MemberCountAboveSixIsCappedAtSix) {
    sim::set_pc_members(kPc, {1, 2, 3, 4, 5, 6});
    sim::set_pc_reported_count(kPc, 9);
    Registry reg(kVlan);
    IntfNode *pc = reg.add(kPc, {});

    ASSERT_EQ(program(reg.vlan(), pc), 0u);

    const Bytes r = empty_request(1, kVlan, 0);
    EXPECT_EQ(sent(0), batch(1, 6, {with_if_index(r, 1), with_if_index(r, 2), with_if_index(r, 3),
                                    with_if_index(r, 4), with_if_index(r, 5), with_if_index(r, 6)}));
}

TEST_F(PortChannel, CappedMemberCountIsWhatTheSpaceCheckUses) {
    sim::set_pc_members(kPc, {1, 2, 3, 4, 5, 6});
    sim::set_pc_reported_count(kPc, 0xFFFFFFFFu);
    Registry reg(kVlan);
    IntfNode *pc = reg.add(kPc, {});
    open_batch(kBatchSize - (6 * 152 + 8), 1);

    ASSERT_EQ(program(reg.vlan(), pc, 1, 1), 0u);

    EXPECT_EQ(sim::count_of(sim::Op::Send), 0u);
    EXPECT_EQ(batch_len, kBatchSize - 8);
}

TEST_F(PortChannel, SixCopiesThatFitAnEmptyBatchAreSent) {
    sim::set_pc_members(kPc, {1, 2, 3, 4, 5, 6});
    Registry reg(kVlan);
    IntfNode *pc = reg.add(kPc, {A}, 337); // 24 + 64 * 338 = 21656 bytes

    ASSERT_EQ(program(reg.vlan(), pc), 0u);

    EXPECT_EQ(sends().at(0).length, 8u + 6 * 21656u);
}

TEST_F(PortChannel, CopiesThatCanNeverFitAreRefusedWithTheBatchUntouched) {
    sim::set_pc_members(kPc, {1, 2, 3, 4, 5, 6});
    Registry reg(kVlan);
    IntfNode *small = reg.add(9, {});
    IntfNode *pc = reg.add(kPc, {A}, 338); // 21720 bytes, six copies 130320
    ASSERT_EQ(program(reg.vlan(), small, 1, 1), 0u);
    const Bytes before = open_batch_bytes();
    pc_override_if_index = 0;
    const long live = sim::live_allocations();

    EXPECT_EQ(program(reg.vlan(), pc), OSTREL_STATUS_INVALID);

    EXPECT_EQ(sim::count_of(sim::Op::Send), 0u);
    EXPECT_EQ(open_batch_bytes(), before);
    EXPECT_EQ(sim::live_allocations(), live);
}

// Three copies of 24 + 64 * 677 = 43352 bytes need exactly the whole
// 130056-byte block: with no batch open the spec's step 8 would "flush" an
// empty batch, and the copies could not fit behind the head anyway.
TEST_F(PortChannel, CopiesNeedingTheWholeBlockAreRefusedWithoutSendingAnEmptyBatch) {
    sim::set_pc_members(kPc, {1, 2, 3});
    Registry reg(kVlan);
    IntfNode *pc = reg.add(kPc, {A}, 676);
    const long live = sim::live_allocations();

    EXPECT_EQ(program(reg.vlan(), pc), OSTREL_STATUS_INVALID);

    EXPECT_EQ(sim::trace(), "if_type_get pc_info_get");
    EXPECT_EQ(batch_buf, nullptr);
    EXPECT_EQ(batch_len, 0u);
    EXPECT_EQ(sim::live_allocations(), live);
}

TEST_F(PortChannel, OversizeOverrideCopyOnAMemberlessPortChannelIsRefused) {
    sim::set_pc_members(kPc, {});
    Registry reg(kVlan);
    IntfNode *pc = reg.add(kPc, {A}, 2031); // 130072 bytes
    pc_override_if_index = 0x4242;

    EXPECT_EQ(program(reg.vlan(), pc), OSTREL_STATUS_INVALID);

    EXPECT_EQ(sim::count_of(sim::Op::Send), 0u);
    EXPECT_EQ(batch_buf, nullptr);
    EXPECT_EQ(pc_override_if_index, 0x4242u);
}

TEST_F(PortChannel, OversizeRequestOnAMemberlessPortChannelWithoutOverrideAppendsNothing) {
    sim::set_pc_members(kPc, {});
    Registry reg(kVlan);
    IntfNode *pc = reg.add(kPc, {A}, 2031);

    ASSERT_EQ(program(reg.vlan(), pc), 0u);

    EXPECT_EQ(sent(0), batch(1, 0, {}));
}

TEST_F(PortChannel, FailedMemberQueryIsRefusedWithBatchOverrideAndFlagUnchanged) {
    sim::fail_pc_queries(1, 5);
    Registry reg(kVlan);
    IntfNode *pc = reg.add(kPc, {A});
    open_batch(kBatchSize - 56, 2); // would otherwise flush
    const Bytes before = open_batch_bytes();
    pc_override_if_index = 0x4242;
    did_yarl_send = 1;
    const long live = sim::live_allocations();

    EXPECT_EQ(program(reg.vlan(), pc), OSTREL_STATUS_INVALID);

    EXPECT_EQ(sim::trace(), "if_type_get pc_info_get");
    EXPECT_EQ(open_batch_bytes(), before);
    EXPECT_EQ(pc_override_if_index, 0x4242u);
    EXPECT_EQ(did_yarl_send, 1u);
    EXPECT_EQ(sim::live_allocations(), live);
}

TEST_F(PortChannel, FailedTypeQueryReadsAsAPlainInterface) {
    sim::set_pc_members(kPc, {11, 12, 13});
    sim::fail_if_type_queries(1, -1);
    Registry reg(kVlan);
    IntfNode *pc = reg.add(kPc, {});

    ASSERT_EQ(program(reg.vlan(), pc), 0u);

    EXPECT_EQ(sim::trace(), "if_type_get send");
    EXPECT_EQ(sent(0), batch(1, 1, {empty_request(1, kVlan, kPc)}));
}

TEST_F(PortChannel, FlushBeforeFanOutDrainsAndStartsANewBatch) {
    sim::set_pc_members(kPc, {11, 12});
    Registry reg(kVlan);
    IntfNode *pc = reg.add(kPc, {});
    open_batch(kBatchSize - 200, 1);

    ASSERT_EQ(program(reg.vlan(), pc), 0u);

    EXPECT_EQ(sim::trace(), std::string("if_type_get pc_info_get send ") + kDrain + " send");
    EXPECT_EQ(sent(1), batch(1, 2, {empty_request(1, kVlan, 11), empty_request(1, kVlan, 12)}));
}

} // namespace
} // namespace builder_test
