// Batching: deferred and final calls, the batch head words, the flush
// boundary, failures around a flush, the size limit, null message records
// and allocation failures.
#include "builder_support.h"

namespace builder_test {
namespace {

const Ace A = ace(0xA1, 0x0A01);
const Ace B = ace(0xB2, 0x0B02);
constexpr uint16_t kVlan = 30;
constexpr int kErrno = 0x1234;
constexpr uint32_t kSendStatus = 0x81040234u;
const char *const kDrain = "rr_token_get drop heartbeat recv payload_get drop";

using Batching = BuilderTest;

TEST_F(Batching, DeferredRequestStaysInTheOpenBatchAndNothingIsSent) {
    Registry reg(kVlan);
    IntfNode *x = reg.add(5, {});
    did_yarl_send = 1;

    ASSERT_EQ(program(reg.vlan(), x, 1, /*defer=*/1), 0u);

    EXPECT_EQ(sim::count_of(sim::Op::Send), 0u);
    ASSERT_NE(batch_buf, nullptr);
    EXPECT_EQ(batch_len, 8u + 152u);
    EXPECT_EQ(open_batch_bytes(), batch(0, 1, {empty_request(1, kVlan, 5)}));
    EXPECT_TRUE(tail_is_zero());
    EXPECT_EQ(did_yarl_send, 0u);
}

TEST_F(Batching, FinalCallThatOpensTheBatchSendsItWithWordZeroOne) {
    Registry reg(kVlan);
    IntfNode *x = reg.add(5, {});

    ASSERT_EQ(program(reg.vlan(), x), 0u);

    EXPECT_EQ(sim::trace(), "if_type_get send");
    EXPECT_EQ(sent(0), batch(1, 1, {empty_request(1, kVlan, 5)}));
    EXPECT_EQ(batch_buf, nullptr);
    EXPECT_EQ(batch_len, 0u);
    EXPECT_EQ(did_yarl_send, 1u);
}

TEST_F(Batching, FinalCallAppendingToAnEarlierBatchSendsWordZeroZeroAndAllCopiesInOrder) {
    Registry reg(kVlan);
    IntfNode *x = reg.add(5, {A});
    IntfNode *y = reg.add(6, {B});

    ASSERT_EQ(program(reg.vlan(), x, 1, 1), 0u);
    ASSERT_EQ(program(reg.vlan(), y, 1, 1), 0u);
    ASSERT_EQ(program(reg.vlan(), x, 0, 0), 0u);

    const Bytes rx = request(1, kVlan, 5, {first_closing(B.qualifier), second_closing()});
    EXPECT_EQ(sim::count_of(sim::Op::Send), 1u);
    EXPECT_EQ(sent(0), batch(0, 3, {rx, with_if_index(rx, 6), request(2, kVlan, 5, {first_closing(B.qualifier), second_closing()})}));
    EXPECT_EQ(batch_buf, nullptr);
}

TEST_F(Batching, TheFinalSendsReplyIsLeftForTheCaller) {
    Registry reg(kVlan);
    IntfNode *x = reg.add(5, {A});

    ASSERT_EQ(program(reg.vlan(), x), 0u);

    EXPECT_EQ(sim::count_of(sim::Op::Recv), 0u);
    EXPECT_EQ(sim::pending_replies(), 1u);
    EXPECT_EQ(did_yarl_send, 1u);
    EXPECT_EQ(brisel_api_yarl_gobble(kHandle, &msg), 0u);
    EXPECT_EQ(did_yarl_send, 0u);
    EXPECT_EQ(sim::outstanding_records(), 0);
}

// ---- flush boundary ----

struct FlushCase {
    const char *name;
    uint32_t room; // free bytes of the open batch before the call
    bool flushes;
};

class FlushBoundary : public BuilderTest, public ::testing::WithParamInterface<FlushCase> {};

TEST_P(FlushBoundary, FlushHappensExactlyWhenSpaceNeededIsNotBelowRoom) {
    const FlushCase &c = GetParam();
    Registry reg(kVlan);
    IntfNode *x = reg.add(5, {}); // 152-byte request
    const uint32_t len = kBatchSize - c.room;
    open_batch(len, 9);
    const Bytes before = open_batch_bytes();

    ASSERT_EQ(program(reg.vlan(), x, 1, /*defer=*/1), 0u);

    if (c.flushes) {
        EXPECT_EQ(sim::trace(), std::string("if_type_get send ") + kDrain);
        EXPECT_EQ(sent(0), before); // word 0 still 0, count 9, length len
        EXPECT_EQ(sends().at(0).length, len);
        EXPECT_EQ(open_batch_bytes(), batch(0, 1, {empty_request(1, kVlan, 5)}));
    } else {
        EXPECT_EQ(sim::trace(), "if_type_get");
        EXPECT_EQ(batch_len, len + 152);
        EXPECT_LT(batch_len, kBatchSize);
        EXPECT_EQ(u32(open_batch_bytes(), 4), 10u);
        EXPECT_EQ(Bytes(batch_buf + len, batch_buf + len + 152), empty_request(1, kVlan, 5));
    }
    EXPECT_EQ(did_yarl_send, 0u);
}

const FlushCase kFlushCases[] = {
    {"RoomFiftySixFlushes", 56, true},
    {"RoomExactlyTheRequestSizeFlushes", 152, true},
    {"RoomOneByteMoreAppends", 153, false},
    {"RoomOneRequestPlusHeadAppends", 160, false},
};
INSTANTIATE_TEST_SUITE_P(Rooms, FlushBoundary, ::testing::ValuesIn(kFlushCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(Batching, FlushThenFinalSendPutsTheRequestInANewBatchWithWordZeroOne) {
    Registry reg(kVlan);
    IntfNode *x = reg.add(5, {});
    open_batch(kBatchSize - 56, 3);
    const Bytes before = open_batch_bytes();

    ASSERT_EQ(program(reg.vlan(), x), 0u);

    EXPECT_EQ(sim::trace(), std::string("if_type_get send ") + kDrain + " send");
    EXPECT_EQ(sent(0), before);
    EXPECT_EQ(u32(sent(0), 0), 0u);
    EXPECT_EQ(sent(1), batch(1, 1, {empty_request(1, kVlan, 5)}));
    EXPECT_EQ(batch_buf, nullptr);
    EXPECT_EQ(did_yarl_send, 1u);
    // The flushed batch's reply was drained; the final one is pending.
    EXPECT_EQ(sim::pending_replies(), 1u);
    EXPECT_EQ(sim::calls_of(sim::Op::Recv).at(0).recv_opts.word[3], sends().at(0).token);
}

TEST_F(Batching, FlushedBatchAlwaysCarriesWordZeroZero) {
    Registry reg(kVlan);
    IntfNode *x = reg.add(5, {});
    open_batch(kBatchSize - 56, 3);
    const uint32_t stale = 0xFFFFFFFFu;
    std::memcpy(batch_buf, &stale, sizeof stale);

    ASSERT_EQ(program(reg.vlan(), x, 1, 1), 0u);

    EXPECT_EQ(u32(sent(0), 0), 0u);
    EXPECT_EQ(u32(sent(0), 4), 3u);
}

TEST_F(Batching, DeferredCallThatFlushedStillLeavesDidYarlSendZero) {
    Registry reg(kVlan);
    IntfNode *x = reg.add(5, {});
    open_batch(kBatchSize - 100, 1);

    ASSERT_EQ(program(reg.vlan(), x, 1, 1), 0u);

    EXPECT_EQ(sim::count_of(sim::Op::Send), 1u);
    EXPECT_EQ(did_yarl_send, 0u);
}

TEST_F(Batching, FailedFlushSendReturnsItsStatusAndLosesTheFlushedBatch) {
    Registry reg(kVlan);
    IntfNode *x = reg.add(5, {});
    const long live = sim::live_allocations();
    open_batch(kBatchSize - 56, 3);
    sim::fail_next_sends(4, kErrno);

    EXPECT_EQ(program(reg.vlan(), x), kSendStatus);

    EXPECT_EQ(sim::count_of(sim::Op::Send), 4u);
    EXPECT_EQ(sim::count_of(sim::Op::Recv), 0u);
    EXPECT_EQ(sim::perrors(), std::vector<std::string>{"Unable to send YARL message\n"});
    EXPECT_EQ(batch_buf, nullptr);
    EXPECT_EQ(batch_len, 0u);
    EXPECT_EQ(sim::live_allocations(), live);
}

TEST_F(Batching, FailedDrainAfterAFlushIsIgnored) {
    Registry reg(kVlan);
    IntfNode *x = reg.add(5, {});
    open_batch(kBatchSize - 56, 3);
    sim::fail_next_recv(kErrno);

    EXPECT_EQ(program(reg.vlan(), x), 0u);

    EXPECT_EQ(sim::count_of(sim::Op::Send), 2u);
    EXPECT_EQ(sent(1), batch(1, 1, {empty_request(1, kVlan, 5)}));
}

TEST_F(Batching, ReplyWithoutPayloadAfterAFlushIsIgnored) {
    Registry reg(kVlan);
    IntfNode *x = reg.add(5, {});
    open_batch(kBatchSize - 56, 3);
    sim::next_reply_without_payload();

    EXPECT_EQ(program(reg.vlan(), x), 0u);

    EXPECT_EQ(sim::count_of(sim::Op::Send), 2u);
    EXPECT_EQ(sim::outstanding_records(), 1); // only the final send's
}

TEST_F(Batching, FailedFinalSendReleasesTheBatchAndKeepsDidYarlSend) {
    for (uint32_t previous : {0u, 1u}) {
        sim::reset();
        Registry reg(kVlan);
        IntfNode *x = reg.add(5, {A});
        const long live = sim::live_allocations();
        ASSERT_EQ(program(reg.vlan(), x, 1, 1), 0u);
        did_yarl_send = previous;
        sim::fail_next_sends(4, kErrno);

        EXPECT_EQ(program(reg.vlan(), x), kSendStatus);

        EXPECT_EQ(batch_buf, nullptr);
        EXPECT_EQ(batch_len, 0u);
        EXPECT_EQ(did_yarl_send, previous);
        EXPECT_EQ(sim::live_allocations(), live);
    }
}

// ---- requests that can never fit ----

// One interface with `count` ACEs claimed and a single node: its request
// has 24 + 64 * (count + 1) bytes.
uint32_t size_for_count(uint32_t count) { return 24 + 64 * (count + 1); }

TEST_F(Batching, LargestPlainRequestThatFitsGoesIntoANewBatch) {
    Registry reg(kVlan);
    IntfNode *x = reg.add(5, {A}, 2030);
    ASSERT_EQ(size_for_count(2030), 130008u);

    ASSERT_EQ(program(reg.vlan(), x), 0u);

    EXPECT_EQ(sends().at(0).length, 8u + 130008u);
    EXPECT_EQ(u32(sent(0), 4), 1u);
}

TEST_F(Batching, LargestPlainRequestFlushesAnOpenBatchFirst) {
    Registry reg(kVlan);
    IntfNode *small = reg.add(4, {});
    IntfNode *x = reg.add(5, {A}, 2030);
    ASSERT_EQ(program(reg.vlan(), small, 1, 1), 0u);

    ASSERT_EQ(program(reg.vlan(), x), 0u);

    ASSERT_EQ(sim::count_of(sim::Op::Send), 2u);
    EXPECT_EQ(sends().at(0).length, 8u + 152u);
    EXPECT_EQ(sends().at(1).length, 8u + 130008u);
    EXPECT_EQ(u32(sent(1), 0), 1u);
}

TEST_F(Batching, OversizeRequestIsRefusedAndTheOpenBatchIsUntouched) {
    Registry reg(kVlan);
    IntfNode *small = reg.add(4, {});
    IntfNode *x = reg.add(5, {A}, 2031);
    ASSERT_EQ(size_for_count(2031), 130072u);
    ASSERT_EQ(program(reg.vlan(), small, 1, 1), 0u);
    uint8_t *const buf = batch_buf;
    const Bytes before = open_batch_bytes();
    const long live = sim::live_allocations();

    for (uint32_t defer : {0u, 1u}) {
        EXPECT_EQ(program(reg.vlan(), x, 1, defer), OSTREL_STATUS_INVALID);
        EXPECT_EQ(sim::count_of(sim::Op::Send), 0u);
        EXPECT_EQ(batch_buf, buf);
        EXPECT_EQ(open_batch_bytes(), before);
        EXPECT_TRUE(tail_is_zero());
        EXPECT_EQ(sim::live_allocations(), live);
    }
}

TEST_F(Batching, OversizeRequestWithNoBatchOpenSendsNothingAndOpensNothing) {
    Registry reg(kVlan);
    IntfNode *x = reg.add(5, {A}, 2031);
    const long live = sim::live_allocations();

    EXPECT_EQ(program(reg.vlan(), x), OSTREL_STATUS_INVALID);

    EXPECT_EQ(sim::count_of(sim::Op::Send), 0u);
    EXPECT_EQ(batch_buf, nullptr);
    EXPECT_EQ(batch_len, 0u);
    EXPECT_EQ(sim::live_allocations(), live);
}

// ---- failures before anything is batched ----

TEST_F(Batching, NullMessageRecordIsRefusedBeforeAnyPlatformCall) {
    Registry reg(kVlan);
    IntfNode *x = reg.add(5, {A});
    open_batch(100, 1);
    const Bytes before = open_batch_bytes();
    pc_override_if_index = 77;
    did_yarl_send = 1;
    const long live = sim::live_allocations();

    EXPECT_EQ(ostrel_api_program_intf(kHandle, nullptr, reg.vlan(), x, 1, 1), OSTREL_STATUS_INVALID);

    EXPECT_EQ(sim::trace(), "");
    EXPECT_EQ(open_batch_bytes(), before);
    EXPECT_EQ(pc_override_if_index, 77u);
    EXPECT_EQ(did_yarl_send, 1u);
    EXPECT_EQ(sim::live_allocations(), live);
}

TEST_F(Batching, NullNodesAreRefused) {
    Registry reg(kVlan);
    IntfNode *x = reg.add(5, {A});

    EXPECT_EQ(program(nullptr, x), OSTREL_STATUS_INVALID);
    EXPECT_EQ(program(reg.vlan(), nullptr), OSTREL_STATUS_INVALID);
    EXPECT_EQ(sim::trace(), "");
}

TEST_F(Batching, RequestAllocationFailureChangesNothing) {
    Registry reg(kVlan);
    IntfNode *x = reg.add(5, {A});
    open_batch(100, 1);
    uint8_t *const buf = batch_buf;
    const Bytes before = open_batch_bytes();
    pc_override_if_index = 77;
    did_yarl_send = 1;
    const long live = sim::live_allocations();
    sim::fail_allocation(1);

    EXPECT_EQ(program(reg.vlan(), x, 1, 0), OSTREL_STATUS_INVALID);

    EXPECT_EQ(sim::trace(), "");
    EXPECT_EQ(batch_buf, buf);
    EXPECT_EQ(open_batch_bytes(), before);
    EXPECT_EQ(pc_override_if_index, 77u);
    EXPECT_EQ(did_yarl_send, 1u);
    EXPECT_EQ(sim::live_allocations(), live);
}

TEST_F(Batching, BatchAllocationFailureReleasesTheRequestAndOpensNoBatch) {
    Registry reg(kVlan);
    IntfNode *x = reg.add(5, {A});
    const long live = sim::live_allocations();
    sim::fail_allocation(2); // 1: the request, 2: the batch

    EXPECT_EQ(program(reg.vlan(), x), OSTREL_STATUS_INVALID);

    EXPECT_EQ(sim::count_of(sim::Op::Send), 0u);
    EXPECT_EQ(batch_buf, nullptr);
    EXPECT_EQ(batch_len, 0u);
    EXPECT_EQ(sim::live_allocations(), live);
}

TEST_F(Batching, BatchAllocationFailureAfterAFlushKeepsTheFlushedBatchSent) {
    Registry reg(kVlan);
    IntfNode *x = reg.add(5, {A});
    const long live = sim::live_allocations();
    open_batch(kBatchSize - 56, 3);
    sim::fail_allocation(2);

    EXPECT_EQ(program(reg.vlan(), x), OSTREL_STATUS_INVALID);

    EXPECT_EQ(sim::trace(), std::string("if_type_get send ") + kDrain);
    EXPECT_EQ(batch_buf, nullptr);
    EXPECT_EQ(sim::live_allocations(), live);
}

} // namespace
} // namespace builder_test
