// Deferring, flushing, send and drain failures, size limits, refusals.
#include "builder_support.h"

namespace builder_test {

using Batching = BuilderTest;
constexpr uint32_t kSendFailed = 0x81040234u;
const std::string kDrain = " rr_token_get drop heartbeat recv payload_get drop";

TEST_F(Batching, DeferredCallsFillOneBatchThatTheFinalCallSends) {
    IntfNode *x = reg.add(5, {ace(1, 0x101)}), *y = reg.add(6, {ace(2, 0x202)});
    const std::vector<Bytes> records = {close1(0x202), close2()}; // y's last
    did_yarl_send = 1;
    ASSERT_EQ(program(x, 1, 1), 0u);
    EXPECT_EQ(did_yarl_send, 0u);
    EXPECT_EQ(open_batch_bytes(), batch(0, {request(1, kVlan, 5, records)}));
    ASSERT_EQ(program(y, 1, 1), 0u);
    ASSERT_EQ(program(x, 0, 0), 0u);
    EXPECT_EQ(sent(0), batch(0, {request(1, kVlan, 5, records),
                                 request(1, kVlan, 6, records),
                                 request(2, kVlan, 5, records)}));
    EXPECT_EQ(batch_buf, nullptr);
    EXPECT_EQ(did_yarl_send, 1u);
    EXPECT_EQ(ostrel::sim::pending_replies(), 1u); // left for the caller
}

TEST_F(Batching, AnOpenBatchIsFlushedWhenItsRoomIsNotAboveTheSpaceNeeded) {
    IntfNode *x = reg.add(5, {}); // 152 bytes
    for (auto [room, flushes] :
         {std::pair{56u, true}, {152u, true}, {160u, false}, {168u, false}}) {
        SCOPED_TRACE(room);
        reset();
        open_batch(kBatchSize - room, 9);
        const Bytes flushed = open_batch_bytes();
        std::memset(batch_buf, 0xff, 4); // a flush sends word 0 as 0
        ASSERT_EQ(program(x, 1, 1), 0u);
        EXPECT_EQ(ostrel::sim::trace(),
                  flushes ? "if_type_get send" + kDrain : "if_type_get");
        EXPECT_EQ(flushes ? sent(0) : flushed, flushed);
        EXPECT_EQ(batch_len, flushes ? 8 + 152 : kBatchSize - room + 152);
    }
}

TEST_F(Batching, SendFailuresReleaseTheBatchAndFailedDrainsAreIgnored) {
    IntfNode *x = reg.add(5, {});
    struct Case {
        uint32_t room; // 56: the request flushes the open batch first
        void (*script)();
        uint32_t status;
        size_t sends, recvs;
    };
    const Case cases[] = {
        {56, [] { ostrel::sim::fail_next_sends(4, 0x1234); }, kSendFailed, 4,
         0},
        {504, [] { ostrel::sim::fail_next_sends(4, 0x1234); }, kSendFailed, 4,
         0},
        {56, [] { ostrel::sim::fail_next_recv(0x1234); }, 0, 2, 1},
        {56, [] { ostrel::sim::next_reply_without_payload(); }, 0, 2, 1}};
    for (const Case &c : cases) {
        SCOPED_TRACE(&c - cases);
        reset();
        open_batch(kBatchSize - c.room, 3);
        did_yarl_send = 1;
        c.script();
        EXPECT_EQ(program(x), c.status);
        EXPECT_EQ(ostrel::sim::count_of(ostrel::sim::Op::Send), c.sends);
        EXPECT_EQ(ostrel::sim::count_of(ostrel::sim::Op::Recv), c.recvs);
        EXPECT_EQ(batch_buf, nullptr);
        EXPECT_EQ(did_yarl_send, 1u); // kept by a failure, set by a success
        EXPECT_EQ(ostrel::sim::live_allocations(),
                  0); // the hand-opened one too
    }
    EXPECT_EQ(sent(1), batch(1, {empty_request(5)})); // after the flush
}

TEST_F(Batching, TheLargestRequestFitsAndRefusalsLeaveTheBatchIntact) {
    IntfNode *small = reg.add(4, {}), *x = reg.add(5, {ace(1, 1)}, 2030);
    ASSERT_EQ(program(small, 1, 1), 0u);
    ASSERT_EQ(program(x), 0u); // 24 + 64 * 2031 = 130008 bytes, after a flush
    EXPECT_EQ(send(1).length, 8u + 130008);
    ASSERT_EQ(program(small, 1, 1), 0u);
    const Bytes before = open_batch_bytes(), block = whole_block_bytes();
    ostrel::sim::fail_allocation(1); // x's own block, before any flush
    EXPECT_EQ(program(x), OSTREL_STATUS_INVALID);
    x->count = 2031; // 130072 bytes: more than any batch holds
    EXPECT_EQ(program(x), OSTREL_STATUS_INVALID);
    pc_override_if_index = 77;
    EXPECT_EQ(ostrel_api_program_intf(kHandle, nullptr, &reg.vlan, x, 1, 1),
              OSTREL_STATUS_INVALID);
    EXPECT_EQ(ostrel::sim::count_of(ostrel::sim::Op::Send), 2u);
    EXPECT_EQ(open_batch_bytes(), before);
    EXPECT_EQ(whole_block_bytes(), block);
    EXPECT_EQ(pc_override_if_index, 77u);
    clear_globals();
    EXPECT_EQ(program(x), OSTREL_STATUS_INVALID); // none open: none opened
    EXPECT_EQ(batch_buf, nullptr);
    EXPECT_EQ(ostrel::sim::live_allocations(), 0);
}

} // namespace builder_test
