// Failure paths on purpose: every allocation of a scenario fails in turn,
// once and for good; each run ends in a defined status, leaks nothing and
// leaves the batch globals consistent. Also the did_yarl_send transitions
// across a whole add-like sequence.
#include "builder_support.h"

namespace builder_test {
namespace {

const Ace A = ace(0xA1, 0x0A01);
const Ace B = ace(0xB2, 0x0B02);
constexpr uint32_t kPc = 0x5000;

using FaultInjection = BuilderTest;

// Deferred requests for two interfaces (one a port channel with two
// members), a nearly full batch that forces a flush, then a final request.
uint32_t scenario(yarl_msg *msg, VlanNode *vlan, IntfNode *x, IntfNode *pc) {
    uint32_t status = ostrel_api_program_intf(kHandle, msg, vlan, pc, 1, 1);
    if (status != 0)
        return status;
    // Fill the open batch up to 100 bytes of room so that the next one flushes.
    if (batch_buf != nullptr)
        batch_len = kBatchSize - 100;
    return ostrel_api_program_intf(kHandle, msg, vlan, x, 1, 0);
}

void expect_consistent_globals() {
    if (batch_buf == nullptr) {
        EXPECT_EQ(batch_len, 0u);
    } else {
        EXPECT_GE(batch_len, 8u);
        EXPECT_LE(batch_len, kBatchSize);
    }
}

TEST_F(FaultInjection, EveryAllocationFailingOnceEndsCleanly) {
    bool completed = false;
    for (long nth = 1; !completed && nth < 20; ++nth) {
        sim::reset();
        clear_globals();
        sim::set_if_type(kPc, kPortChannelType);
        sim::set_pc_members(kPc, {21, 22});
        Registry reg(9);
        IntfNode *x = reg.add(1, {A, B});
        IntfNode *pc = reg.add(kPc, {B});
        const long live = sim::live_allocations();
        const long made = sim::allocations_made();
        sim::fail_allocation(nth);

        const uint32_t status = scenario(&msg, reg.vlan(), x, pc);

        SCOPED_TRACE("allocation " + std::to_string(nth) + " fails");
        if (status == 0) {
            completed = true;
            EXPECT_EQ(sim::allocations_made() - made, nth - 1) << "no allocation failed";
        } else {
            EXPECT_EQ(status, OSTREL_STATUS_INVALID);
        }
        expect_consistent_globals();
        clear_globals();
        EXPECT_EQ(sim::live_allocations(), live);
    }
    EXPECT_TRUE(completed);
}

TEST_F(FaultInjection, EveryAllocationFailingForGoodEndsCleanly) {
    for (long nth = 1; nth <= 4; ++nth) {
        sim::reset();
        clear_globals();
        sim::set_if_type(kPc, kPortChannelType);
        sim::set_pc_members(kPc, {21, 22});
        Registry reg(9);
        IntfNode *x = reg.add(1, {A, B});
        IntfNode *pc = reg.add(kPc, {B});
        const long live = sim::live_allocations();
        sim::fail_allocations_from(nth);

        const uint32_t status = scenario(&msg, reg.vlan(), x, pc);

        SCOPED_TRACE("allocations from " + std::to_string(nth) + " fail");
        EXPECT_EQ(status, OSTREL_STATUS_INVALID);
        expect_consistent_globals();
        // Sends that were made carried consistent batches.
        for (const sim::Call &s : sends())
            EXPECT_EQ(s.length, s.payload.size());
        clear_globals();
        EXPECT_EQ(sim::live_allocations(), live);
    }
}

TEST_F(FaultInjection, DidYarlSendFollowsSendDeferAndDrain) {
    Registry reg(9);
    IntfNode *x = reg.add(1, {A});
    IntfNode *y = reg.add(2, {B});

    EXPECT_EQ(did_yarl_send, 0u);
    ASSERT_EQ(program(reg.vlan(), x), 0u);
    EXPECT_EQ(did_yarl_send, 1u); // final send succeeded
    ASSERT_EQ(program(reg.vlan(), y, 1, 1), 0u);
    EXPECT_EQ(did_yarl_send, 0u); // deferred call clears it (reply not drained)
    ASSERT_EQ(program(reg.vlan(), x), 0u);
    EXPECT_EQ(did_yarl_send, 1u);
    ASSERT_EQ(brisel_api_yarl_gobble(kHandle, &msg), 0u);
    EXPECT_EQ(did_yarl_send, 0u);
}

} // namespace
} // namespace builder_test
