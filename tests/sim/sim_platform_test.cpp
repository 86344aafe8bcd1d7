// What users of the simulated platform rely on, driven through its C
// controls: the transport's replies and failures, the service tables and
// their failures, the recording, and the seams.
#include <gtest/gtest.h>

#include <cstring>
#include <tuple>
#include <unistd.h>

#include "sim_platform.h"
#include "yarl.h"

namespace {

struct Sim : ::testing::Test {
    void SetUp() override { ostrel_sim_reset(); }
    yarl_msg msg{}, reply{};
    yarl_addr dst{1, 2};
    const uint8_t bytes[3] = {7, 8, 9};
    int send() { return yarl_send(5, &dst, 9, bytes, 3, &msg, 0, nullptr); }
    // Receives the reply to msg's send into `reply`.
    int recv() {
        yarl_recv_opts opts{{1, 0, 20, yarl_rr_token_get(&msg)}};
        return yarl_recv(5, &reply, &opts);
    }
};

TEST_F(Sim, TheTransportRepliesToSendsAndFailsOnlyTheCallsAsked) {
    ostrel_sim_set_reply_word(0x41040002u);
    ostrel_sim_fail_next_sends(2, 111);
    EXPECT_EQ(send() & send(), -1);
    EXPECT_EQ(yarl_errno_get(5), 111);
    ASSERT_EQ(send(), 0);
    EXPECT_EQ(yarl_rr_token_get(&msg), OSTREL_SIM_FIRST_TOKEN);
    ostrel_sim_fail_next_recv(4);
    EXPECT_EQ(recv(), -1);
    EXPECT_EQ(yarl_errno_get(5), 4);
    ASSERT_EQ(recv(), 0);
    EXPECT_EQ(*static_cast<uint32_t *>(yarl_payload_get(&reply)), 0x41040002u);
    EXPECT_EQ(recv(), -1); // its reply was taken
    EXPECT_EQ(yarl_errno_get(5), OSTREL_SIM_NO_REPLY_ERRNO);
    ostrel_sim_next_reply_without_payload();
    ASSERT_EQ(send() | recv(), 0);
    EXPECT_EQ(yarl_payload_get(&reply), nullptr);
    ASSERT_EQ(send() | recv(), 0);
    EXPECT_NE(yarl_payload_get(&reply), nullptr); // only the next one had none
    EXPECT_EQ(yarl_drop(5, &msg) | yarl_drop(5, &reply), 0);
    EXPECT_EQ(ostrel_sim_pending_replies(), 0u);
    EXPECT_EQ(ostrel_sim_outstanding_records(), 4u); // two of each not dropped
}

TEST_F(Sim, ServicesReportTheTablesAndTheScriptedFailures) {
    uint8_t type = 0;
    ostrel_sim_set_if_type(4, OSTREL_IF_TYPE_PORT_CHANNEL);
    ostrel_sim_fail_if_type_queries(1, -7);
    EXPECT_EQ(if_index_get_type(4, &type), -7);
    ASSERT_EQ(if_index_get_type(3, &type), 0);
    EXPECT_EQ(type, 1); // the default
    ASSERT_EQ(if_index_get_type(4, &type), 0);
    EXPECT_EQ(type, OSTREL_IF_TYPE_PORT_CHANNEL);

    const uint32_t members[7] = {11, 12, 13, 14, 15, 16, 17};
    ostrel_sim_set_pc_members(40, members, 7);
    ostrel_sim_set_pc_members(41, members, 2);
    ostrel_sim_set_pc_reported_count(41, 9);
    PortChannelInfo a{{}, 40, {}, 0, {}, {}}, b{{}, 41, {}, 0, {}, {}};
    ostrel_sim_fail_pc_queries(1, 3);
    EXPECT_EQ(port_channel_info_get(&a), 3);
    EXPECT_EQ(uint32_t{a.member_count}, 0u); // packed: read by value
    ASSERT_EQ(port_channel_info_get(&a) | port_channel_info_get(&b), 0);
    EXPECT_EQ(uint32_t{a.member_count}, 7u);
    EXPECT_EQ(uint32_t{a.members[5].if_index}, 16u);
    EXPECT_EQ(uint32_t{b.member_count},
              9u); // as reported, with only two filled in
    EXPECT_EQ(b.members[1].if_index + b.members[2].if_index, 12u);
}

TEST_F(Sim, TheRecordingListsEveryCallWithItsArguments) {
    ASSERT_EQ(send(), 0);
    ostrel_sim_set_copy_payloads(0);
    ASSERT_EQ(send() | heartbeat_update_and_send(3) | usleep(800000), 0);
    perror("text\n");
    ASSERT_EQ(ostrel_sim_call_count(), 5u);
    EXPECT_EQ(ostrel_sim_count_of(OSTREL_SIM_OP_SEND), 2u);
    ostrel_sim_call_t c[5];
    for (size_t i = 0; i < 5; ++i)
        ASSERT_EQ(ostrel_sim_call_at(i, &c[i]), 0);
    EXPECT_EQ(std::make_tuple(c[0].op, c[0].handle, c[0].opcode, c[0].length),
              std::make_tuple(OSTREL_SIM_OP_SEND, 5u, 9u, 3u));
    ASSERT_EQ(c[0].payload_size, 3u);
    EXPECT_EQ(std::memcmp(c[0].payload, bytes, 3), 0);
    EXPECT_EQ(c[1].token, OSTREL_SIM_FIRST_TOKEN + 1);
    EXPECT_EQ(c[1].payload, nullptr);
    EXPECT_STREQ(ostrel_sim_op_name(c[2].op), "heartbeat");
    EXPECT_EQ(c[2].arg, 3u);
    EXPECT_EQ(c[3].arg, 800000u);
    EXPECT_STREQ(c[4].text, "text\n");
}

TEST_F(Sim, AllocationsAreCountedAndFailedAsScripted) {
    void *a = malloc(4), *b = calloc(2, 8);
    ostrel_sim_fail_allocation(2); // the second from now on, once
    void *c = malloc(4);
    EXPECT_EQ(calloc(1, 4), nullptr);
    ostrel_sim_fail_allocations_from(2);
    void *d = malloc(4);
    EXPECT_EQ(malloc(4), nullptr);
    EXPECT_EQ(calloc(1, 1), nullptr);
    ostrel_sim_fail_allocations_from(0);
    void *e = malloc(4);
    EXPECT_TRUE(a && b && c && d && e);
    EXPECT_EQ(ostrel_sim_allocations_made(), 8);
    EXPECT_EQ(ostrel_sim_live_allocations(), 5);
    for (void *p : {a, b, c, d})
        free(p);
    ostrel_sim_reset(); // forgets the counters: e was allocated before
    free(e);
    EXPECT_EQ(ostrel_sim_live_allocations() + ostrel_sim_allocations_made(), 0);
}

TEST_F(Sim, ManyLiveBlocksFreedInAnyOrderAreAllAccountedFor) {
    std::vector<void *> blocks(49000);
    for (void *&b : blocks)
        b = malloc(16);
    EXPECT_EQ(ostrel_sim_live_allocations(), 49000);
    for (size_t i = 0; i < blocks.size(); ++i)
        std::swap(blocks[i], blocks[(i * 7919) % blocks.size()]);
    for (void *b : blocks)
        free(b);
    EXPECT_EQ(ostrel_sim_live_allocations(), 0);
}

} // namespace
