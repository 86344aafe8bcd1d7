// brisel_api_yarl_gobble: the call sequence, its receive options, its
// statuses and what it releases.
#include "builder_support.h"

namespace builder_test {
namespace {

const uint8_t kData[] = {0xAA, 0xBB, 0xCC, 0xDD};

class Drain : public BuilderTest {
protected:
    // A successful send with msg, as the builder's final send leaves it.
    void send_once() {
        ASSERT_EQ(ostrel_api_send_batch(kHandle, &msg, kData, sizeof kData), 0u);
        ASSERT_EQ(did_yarl_send, 1u);
        token = sends().at(0).token;
        calls_before = sim::calls().size();
    }
    // Names of the calls made after send_once().
    std::string drain_trace() const {
        std::string out;
        const auto &all = sim::calls();
        for (size_t i = calls_before; i < all.size(); ++i) {
            if (!out.empty())
                out += ' ';
            out += sim::op_name(all[i].op);
        }
        return out;
    }

    uint32_t token = 0;
    size_t calls_before = 0;
};

TEST_F(Drain, DropsTheMessageThenReceivesAndDropsTheReply) {
    send_once();

    EXPECT_EQ(brisel_api_yarl_gobble(kHandle, &msg), 0u);

    EXPECT_EQ(drain_trace(), "rr_token_get drop heartbeat recv payload_get drop");
    const auto drops = sim::calls_of(sim::Op::Drop);
    ASSERT_EQ(drops.size(), 2u);
    EXPECT_EQ(drops[0].msg, &msg);
    EXPECT_EQ(drops[0].handle, kHandle);
    const sim::Call recv = sim::calls_of(sim::Op::Recv).at(0);
    EXPECT_EQ(recv.handle, kHandle);
    EXPECT_NE(recv.msg, &msg);
    EXPECT_EQ(drops[1].msg, recv.msg);
    EXPECT_EQ(sim::calls_of(sim::Op::PayloadGet).at(0).msg, recv.msg);
    EXPECT_EQ(sim::calls_of(sim::Op::Heartbeat).at(0).arg, 0u);
    EXPECT_EQ(sim::calls_of(sim::Op::RrTokenGet).at(0).msg, &msg);
    EXPECT_EQ(did_yarl_send, 0u);
    EXPECT_EQ(sim::outstanding_records(), 0);
    EXPECT_EQ(sim::pending_replies(), 0u);
}

TEST_F(Drain, ReceiveOptionsAreOneZeroTwentyTokenThenZeros) {
    send_once();

    ASSERT_EQ(brisel_api_yarl_gobble(kHandle, &msg), 0u);

    const yarl_recv_opts o = sim::calls_of(sim::Op::Recv).at(0).recv_opts;
    const uint32_t expected[9] = {1, 0, 20, token, 0, 0, 0, 0, 0};
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(o.word[i], expected[i]) << "receive option word " << i;
    EXPECT_EQ(token, sim::kFirstToken);
}

TEST_F(Drain, FailedReceiveReturnsTheTransportErrorNumberItself) {
    send_once();
    sim::fail_next_recv(0x1234);

    EXPECT_EQ(brisel_api_yarl_gobble(kHandle, &msg), 0x1234u);

    EXPECT_EQ(drain_trace(), "rr_token_get drop heartbeat recv errno_get");
    EXPECT_EQ(did_yarl_send, 0u);
    EXPECT_EQ(sim::outstanding_records(), 0); // msg was already released
}

TEST_F(Drain, ReplyWithoutPayloadIsReleasedAndReportedAsNoEntry) {
    send_once();
    sim::next_reply_without_payload();

    EXPECT_EQ(brisel_api_yarl_gobble(kHandle, &msg), OSTREL_STATUS_NO_ENTRY);

    EXPECT_EQ(drain_trace(), "rr_token_get drop heartbeat recv payload_get drop");
    EXPECT_EQ(sim::outstanding_records(), 0);
    EXPECT_EQ(did_yarl_send, 0u);
}

TEST_F(Drain, ReplyPayloadContentIsNotExamined) {
    send_once();
    sim::set_reply_word(0xFFFFFFFFu);

    EXPECT_EQ(brisel_api_yarl_gobble(kHandle, &msg), 0u);
}

TEST_F(Drain, MessageRecordCanBeUsedForTheNextSendAfterADrain) {
    send_once();
    ASSERT_EQ(brisel_api_yarl_gobble(kHandle, &msg), 0u);

    EXPECT_EQ(ostrel_api_send_batch(kHandle, &msg, kData, sizeof kData), 0u);
    EXPECT_EQ(brisel_api_yarl_gobble(kHandle, &msg), 0u);

    EXPECT_EQ(sim::calls_of(sim::Op::Recv).at(1).recv_opts.word[3], sim::kFirstToken + 1);
    EXPECT_EQ(sim::outstanding_records(), 0);
}

} // namespace
} // namespace builder_test
