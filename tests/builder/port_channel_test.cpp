// Port-channel copies: members, override, cap at six, space, queries.
#include "builder_support.h"

namespace builder_test {

using PortChannels = BuilderTest;

TEST_F(PortChannels, MembersGetOneCopyEachAndAnOverrideOneCopyInAll) {
    ostrel::sim::set_if_type(kPc, kPortChannelType);
    ostrel::sim::set_pc_members(kPc, {12, 11, 13});
    IntfNode *plain = reg.add(9, {}), *pc = reg.add(kPc, {});
    pc_override_if_index = 0x42;
    ASSERT_EQ(program(plain, 1, 1), 0u); // leaves the override pending
    ASSERT_EQ(program(pc, 1, 1), 0u);    // consumes it
    ASSERT_EQ(program(pc, 1, 1), 0u);
    ostrel::sim::set_pc_members(kPc, {});
    pc_override_if_index = 0x43;
    ASSERT_EQ(program(pc, 1, 1), 0u); // no members: still its one copy
    ASSERT_EQ(program(pc), 0u);       // no members, no override: none
    EXPECT_EQ(ostrel::sim::calls_of(ostrel::sim::Op::PcInfoGet).at(0).arg, kPc);
    EXPECT_EQ(sent(0), batch(0, {empty_request(9), empty_request(0x42),
                                 empty_request(12), empty_request(11),
                                 empty_request(13), empty_request(0x43)}));
    EXPECT_EQ(pc_override_if_index, 0u);
}

TEST_F(PortChannels, TheSpaceNeededCountsEveryCopyAndNeverFitsIsRefused) {
    IntfNode *pc = reg.add(kPc, {});
    struct Case {
        const char *name;
        std::vector<uint32_t> members;
        uint32_t override_if, room, count, status, sends, copies;
    };
    const std::vector<uint32_t> six = {1, 2, 3, 4, 5, 6}, three = {1, 2, 3};
    const uint32_t I = OSTREL_STATUS_INVALID, kQueryFails = 7;
    // clang-format off
    const Case cases[] = {
        {"copies filling the room flush it", three, 0, 3 * 152, 0, 0, 1, 3},
        {"copies with room to spare join", three, 0, 3 * 152 + 8, 0, 0, 0, 4},
        {"an override counts every member", three, 99, 2 * 152, 0, 0, 1, 1},
        {"an override without members counts one", {}, 99, 152, 0, 0, 1, 1},
        {"no members, no override: no room needed", {}, 0, 8, 0, 0, 0, 1},
        {"nine members reported: six copies", six, 0, 6 * 152 + 8, 0, 0, 0, 7},
        {"six copies of 21720 bytes never fit", six, 0, 8, 338, I, 0, 1},
        {"three of 43352: the whole block", three, 0, 8, 676, I, 0, 1},
        {"one override copy of 130072 bytes", {}, 99, 8, 2031, I, 0, 1},
        {"a failed member query", {kQueryFails}, 99, 56, 0, I, 0, 1}};
    // clang-format on
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        reset();
        ostrel::sim::set_if_type(kPc, kPortChannelType);
        ostrel::sim::set_pc_members(kPc, c.members);
        if (c.members.size() == 6)
            ostrel::sim::set_pc_reported_count(kPc, 9);
        if (c.members.size() == 1)
            ostrel::sim::fail_pc_queries(1, 5);
        pc->first = c.count ? &reg.aces.emplace_back() : nullptr;
        pc->count = c.count;
        open_batch(kBatchSize - c.room, 1);
        const Bytes before = open_batch_bytes();
        pc_override_if_index = c.override_if;
        EXPECT_EQ(program(pc, 1, 1), c.status);
        EXPECT_EQ(ostrel::sim::count_of(ostrel::sim::Op::Send), c.sends);
        EXPECT_EQ(u32(open_batch_bytes(), 4), c.copies);
        if (c.status != 0) {
            EXPECT_EQ(open_batch_bytes(), before);
            EXPECT_EQ(pc_override_if_index, c.override_if);
        }
    }
    ostrel::sim::fail_if_type_queries(1, -1); // a failed type query: plain
    clear_globals();
    ASSERT_EQ(program(pc), 0u);
    EXPECT_EQ(u32(sent(0), 8 + 16), kPc);
}

} // namespace builder_test
