// The policy update send's encoding call (Part 2.3), with the TLV utility
// library replaced by recording fakes.
#include "contract_support.h"
#include "yarl.h"

namespace {

using namespace contract;

// ---- policy update send: its encoding call ----

TEST_F(Contract, SendEncodesWithANullBufferZeroLengthAndZeroedWord) {
    ostrel_api_plcy_update_req_t req;
    std::memset(&req, 0, sizeof req);
    yarl_msg msg{};
    lib().encoding = {9, 8, 7, 6, 5};
    const long live = sim::live_allocations();
    EXPECT_EQ(ostrel_api_send_plcy_update(3, 0, &req, &msg), 0u);
    ASSERT_EQ(lib().table_calls.size(), 1u);
    const fake::TableCall &c = lib().table_calls[0];
    EXPECT_EQ(c.op, "convert_struct_to_tlv");
    EXPECT_EQ(c.args[2], w(&ostrel_api_plcy_update_req_tbl));
    EXPECT_EQ(c.args[3], w(&req));
    EXPECT_EQ(c.args[4], 0u);
    EXPECT_NE(c.args[5], 0u);
    EXPECT_EQ(c.args[6], 0u);
    EXPECT_EQ(lib().tlv_buf_in, nullptr);
    EXPECT_EQ(lib().tlv_len_in, 0u);
    EXPECT_EQ(lib().err_type_in, 0u);
    ASSERT_EQ(sim::count_of(sim::Op::Send), 1u);
    EXPECT_EQ(sim::calls_of(sim::Op::Send)[0].payload, lib().encoding);
    EXPECT_EQ(sim::calls_of(sim::Op::Send)[0].length, 5u);
    EXPECT_EQ(sim::live_allocations(), live) << "the encoding is freed";
}

TEST_F(Contract, AFailedEncodingIsReturnedAsItCameAndNothingIsSent) {
    ostrel_api_plcy_update_req_t req;
    std::memset(&req, 0, sizeof req);
    yarl_msg msg{};
    lib().table_result = 0x41050004;
    EXPECT_EQ(ostrel_api_send_plcy_update(3, 0, &req, &msg), 0x41050004u);
    ASSERT_EQ(lib().error_texts.size(), 1u);
    EXPECT_EQ(lib().error_texts[0],
              "ostrel_api_plcy_update_req_to_tlv: ERR 0x41050004\n");
    EXPECT_TRUE(sim::calls().empty());
    EXPECT_EQ(sim::live_allocations(), 0);
}

TEST_F(Contract, SendLeavesDidYarlSendAlone) {
    ostrel_api_plcy_update_req_t req;
    std::memset(&req, 0, sizeof req);
    yarl_msg msg{};
    did_yarl_send = 7;
    EXPECT_EQ(ostrel_api_send_plcy_update(3, 0, &req, &msg), 0u);
    EXPECT_EQ(did_yarl_send, 7u);
    sim::fail_next_sends(1, 5);
    EXPECT_EQ(ostrel_api_send_plcy_update(3, 0, &req, &msg), 0x81040005u);
    EXPECT_EQ(did_yarl_send, 7u);
    did_yarl_send = 0;
    EXPECT_EQ(ostrel_api_send_plcy_update(3, 0, &req, &msg), 0u);
    EXPECT_EQ(did_yarl_send, 0u);
}

TEST_F(Contract, SendRefusesNullArgumentsBeforeEncoding) {
    ostrel_api_plcy_update_req_t req;
    std::memset(&req, 0, sizeof req);
    yarl_msg msg{};
    EXPECT_EQ(ostrel_api_send_plcy_update(3, 0, nullptr, &msg), 0x41040003u);
    EXPECT_EQ(ostrel_api_send_plcy_update(3, 0, &req, nullptr), 0x41040003u);
    EXPECT_EQ(ostrel_api_send_plcy_update(3, 0, nullptr, nullptr), 0x41040003u);
    EXPECT_TRUE(lib().table_calls.empty());
    EXPECT_TRUE(sim::calls().empty());
}

// ---- policy update send: the transport ----

class SendPlcyUpdate : public Contract {
  protected:
    void SetUp() override {
        Contract::SetUp();
        lib().encoding = {0xde, 0xad, 0xbe, 0xef, 0x01, 0x02, 0x03};
    }
    uint32_t send(uint32_t handle = 9, uint32_t unused = 0) {
        return ostrel_api_send_plcy_update(handle, unused, req_, &msg_);
    }
    // A request with no ACE records (a flexible-array struct cannot be a
    // member here).
    alignas(ostrel_api_ace_t) uint8_t storage_[24] = {};
    ostrel_api_plcy_update_req_t *req_ =
        reinterpret_cast<ostrel_api_plcy_update_req_t *>(storage_);
    yarl_msg msg_{};
};

TEST_F(SendPlcyUpdate, OneSendToTheAclServiceCarriesTheEncoding) {
    EXPECT_EQ(send(9), 0u);
    EXPECT_EQ(sim::trace(), "send");
    const sim::Call c = sim::calls_of(sim::Op::Send).at(0);
    EXPECT_EQ(c.handle, 9u);
    EXPECT_EQ(c.dst.node, 0xfe000000u);
    EXPECT_EQ(c.dst.service, 190u);
    EXPECT_EQ(c.opcode, 4810u);
    EXPECT_EQ(c.payload, lib().encoding);
    EXPECT_EQ(c.length, lib().encoding.size());
    EXPECT_EQ(c.msg, &msg_);
    EXPECT_EQ(c.seventh, 0u);
    EXPECT_EQ(c.send_opts.word[0], 1u);
    for (int i = 1; i < 14; ++i) {
        EXPECT_EQ(c.send_opts.word[i], 0u) << "option word " << i;
    }
    EXPECT_TRUE(sim::perrors().empty());
}

TEST_F(SendPlcyUpdate, AFailedSendCarriesTheLow12BitsOfTheErrorNumber) {
    const struct {
        int err;
        uint32_t status;
    } cases[] = {{0x1234, 0x81040234u},
                 {0xfff, 0x81040fffu},
                 {0x1000, 0x81040000u},
                 {1, 0x81040001u},
                 {-1, 0x81040fffu}};
    for (const auto &c : cases) {
        sim::reset();
        sim::fail_next_sends(1, c.err);
        EXPECT_EQ(send(), c.status) << "errno " << c.err;
        EXPECT_EQ(sim::live_allocations(), 0) << "the encoding is freed";
    }
}

TEST_F(SendPlcyUpdate, AFailedSendIsReportedThroughPerrorAndNotRetried) {
    sim::fail_next_sends(3, 0x1234);
    EXPECT_EQ(send(4), 0x81040234u);
    EXPECT_EQ(sim::trace(), "send perror errno_get");
    EXPECT_EQ(sim::perrors(),
              (std::vector<std::string>{"Unable to send YARL message\n"}));
    EXPECT_EQ(sim::calls_of(sim::Op::ErrnoGet).at(0).handle, 4u);
    EXPECT_EQ(sim::heartbeat_count(), 0u);
    EXPECT_TRUE(sim::sleeps().empty());
}

TEST_F(SendPlcyUpdate, TheSecondArgumentChangesNothing) {
    EXPECT_EQ(send(9, 0), 0u);
    const sim::Call a = sim::calls_of(sim::Op::Send).at(0);
    const std::vector<uintptr_t> encode_a = lib().table_calls.at(0).args;
    sim::reset();
    lib().table_calls.clear();
    EXPECT_EQ(send(9, 0xffffffffu), 0u);
    const sim::Call b = sim::calls_of(sim::Op::Send).at(0);
    EXPECT_EQ(sim::trace(), "send");
    EXPECT_EQ(b.payload, a.payload);
    EXPECT_EQ(b.handle, a.handle);
    EXPECT_EQ(b.msg, a.msg);
    EXPECT_EQ(std::memcmp(&b.send_opts, &a.send_opts, sizeof a.send_opts), 0);
    EXPECT_EQ(lib().table_calls.at(0).args[4], encode_a[4]);
    EXPECT_EQ(lib().table_calls.at(0).args[6], encode_a[6]);
}

TEST_F(SendPlcyUpdate, NoReplyIsAwaitedOrDrained) {
    EXPECT_EQ(send(), 0u);
    EXPECT_EQ(sim::pending_replies(), 1u);
    EXPECT_EQ(sim::count_of(sim::Op::Recv), 0u);
    EXPECT_EQ(sim::count_of(sim::Op::Drop), 0u);
}

// ---- policy update parse ----

TEST_F(Contract, ParseHandsBackThePayloadAndItsFirstWord) {
    const uint32_t word = 0x12345678;
    Bytes payload = host(word);
    payload.push_back(0xee);
    yarl_msg msg = sim::make_received_message(payload);
    void *out = nullptr;
    EXPECT_EQ(ostrel_api_parse_plcy_update(&msg, &out), word);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out, yarl_payload_get(&msg)) << "the payload is not copied";
    EXPECT_EQ(bytes_of(out, payload.size()), payload);
}

