// The simulated message transport: tokens, replies, records, failures.
#include <gtest/gtest.h>

#include <cstring>

#include "sim_platform.h"
#include "yarl.h"

namespace {

struct Transport : ::testing::Test {
    void SetUp() override { sim::reset(); }
    void TearDown() override { sim::reset(); }

    yarl_addr dst{OSTREL_ACL_SERVICE_NODE, OSTREL_ACL_SERVICE_PORT};
    yarl_send_opts send_opts{{1}};
    yarl_msg msg{};

    int send(const void *bytes = "abcd", uint32_t length = 4) {
        return yarl_send(7, &dst, OSTREL_ACL_OPCODE, bytes, length, &msg, 0,
                         &send_opts);
    }
    static yarl_recv_opts recv_opts(uint32_t token) {
        return yarl_recv_opts{{1, 0, 20, token}};
    }
};

TEST_F(Transport, DrainingASendReleasesTheMessageAndItsReply) {
    sim::set_reply_word(0x11223344);
    ASSERT_EQ(send(), 0);
    EXPECT_EQ(sim::outstanding_records(), 1);

    uint32_t token = yarl_rr_token_get(&msg);
    EXPECT_EQ(token, sim::kFirstToken);
    yarl_recv_opts opts = recv_opts(token);
    EXPECT_EQ(yarl_drop(7, &msg), 0);
    EXPECT_EQ(sim::outstanding_records(), 0);

    yarl_msg reply{};
    ASSERT_NE(yarl_recv(7, &reply, &opts), -1);
    EXPECT_EQ(sim::outstanding_records(), 1);
    void *payload = yarl_payload_get(&reply);
    ASSERT_NE(payload, nullptr);
    uint32_t word;
    std::memcpy(&word, payload, sizeof word);
    EXPECT_EQ(word, 0x11223344u);
    EXPECT_EQ(yarl_drop(7, &reply), 0);

    EXPECT_EQ(sim::outstanding_records(), 0);
    EXPECT_EQ(sim::pending_replies(), 0u);
    EXPECT_EQ(sim::trace(), "send rr_token_get drop recv payload_get drop");
}

TEST_F(Transport, SendIsRecordedWithEveryArgumentAndACopyOfThePayload) {
    uint8_t bytes[] = {1, 2, 3, 4, 5};
    ASSERT_EQ(send(bytes, sizeof bytes), 0);
    bytes[0] = 99; // the record keeps what was sent

    ASSERT_EQ(sim::count_of(sim::Op::Send), 1u);
    const sim::Call &c = sim::calls().front();
    EXPECT_EQ(c.handle, 7u);
    EXPECT_EQ(c.dst.node, OSTREL_ACL_SERVICE_NODE);
    EXPECT_EQ(c.dst.service, OSTREL_ACL_SERVICE_PORT);
    EXPECT_EQ(c.opcode, OSTREL_ACL_OPCODE);
    EXPECT_EQ(c.length, 5u);
    EXPECT_EQ(c.seventh, 0u);
    EXPECT_EQ(c.send_opts.word[0], 1u);
    EXPECT_EQ(c.msg, &msg);
    EXPECT_EQ(c.payload, (std::vector<uint8_t>{1, 2, 3, 4, 5}));
    EXPECT_EQ(c.token, sim::kFirstToken);
    EXPECT_EQ(c.result, 0);
}

TEST_F(Transport, WithoutPayloadCopiesOnlyTheLengthIsRecorded) {
    sim::set_copy_payloads(false);
    ASSERT_EQ(send("abcdef", 6), 0);
    EXPECT_EQ(sim::calls().back().length, 6u);
    EXPECT_TRUE(sim::calls().back().payload.empty());
}

TEST_F(Transport, EachSendGetsAFreshIncreasingToken) {
    ASSERT_EQ(send(), 0);
    uint32_t first = yarl_rr_token_get(&msg);
    ASSERT_EQ(yarl_drop(7, &msg), 0);
    ASSERT_EQ(send(), 0);
    uint32_t second = yarl_rr_token_get(&msg);
    EXPECT_NE(first, 0u);
    EXPECT_GT(second, first);
    EXPECT_EQ(sim::pending_replies(), 2u);
}

TEST_F(Transport, ScriptedSendFailuresSetTheHandlesErrorNumber) {
    sim::fail_next_sends(2, 0x1234);
    EXPECT_EQ(send(), -1);
    EXPECT_EQ(yarl_errno_get(7), 0x1234);
    EXPECT_EQ(send(), -1);
    EXPECT_EQ(send(), 0);
    EXPECT_EQ(yarl_errno_get(8), 0); // other handles are untouched
    EXPECT_EQ(sim::outstanding_records(), 1);
    EXPECT_EQ(sim::pending_replies(), 1u);
    EXPECT_EQ(sim::trace(), "send errno_get send send errno_get");
}

TEST_F(Transport, ScriptedReceiveFailureFillsNoRecord) {
    ASSERT_EQ(send(), 0);
    yarl_recv_opts opts = recv_opts(yarl_rr_token_get(&msg));
    sim::fail_next_recv(71);
    yarl_msg reply{};
    EXPECT_EQ(yarl_recv(7, &reply, &opts), -1);
    EXPECT_EQ(yarl_errno_get(7), 71);
    EXPECT_EQ(yarl_payload_get(&reply), nullptr);
    // The reply is still there for the next receive.
    EXPECT_EQ(yarl_recv(7, &reply, &opts), 0);
    EXPECT_EQ(yarl_drop(7, &reply), 0);
    EXPECT_EQ(yarl_drop(7, &msg), 0);
    EXPECT_EQ(sim::outstanding_records(), 0);
}

TEST_F(Transport, ReceiveForAnUnknownTokenFails) {
    ASSERT_EQ(send(), 0);
    yarl_recv_opts opts = recv_opts(yarl_rr_token_get(&msg) + 1);
    yarl_msg reply{};
    EXPECT_EQ(yarl_recv(7, &reply, &opts), -1);
    EXPECT_EQ(yarl_errno_get(7), sim::kNoReplyErrno);
    EXPECT_EQ(sim::calls_of(sim::Op::Recv).at(0).recv_opts.word[2], 20u);
    EXPECT_EQ(sim::outstanding_records(), 1); // only the sent message
}

TEST_F(Transport, AReplyIsDeliveredOnce) {
    ASSERT_EQ(send(), 0);
    yarl_recv_opts opts = recv_opts(yarl_rr_token_get(&msg));
    yarl_msg reply{};
    ASSERT_EQ(yarl_recv(7, &reply, &opts), 0);
    ASSERT_EQ(yarl_drop(7, &reply), 0);
    EXPECT_EQ(yarl_recv(7, &reply, &opts), -1);
}

TEST_F(Transport, ReplyWithoutPayloadHasANullPayload) {
    ASSERT_EQ(send(), 0);
    yarl_recv_opts opts = recv_opts(yarl_rr_token_get(&msg));
    sim::next_reply_without_payload();
    yarl_msg reply{};
    ASSERT_EQ(yarl_recv(7, &reply, &opts), 0);
    EXPECT_EQ(yarl_payload_get(&reply), nullptr);
    ASSERT_EQ(yarl_drop(7, &reply), 0);

    // Only the next reply: the one after has its payload again.
    ASSERT_EQ(send(), 0);
    opts = recv_opts(yarl_rr_token_get(&msg));
    ASSERT_EQ(yarl_recv(7, &reply, &opts), 0);
    EXPECT_NE(yarl_payload_get(&reply), nullptr);
}

TEST_F(Transport, DroppingTwiceReleasesOnce) {
    ASSERT_EQ(send(), 0);
    EXPECT_EQ(yarl_drop(7, &msg), 0);
    EXPECT_EQ(yarl_drop(7, &msg), -1);
    EXPECT_EQ(sim::outstanding_records(), 0);
}

TEST_F(Transport, ReusingAHeldMessageLeavesTheEarlierSendOutstanding) {
    ASSERT_EQ(send(), 0);
    ASSERT_EQ(send(), 0);
    ASSERT_EQ(yarl_drop(7, &msg), 0);
    EXPECT_EQ(sim::outstanding_records(), 1);
}

TEST_F(Transport, ReceivedMessagesCarryTheirPayloadUntilDropped) {
    yarl_msg with = sim::make_received_message({4, 3, 2, 1, 9});
    yarl_msg without = sim::make_received_message({});
    EXPECT_EQ(sim::outstanding_records(), 2);

    const auto *bytes = static_cast<const uint8_t *>(yarl_payload_get(&with));
    ASSERT_NE(bytes, nullptr);
    EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + 5),
              (std::vector<uint8_t>{4, 3, 2, 1, 9}));
    EXPECT_EQ(yarl_payload_get(&without), nullptr);

    EXPECT_EQ(yarl_drop(1, &with), 0);
    EXPECT_EQ(yarl_payload_get(&with), nullptr);
    EXPECT_EQ(yarl_drop(1, &without), 0);
    EXPECT_EQ(sim::outstanding_records(), 0);
}

TEST_F(Transport, ResetForgetsRecordsRepliesAndTokens) {
    ASSERT_EQ(send(), 0);
    sim::fail_next_sends(5, 1);
    sim::reset();
    EXPECT_EQ(sim::outstanding_records(), 0);
    EXPECT_EQ(sim::pending_replies(), 0u);
    EXPECT_TRUE(sim::calls().empty());
    EXPECT_EQ(send(), 0);
    EXPECT_EQ(yarl_rr_token_get(&msg), sim::kFirstToken);
}

} // namespace
