// The simulated interface and port-channel services.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "ifsvc.h"
#include "sim_platform.h"

namespace {

struct Services : ::testing::Test {
    void SetUp() override { sim::reset(); }
};

// A PortChannelInfo between guard bytes that the service must not touch.
struct Guarded {
    uint8_t before[16];
    PortChannelInfo info;
    uint8_t after[16];

    explicit Guarded(uint32_t pc) {
        std::memset(this, 0xa5, sizeof *this);
        std::memset(&info, 0, sizeof info);
        info.pc_if_index = pc;
    }
    bool guards_intact() const {
        for (size_t i = 0; i < sizeof before; ++i)
            if (before[i] != 0xa5 || after[i] != 0xa5)
                return false;
        return true;
    }
};

TEST_F(Services, InterfaceTypesComeFromTheTableAndFailuresWriteNothing) {
    sim::set_if_type(5, OSTREL_IF_TYPE_PORT_CHANNEL);
    uint8_t type = 0;
    EXPECT_EQ(if_index_get_type(5, &type), 0);
    EXPECT_EQ(type, OSTREL_IF_TYPE_PORT_CHANNEL);
    EXPECT_EQ(if_index_get_type(6, &type), 0);
    EXPECT_EQ(type, 1); // unknown
    sim::fail_if_type_queries(1, -3);
    type = 77;
    EXPECT_EQ(if_index_get_type(5, &type), -3);
    EXPECT_EQ(type, 77);
    EXPECT_EQ(sim::calls_of(sim::Op::IfTypeGet).at(1).arg, 6u);
    EXPECT_EQ(sim::trace(), "if_type_get if_type_get if_type_get");
}

TEST_F(Services, PortChannelMembersAreFilledInRecordOrder) {
    sim::set_pc_members(40, {11, 12, 13});
    Guarded g(40);
    EXPECT_EQ(port_channel_info_get(&g.info), 0);
    EXPECT_EQ(g.info.member_count, 3u);
    EXPECT_EQ(g.info.members[0].if_index, 11u);
    EXPECT_EQ(g.info.members[2].if_index, 13u);
    EXPECT_EQ(g.info.members[3].if_index, 0u);
    EXPECT_EQ(sim::calls().back().arg, 40u);

    Guarded unknown(41);
    EXPECT_EQ(port_channel_info_get(&unknown.info), 0);
    EXPECT_EQ(unknown.info.member_count, 0u);
}

TEST_F(Services, CountsAboveSixNeverWriteBeyondTheRecord) {
    sim::set_pc_members(40, {1, 2, 3, 4, 5, 6, 7, 8});
    Guarded all(40);
    EXPECT_EQ(port_channel_info_get(&all.info), 0);
    EXPECT_EQ(all.info.member_count, 8u);
    EXPECT_EQ(all.info.members[5].if_index, 6u);
    EXPECT_TRUE(all.guards_intact());

    sim::set_pc_reported_count(40, 1000);
    Guarded reported(40);
    EXPECT_EQ(port_channel_info_get(&reported.info), 0);
    EXPECT_EQ(reported.info.member_count, 1000u);
    EXPECT_TRUE(reported.guards_intact());
    // A heap record of exactly 68 bytes, for the address sanitizer.
    auto exact = std::make_unique<PortChannelInfo>();
    exact->pc_if_index = 40;
    EXPECT_EQ(port_channel_info_get(exact.get()), 0);
}

TEST_F(Services, FailedPortChannelQueriesFillNothing) {
    sim::set_pc_members(40, {1, 2});
    sim::fail_pc_queries(2, 9);
    for (int i = 0; i < 2; ++i) {
        Guarded g(40);
        EXPECT_EQ(port_channel_info_get(&g.info), 9);
        EXPECT_EQ(g.info.member_count, 0u);
        EXPECT_EQ(g.info.members[0].if_index, 0u);
    }
    Guarded g(40);
    EXPECT_EQ(port_channel_info_get(&g.info), 0);
    EXPECT_EQ(g.info.member_count, 2u);
}

} // namespace
