// Policy updates: the request goes out as its TLV encoding in one attempt,
// and a received message hands back its payload.
#include <gtest/gtest.h>

#include <cstring>
#include <tuple>

#include "heap_checked.h"
#include "samples.h"
#include "sim_platform.hpp"
#include "yarl.h"

namespace ostrel_test {
namespace {

using PlcyUpdate = HeapChecked;

TEST_F(PlcyUpdate, TheRequestGoesOutAsItsGoldenEncodingInOneSend) {
    Request r = sample_request();
    ASSERT_EQ(ostrel_api_send_plcy_update(5, 0xffffffff, r.req(), &msg), 0u);
    ASSERT_EQ(ostrel::sim::trace(), "send");
    const ostrel::sim::Call c = ostrel::sim::calls()[0];
    EXPECT_EQ(hex(c.payload), hex(unhex(GOLDEN_REQ)));
    yarl_send_opts opts{{1}};
    EXPECT_EQ(std::tuple(c.handle, c.dst.node, c.dst.service, c.opcode, c.msg,
                         c.seventh, c.length),
              std::tuple(5u, 0xfe000000u, 190u, 4810u, &msg, 0u,
                         uint32_t(c.payload.size())));
    EXPECT_EQ(std::memcmp(&c.send_opts, &opts, sizeof opts), 0);
    EXPECT_EQ(did_yarl_send, 0u) << "only batch sends set it";
}

TEST_F(PlcyUpdate, FailuresAreReturnedAndNothingIsRetriedOrKept) {
    Request r = sample_request();
    ostrel::sim::fail_next_sends(2, 0x1234);
    EXPECT_EQ(ostrel_api_send_plcy_update(5, 0, r.req(), &msg), 0x81040234u);
    EXPECT_EQ(ostrel::sim::trace(), "send perror errno_get");
    EXPECT_EQ(ostrel::sim::perrors(),
              std::vector<std::string>{"Unable to send YARL message\n"});
    ostrel::sim::reset();
    EXPECT_EQ(ostrel_api_send_plcy_update(5, 0, nullptr, &msg),
              OSTREL_STATUS_INVALID);
    EXPECT_EQ(ostrel_api_send_plcy_update(5, 0, r.req(), nullptr),
              OSTREL_STATUS_INVALID);
    EXPECT_EQ(ostrel::sim::allocations_made(), 0);
    ostrel::sim::fail_allocation(1); // the encoding's own block
    testing::internal::CaptureStderr();
    EXPECT_EQ(ostrel_api_send_plcy_update(5, 0, r.req(), &msg),
              0x41050004u); // the encoder's status
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(ostrel::sim::trace(), "");
}

TEST_F(PlcyUpdate, ParseHandsBackThePayloadAndItsFirstWord) {
    yarl_msg m =
        ostrel::sim::make_received_message({0x78, 0x56, 0x34, 0x12, 9});
    void *payload = &m;
    EXPECT_EQ(ostrel_api_parse_plcy_update(&m, &payload), 0x12345678u);
    EXPECT_EQ(payload, yarl_payload_get(&m));
    yarl_msg empty = ostrel::sim::make_received_message({});
    EXPECT_EQ(ostrel_api_parse_plcy_update(&empty, &payload),
              OSTREL_STATUS_INVALID);
    EXPECT_EQ(payload, nullptr);
    payload = &m;
    EXPECT_EQ(ostrel_api_parse_plcy_update(nullptr, &payload),
              OSTREL_STATUS_INVALID);
    EXPECT_EQ(ostrel_api_parse_plcy_update(&m, nullptr), OSTREL_STATUS_INVALID);
    EXPECT_EQ(payload, &m);
}

} // namespace
} // namespace ostrel_test
