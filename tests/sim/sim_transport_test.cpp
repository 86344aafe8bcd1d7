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
    yarl_msg msg{}, reply{};

    int send(const void *bytes = "abcd", uint32_t length = 4) {
        return yarl_send(7, &dst, OSTREL_ACL_OPCODE, bytes, length, &msg, 0,
                         &send_opts);
    }
    int recv(uint32_t token) {
        yarl_recv_opts opts{{1, 0, 20, token}};
        return yarl_recv(7, &reply, &opts);
    }
};

TEST_F(Transport, DrainingASendReleasesTheMessageAndItsReply) {
    sim::set_reply_word(0x11223344);
    uint8_t bytes[] = {1, 2, 3, 4, 5};
    ASSERT_EQ(send(bytes, sizeof bytes), 0);
    bytes[0] = 99; // the record keeps what was sent
    EXPECT_EQ(sim::outstanding_records(), 1);

    uint32_t token = yarl_rr_token_get(&msg);
    EXPECT_EQ(token, sim::kFirstToken);
    EXPECT_EQ(yarl_drop(7, &msg), 0);
    ASSERT_EQ(recv(token), 0);
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
    const sim::Call &sent = sim::calls().front();
    EXPECT_EQ(sent.dst.node, OSTREL_ACL_SERVICE_NODE);
    EXPECT_EQ(sent.opcode, OSTREL_ACL_OPCODE);
    EXPECT_EQ(sent.send_opts.word[0], 1u);
    EXPECT_EQ(sent.payload, (std::vector<uint8_t>{1, 2, 3, 4, 5}));
    EXPECT_EQ(sent.token, token);
    EXPECT_EQ(sim::calls()[3].recv_opts.word[2], 20u);
}

TEST_F(Transport, TokensAreFreshAndRepliesDeliveredOnceEach) {
    ASSERT_EQ(send(), 0);
    uint32_t first = yarl_rr_token_get(&msg);
    ASSERT_EQ(yarl_drop(7, &msg), 0);
    ASSERT_EQ(send(), 0);
    uint32_t second = yarl_rr_token_get(&msg);
    EXPECT_GT(second, first);

    EXPECT_EQ(recv(second + 1), -1); // no reply under an unknown token
    EXPECT_EQ(yarl_errno_get(7), sim::kNoReplyErrno);
    ASSERT_EQ(recv(first), 0);
    ASSERT_EQ(yarl_drop(7, &reply), 0);
    EXPECT_EQ(recv(first), -1);
    EXPECT_EQ(sim::pending_replies(), 1u);
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
}

TEST_F(Transport, AScriptedReceiveFailureKeepsTheReplyQueued) {
    ASSERT_EQ(send(), 0);
    sim::fail_next_recv(71);
    EXPECT_EQ(recv(yarl_rr_token_get(&msg)), -1);
    EXPECT_EQ(yarl_errno_get(7), 71);
    EXPECT_EQ(yarl_payload_get(&reply), nullptr); // nothing filled
    EXPECT_EQ(recv(yarl_rr_token_get(&msg)), 0);
}

TEST_F(Transport, OnlyTheNextReplyHasNoPayload) {
    for (bool without : {true, false}) {
        if (without)
            sim::next_reply_without_payload();
        ASSERT_EQ(send(), 0);
        ASSERT_EQ(recv(yarl_rr_token_get(&msg)), 0);
        EXPECT_EQ(yarl_payload_get(&reply) == nullptr, without);
        EXPECT_EQ(yarl_drop(7, &reply), 0);
        EXPECT_EQ(yarl_drop(7, &msg), 0);
    }
    EXPECT_EQ(sim::outstanding_records(), 0);
}

TEST_F(Transport, LeakedAndDoubleDroppedMessagesShowInTheRecordCount) {
    ASSERT_EQ(send(), 0);
    ASSERT_EQ(send(), 0); // msg reused while still held
    EXPECT_EQ(yarl_drop(7, &msg), 0);
    EXPECT_EQ(yarl_drop(7, &msg), -1);
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
    EXPECT_EQ(sim::outstanding_records(), 1);
}

TEST_F(Transport, ResetForgetsCallsRecordsRepliesScriptsAndTokens) {
    sim::set_copy_payloads(false);
    ASSERT_EQ(send("abcdef", 6), 0);
    EXPECT_EQ(sim::calls().back().length, 6u);
    EXPECT_TRUE(sim::calls().back().payload.empty());
    sim::fail_next_sends(5, 1);
    yarl_msg stale = msg;
    sim::reset();
    EXPECT_TRUE(sim::calls().empty());
    EXPECT_EQ(sim::outstanding_records(), 0);
    EXPECT_EQ(sim::pending_replies(), 0u);
    EXPECT_EQ(send(), 0);
    EXPECT_EQ(yarl_rr_token_get(&msg), sim::kFirstToken);
    EXPECT_EQ(sim::calls().front().payload.size(), 4u);
    EXPECT_EQ(yarl_drop(7, &stale), -1); // names nothing after the reset
    EXPECT_EQ(sim::outstanding_records(), 1);
}

} // namespace
