// The policy update send (Part 2.3) with the real encoder: the bytes on the
// transport are the request's TLV encoding, and the encoding is released
// whatever the send did.
#include <cstdlib>
#include <cstring>

#include <gtest/gtest.h>

#include "request_builder.h"
#include "sim_platform.h"
#include "tlv_bytes.h"

namespace {

using namespace codec_test;

class PlcyUpdate : public ::testing::Test {
  protected:
    void SetUp() override { sim::reset(); }

    // The encoding that ostrel_api_plcy_update_req_to_tlv makes of r.
    static Bytes encoding_of(const Request &r) {
        uint8_t *buf = nullptr;
        uint32_t len = 0, err = 0;
        EXPECT_EQ(
            ostrel_api_plcy_update_req_to_tlv(r.req(), &buf, &len, 0, &err, 0),
            0u);
        Bytes out = bytes_of(buf, len);
        std::free(buf);
        return out;
    }
};

TEST_F(PlcyUpdate, TheRequestGoesOutTlvEncoded) {
    for (uint32_t n : {0u, 1u, 8u}) {
        sim::reset();
        Request r(n);
        const Bytes want = encoding_of(r);
        yarl_msg msg{};
        EXPECT_EQ(ostrel_api_send_plcy_update(5, 0, r.req(), &msg), 0u);
        ASSERT_EQ(sim::count_of(sim::Op::Send), 1u);
        const sim::Call c = sim::calls_of(sim::Op::Send)[0];
        EXPECT_EQ(hex(c.payload), hex(want)) << n << " ACEs";
        EXPECT_EQ(c.length, want.size());
        EXPECT_EQ(c.dst.node, 0xfe000000u);
        EXPECT_EQ(c.dst.service, 190u);
        EXPECT_EQ(c.opcode, 4810u);
        EXPECT_EQ(sim::live_allocations(), 0) << "the encoding is released";
    }
}

TEST_F(PlcyUpdate, AFailedSendReturnsTheErrorNumberAndReleasesTheEncoding) {
    Request r(3);
    yarl_msg msg{};
    sim::fail_next_sends(1, 0x1234);
    EXPECT_EQ(ostrel_api_send_plcy_update(5, 0, r.req(), &msg), 0x81040234u);
    EXPECT_EQ(sim::live_allocations(), 0);
    EXPECT_EQ(sim::count_of(sim::Op::Send), 1u);
    EXPECT_EQ(sim::perrors(),
              (std::vector<std::string>{"Unable to send YARL message\n"}));
}

TEST_F(PlcyUpdate, AnEncodingThatCannotBeAllocatedIsNotSent) {
    Request r(2);
    yarl_msg msg{};
    // Each allocation of the encoding in turn (the ACE parts' buffers, the
    // encoding itself) fails once; nothing is sent and nothing leaks.
    for (long nth = 1;; ++nth) {
        sim::reset();
        sim::fail_allocation(nth);
        testing::internal::CaptureStderr();
        const uint32_t status =
            ostrel_api_send_plcy_update(5, 0, r.req(), &msg);
        const std::string printed = testing::internal::GetCapturedStderr();
        EXPECT_EQ(sim::live_allocations(), 0) << "allocation " << nth;
        if (status == 0) {
            EXPECT_EQ(sim::count_of(sim::Op::Send), 1u);
            EXPECT_EQ(printed, "");
            EXPECT_GT(nth, 1);
            break;
        }
        EXPECT_EQ(sim::count_of(sim::Op::Send), 0u) << "allocation " << nth;
        char want[96];
        std::snprintf(want, sizeof want,
                      "ostrel_api_plcy_update_req_to_tlv: ERR 0x%x\n", status);
        EXPECT_EQ(printed, want);
        ASSERT_LT(nth, 50);
    }
}

} // namespace