TEST_F(Contract, APayloadBeginningWithZeroParsesToZero) {
    yarl_msg msg = sim::make_received_message({0, 0, 0, 0, 9, 9});
    void *out = nullptr;
    EXPECT_EQ(ostrel_api_parse_plcy_update(&msg, &out), 0u);
    EXPECT_NE(out, nullptr);
}

TEST_F(Contract, AMessageWithoutPayloadIsRefusedWithANullPayload) {
    yarl_msg msg = sim::make_received_message({});
    int sentinel = 0;
    void *out = &sentinel;
    EXPECT_EQ(ostrel_api_parse_plcy_update(&msg, &out), 0x41040003u);
    EXPECT_EQ(out, nullptr);
}

TEST_F(Contract, ParseRefusesNullArgumentsAndWritesNothing) {
    yarl_msg msg = sim::make_received_message({1, 2, 3, 4});
    int sentinel = 0;
    void *out = &sentinel;
    EXPECT_EQ(ostrel_api_parse_plcy_update(nullptr, &out), 0x41040003u);
    EXPECT_EQ(out, &sentinel);
    EXPECT_EQ(ostrel_api_parse_plcy_update(&msg, nullptr), 0x41040003u);
    EXPECT_EQ(sim::count_of(sim::Op::PayloadGet), 0u);
}

} // namespace
