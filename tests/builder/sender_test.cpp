// ostrel_api_send_batch: addressing and options of every attempt, the
// retries with their heartbeats and sleeps, the failure status and text,
// and did_yarl_send.
#include "builder_support.h"

namespace builder_test {
namespace {

const uint8_t kData[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
constexpr uint32_t kLength = sizeof kData;

using Sender = BuilderTest;

uint32_t send_data(yarl_msg *msg) { return ostrel_api_send_batch(kHandle, msg, kData, kLength); }

void expect_attempt(const sim::Call &c, const yarl_msg *msg) {
    EXPECT_EQ(c.handle, kHandle);
    EXPECT_EQ(c.dst.node, 0xfe000000u);
    EXPECT_EQ(c.dst.service, 190u);
    EXPECT_EQ(c.opcode, 4810u);
    EXPECT_EQ(c.length, kLength);
    EXPECT_EQ(c.payload, Bytes(kData, kData + kLength));
    EXPECT_EQ(c.msg, msg);
    EXPECT_EQ(c.seventh, 0u);
    EXPECT_EQ(c.send_opts.word[0], 1u);
    for (int i = 1; i < 14; ++i)
        EXPECT_EQ(c.send_opts.word[i], 0u) << "send option word " << i;
}

TEST_F(Sender, FirstAttemptSucceedsWithoutHeartbeatOrSleep) {
    EXPECT_EQ(send_data(&msg), 0u);

    EXPECT_EQ(sim::trace(), "send");
    expect_attempt(sends().at(0), &msg);
    EXPECT_EQ(did_yarl_send, 1u);
}

struct RetryCase {
    const char *name;
    int failures;
    const char *trace;
    size_t sleeps;
    uint32_t status;
};

class SenderRetries : public BuilderTest, public ::testing::WithParamInterface<RetryCase> {};

TEST_P(SenderRetries, EachRetryFollowsAHeartbeatAndASleep) {
    const RetryCase &c = GetParam();
    sim::fail_next_sends(c.failures, 0x1234);

    EXPECT_EQ(send_data(&msg), c.status);

    EXPECT_EQ(sim::trace(), c.trace);
    EXPECT_EQ(sim::sleeps(), std::vector<uint32_t>(c.sleeps, 800000u));
    for (const sim::Call &h : sim::calls_of(sim::Op::Heartbeat))
        EXPECT_EQ(h.arg, 0u);
    for (const sim::Call &s : sends())
        expect_attempt(s, &msg);
}

const RetryCase kRetryCases[] = {
    {"OneFailure", 1, "send heartbeat sleep send", 1, 0},
    {"SucceedsAtTheThirdAttempt", 2, "send heartbeat sleep send heartbeat sleep send", 2, 0},
    {"SucceedsAtTheFourthAttempt", 3,
     "send heartbeat sleep send heartbeat sleep send heartbeat sleep send", 3, 0},
    {"FourFailuresGiveUp", 4,
     "send heartbeat sleep send heartbeat sleep send heartbeat sleep send perror errno_get", 3,
     0x81040234u},
    {"NeverMoreThanFourAttempts", 10,
     "send heartbeat sleep send heartbeat sleep send heartbeat sleep send perror errno_get", 3,
     0x81040234u},
};
INSTANTIATE_TEST_SUITE_P(Failures, SenderRetries, ::testing::ValuesIn(kRetryCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(Sender, GivingUpPrintsOneMessageAndKeepsDidYarlSend) {
    for (uint32_t previous : {0u, 1u}) {
        sim::reset();
        did_yarl_send = previous;
        sim::fail_next_sends(4, 0x1234);

        EXPECT_EQ(send_data(&msg), 0x81040234u);

        EXPECT_EQ(sim::perrors(), std::vector<std::string>{"Unable to send YARL message\n"});
        EXPECT_EQ(sim::calls_of(sim::Op::ErrnoGet).at(0).handle, kHandle);
        EXPECT_EQ(did_yarl_send, previous);
    }
}

TEST_F(Sender, SuccessAfterRetriesSetsDidYarlSendAndPrintsNothing) {
    sim::fail_next_sends(2, 0x1234);

    EXPECT_EQ(send_data(&msg), 0u);

    EXPECT_TRUE(sim::perrors().empty());
    EXPECT_EQ(did_yarl_send, 1u);
}

TEST_F(Sender, FailureStatusCarriesOnlyTheLow12BitsOfTheErrorNumber) {
    const std::pair<int, uint32_t> cases[] = {
        {0x1234, 0x81040234u}, {0xfff, 0x81040fffu}, {0x7000, 0x81040000u}, {0, 0x81040000u},
        {-1, 0x81040fffu}};
    for (const auto &[err, status] : cases) {
        sim::reset();
        sim::fail_next_sends(4, err);
        EXPECT_EQ(send_data(&msg), status) << "errno " << err;
    }
}

} // namespace
} // namespace builder_test
