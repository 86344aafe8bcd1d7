// Sending a batch with retries, and draining the reply to a send.
#include <tuple>

#include "builder_support.h"

namespace builder_test {

using Sender = BuilderTest;
const uint8_t kData[] = {1, 2, 3, 4, 5};
const std::string kDrain = "send rr_token_get drop heartbeat recv";

TEST_F(Sender, EveryAttemptIsTheSameSendAndRetriesFollowAHeartbeatAndSleep) {
    yarl_send_opts opts{};
    opts.word[0] = 1;
    struct Case {
        int failures, err;
        uint32_t status; // only the low 12 bits of the error number
    };
    // clang-format off
    const Case cases[] = {{0, 0, 0}, {1, 5, 0}, {3, 5, 0},
        {4, 0x1234, 0x81040234u}, {10, 0xfff, 0x81040fffu},
        {4, 0x7000, 0x81040000u}, {4, -1, 0x81040fffu}};
    // clang-format on
    for (const Case &c : cases) {
        SCOPED_TRACE(&c - cases);
        reset();
        ostrel::sim::fail_next_sends(c.failures, c.err);
        did_yarl_send = 7; // set by a success, kept by a failure
        EXPECT_EQ(ostrel_api_send_batch(kHandle, &msg, kData, sizeof kData),
                  c.status);
        const int retries = std::min(c.failures, 3);
        std::string trace = "send";
        for (int i = 0; i < retries; ++i)
            trace += " heartbeat sleep send";
        EXPECT_EQ(ostrel::sim::trace(),
                  c.status ? trace + " perror errno_get" : trace);
        EXPECT_EQ(ostrel::sim::sleeps(),
                  std::vector<uint32_t>(retries, 800000));
        EXPECT_EQ(ostrel::sim::perrors(),
                  std::vector<std::string>(c.status != 0,
                                           "Unable to send YARL message\n"));
        EXPECT_EQ(did_yarl_send, c.status ? 7u : 1u);
        for (const ostrel::sim::Call &h :
             ostrel::sim::calls_of(ostrel::sim::Op::Heartbeat))
            EXPECT_EQ(h.arg, 0u);
        for (const ostrel::sim::Call &s :
             ostrel::sim::calls_of(ostrel::sim::Op::Send)) {
            EXPECT_EQ(std::tuple(s.handle, s.dst.node, s.dst.service, s.opcode,
                                 s.msg, s.seventh, s.payload),
                      std::tuple(kHandle, 0xfe000000u, 190u, 4810u, &msg, 0u,
                                 Bytes(kData, kData + sizeof kData)));
            EXPECT_EQ(std::memcmp(&s.send_opts, &opts, sizeof opts), 0);
        }
    }
}

TEST_F(Sender, ADrainDropsTheMessageThenReceivesAndDropsItsReply) {
    const std::pair<void (*)(), uint32_t> cases[] = {
        {[] { ostrel::sim::fail_next_recv(0x1234); },
         0x1234u}, // the number itself
        {[] { ostrel::sim::next_reply_without_payload(); },
         OSTREL_STATUS_NO_ENTRY},
        {[] { ostrel::sim::set_reply_word(~0u); }, 0}}; // content not examined
    for (const auto &[script, status] : cases) {
        reset();
        ASSERT_EQ(ostrel_api_send_batch(kHandle, &msg, kData, 5), 0u);
        script();
        EXPECT_EQ(brisel_api_yarl_gobble(kHandle, &msg), status);
        EXPECT_EQ(ostrel::sim::trace(),
                  kDrain +
                      (status == 0x1234u ? " errno_get" : " payload_get drop"));
        EXPECT_EQ(did_yarl_send, 0u);
        EXPECT_EQ(ostrel::sim::outstanding_records(), 0);
    }
    EXPECT_EQ(ostrel::sim::pending_replies(), 0u);
    const std::vector<ostrel::sim::Call> &c = ostrel::sim::calls();
    const yarl_recv_opts opts{{1, 0, 20, send(0).token}};
    EXPECT_EQ(std::memcmp(&c[4].recv_opts, &opts, sizeof opts), 0);
    EXPECT_NE(c[4].msg, &msg);
    EXPECT_EQ(std::tuple(c[1].msg, c[2].msg, c[5].msg, c[6].msg, c[6].handle),
              std::tuple(&msg, &msg, c[4].msg, c[4].msg, kHandle));
}

} // namespace builder_test
