// The simulated platform: seams, services, transport records and scripts.
#include <gtest/gtest.h>

#include <cstring>
#include <unistd.h>

#include "ifsvc.h"
#include "sim_platform.h"
#include "sim_state.h"
#include "yarl.h"

namespace {

struct Sim : ::testing::Test {
    void SetUp() override { sim::reset(); }
    int send(const char *bytes = "abcd") {
        return yarl_send(7, &dst, OSTREL_ACL_OPCODE, bytes,
                         uint32_t(std::strlen(bytes)), &msg, 0, &opts);
    }
    int recv(uint32_t token) {
        yarl_recv_opts o{{1, 0, 20, token}};
        return yarl_recv(7, &reply, &o);
    }
    yarl_addr dst{OSTREL_ACL_SERVICE_NODE, OSTREL_ACL_SERVICE_PORT};
    yarl_send_opts opts{{1}};
    yarl_msg msg{}, reply{};
};

TEST_F(Sim, SleepsAndPerrorAreRecordedAndAllocationsCountedAndFailed) {
    EXPECT_EQ(usleep(800000), 0);
    perror("text\n");
    EXPECT_EQ(sim::sleeps(), std::vector<uint32_t>{800000});
    EXPECT_EQ(sim::perrors(), std::vector<std::string>{"text\n"});
    void *a = malloc(4), *b = calloc(2, 8);
    sim::fail_allocation(2); // the second from now on, once
    void *c = malloc(4);
    EXPECT_EQ(calloc(1, 4), nullptr);
    sim::fail_allocations_from(2);
    void *d = malloc(4);
    EXPECT_EQ(malloc(4), nullptr);
    EXPECT_EQ(calloc(1, 1), nullptr);
    sim::fail_allocations_from(0);
    void *e = malloc(4);
    EXPECT_TRUE(a && b && c && d && e);
    EXPECT_EQ(sim::allocations_made(), 8);
    EXPECT_EQ(sim::live_allocations(), 5);
    for (void *p : {a, b, c, d})
        free(p);
    sim::reset(); // forgets the counters: e was allocated before
    free(e);
    EXPECT_EQ(sim::live_allocations() + sim::allocations_made(), 0);
}

TEST_F(Sim, TheLiveSetFindsCollidingBlocksFreedInAnyOrder) {
    std::vector<uintptr_t> keys;
    for (uint64_t x = 88172645463325252ull; keys.size() < 49000;) {
        x ^= x << 13, x ^= x >> 7, x ^= x << 17;
        keys.push_back(static_cast<uintptr_t>(x | 1u) << 4);
    }
    for (uintptr_t k : keys)
        sim::detail::track_block(reinterpret_cast<void *>(k));
    EXPECT_GT(sim::live_allocations(), 48900); // a few keys may repeat
    for (size_t i = 0; i < keys.size(); ++i)
        std::swap(keys[i], keys[(i * 7919) % keys.size()]);
    for (uintptr_t k : keys)
        sim::detail::untrack_block(reinterpret_cast<void *>(k));
    EXPECT_EQ(sim::live_allocations(), 0);
}

TEST_F(Sim, ServicesAnswerFromTheirTablesAndFailuresFillNothing) {
    sim::set_if_type(5, OSTREL_IF_TYPE_PORT_CHANNEL);
    uint8_t t5 = 0, t6 = 0, kept = 77;
    EXPECT_EQ(if_index_get_type(5, &t5) + if_index_get_type(6, &t6), 0);
    sim::fail_if_type_queries(1, -3);
    EXPECT_EQ(if_index_get_type(5, &kept), -3);
    EXPECT_EQ(std::vector<int>({t5, t6, kept}),
              std::vector<int>({OSTREL_IF_TYPE_PORT_CHANNEL, 1, 77}));
    struct {
        PortChannelInfo info;
        uint8_t after[16];
    } g;
    std::memset(&g, 0xa5, sizeof g);
    g.info = PortChannelInfo{};
    g.info.pc_if_index = 40;
    sim::set_pc_members(40, {1, 2, 3, 4, 5, 6, 7, 8});
    sim::fail_pc_queries(1, 9);
    EXPECT_EQ(port_channel_info_get(&g.info), 9);
    EXPECT_EQ(uint32_t{g.info.member_count}, 0u);
    EXPECT_EQ(port_channel_info_get(&g.info), 0);
    EXPECT_EQ(uint32_t{g.info.member_count}, 8u);
    EXPECT_EQ(uint32_t{g.info.members[5].if_index}, 6u); // six entries at most
    EXPECT_EQ(g.after[0] + g.after[15], 2 * 0xa5);
    sim::set_pc_reported_count(40, 1000);
    EXPECT_EQ(port_channel_info_get(&g.info), 0);
    EXPECT_EQ(uint32_t{g.info.member_count}, 1000u);
}

TEST_F(Sim, ASendIsHeldUntilDroppedAndItsReplyReceivedOnceUnderItsToken) {
    sim::set_reply_word(0x11223344);
    char bytes[] = "hello";
    ASSERT_EQ(send(bytes), 0);
    bytes[0] = 'j'; // the record keeps what was sent
    const uint32_t token = yarl_rr_token_get(&msg);
    EXPECT_EQ(yarl_drop(7, &msg), 0);
    EXPECT_EQ(recv(token + 1), -1);
    EXPECT_EQ(yarl_errno_get(7), sim::kNoReplyErrno);
    ASSERT_EQ(recv(token), 0);
    EXPECT_EQ(*static_cast<uint32_t *>(yarl_payload_get(&reply)), 0x11223344u);
    EXPECT_EQ(yarl_drop(7, &reply), 0);
    EXPECT_EQ(recv(token), -1); // delivered once
    EXPECT_EQ(sim::outstanding_records(), 0);
    EXPECT_EQ(sim::calls()[0].payload,
              (std::vector<uint8_t>{'h', 'e', 'l', 'l', 'o'}));
}

TEST_F(Sim, ScriptsApplyToTheNextCallsOnlyAndResetForgetsEverything) {
    sim::fail_next_sends(2, 0x1234);
    EXPECT_EQ(send() + send(), -2);
    EXPECT_EQ(yarl_errno_get(7) + yarl_errno_get(8), 0x1234); // per handle
    sim::next_reply_without_payload();
    ASSERT_EQ(send() + send(), 0); // msg reused while held: both stay held
    sim::fail_next_recv(71);
    EXPECT_EQ(recv(sim::kFirstToken), -1);
    EXPECT_EQ(yarl_errno_get(7), 71);
    ASSERT_EQ(recv(sim::kFirstToken), 0); // the reply stayed queued
    EXPECT_EQ(yarl_payload_get(&reply), nullptr);
    ASSERT_EQ(recv(sim::kFirstToken + 1), 0);
    EXPECT_NE(yarl_payload_get(&reply), nullptr);
    yarl_msg made = sim::make_received_message({4, 3, 2}); // a third reply
    EXPECT_EQ(sim::outstanding_records(), 5); // 2 sent, 2 received, 1 made
    sim::set_copy_payloads(false);
    ASSERT_EQ(send("abcdef"), 0);
    EXPECT_EQ(sim::calls().back().length, 6u);
    EXPECT_TRUE(sim::calls().back().payload.empty());
    sim::fail_next_sends(5, 1);
    sim::reset();
    EXPECT_EQ(sim::outstanding_records() + sim::pending_replies(), 0u);
    EXPECT_EQ(yarl_drop(7, &made), -1); // names nothing after the reset
    EXPECT_EQ(send(), 0);
    EXPECT_EQ(sim::calls().back().payload.size(), 4u);
    EXPECT_EQ(yarl_rr_token_get(&msg), sim::kFirstToken);
}

} // namespace
