// The C++ header: status names, owned encodings, span entry points.
#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "heap_checked.h"
#include "ostrelapi.hpp"
#include "sim_platform.hpp"

namespace {

TEST(StatusNames, NamesTheLibrarysAndTheTlvLibrarysWords) {
    EXPECT_STREQ(ostrel::to_string(ostrel::status::ok), "ok");
    EXPECT_STREQ(ostrel::to_string(ostrel::status::no_entry), "no entry");
    EXPECT_STREQ(ostrel::to_string(0x41040003u), "invalid argument");
    EXPECT_STREQ(ostrel::to_string(OSTREL_STATUS_SEND_ERROR(0)), "send failed");
    EXPECT_STREQ(ostrel::to_string(OSTREL_STATUS_SEND_ERROR(0xfff)),
                 "send failed");
    EXPECT_STREQ(ostrel::to_string(0x41050003u), "TLV output too small");
    EXPECT_STREQ(ostrel::to_string(0x41050002u), "TLV malformed");
    EXPECT_STREQ(ostrel::to_string(0x41050007u), "TLV value too large");
    // A drain hands back the transport's error number itself.
    EXPECT_STREQ(ostrel::to_string(0x68u), "ECONNRESET");
    EXPECT_STREQ(ostrel::to_string(0xfffu), "unknown");
    EXPECT_EQ(ostrel::send_error_number(OSTREL_STATUS_SEND_ERROR(0x123)),
              0x123u);
    for (uint32_t other : {0x41040001u, 0x41050000u, 0x41050008u, 0x81041000u,
                           0x01040000u, 0x81050000u, 0xc1040000u}) {
        EXPECT_STREQ(ostrel::to_string(other), "unknown") << std::hex << other;
        EXPECT_FALSE(ostrel::is_send_failure(other)) << std::hex << other;
    }
}

TEST(StatusNames,
     TextGivesASendOrReceiveFailuresErrorNumberAndIsCutLikeSnprintf) {
    char text[64];
    const char full[] = "send failed: errno 111 (Connection refused)";
    const uint32_t refused = OSTREL_STATUS_SEND_ERROR(111);
    EXPECT_EQ(ostrel_api_status_text(refused, text, 12), sizeof full - 1);
    EXPECT_STREQ(text, "send failed");
    EXPECT_EQ(ostrel_api_status_text(refused, text, 64), sizeof full - 1);
    EXPECT_STREQ(text, full);
    EXPECT_EQ(ostrel_api_status_text(0x41050003u, nullptr, 0), 20u);
    EXPECT_EQ(ostrel_api_status_text(0x68u, text, 64), 63u);
    EXPECT_STREQ(text, "receive failed: errno 104 ECONNRESET (Connection "
                       "reset by peer)");
}

using HppTest = ostrel_test::HeapChecked;

TEST_F(HppTest, EncodingIsOwnedAndDecodesBack) {
    const ostrel_api_dst_t dst{7, 8, 300, 0x1234};
    {
        const ostrel::encoded e = ostrel::to_tlv(dst);
        ASSERT_EQ(e.result, ostrel::status::ok);
        ASSERT_EQ(e.tlv.size, ostrel_api_dst_get_tlv_sz(&dst));
        EXPECT_EQ(ostrel::sim::live_allocations(), 1);
        ostrel_api_dst_t back{};
        ASSERT_EQ(ostrel_api_dst_to_struct(e.tlv.bytes().data(), e.tlv.size,
                                           &back, sizeof back),
                  0u);
        EXPECT_EQ(std::memcmp(&back, &dst, sizeof dst), 0);
    }
    ostrel_api_ace_t ace{};
    ace.fltr.fltr_tlv8 = 5;
    const ostrel::encoded filter = ostrel::filter_to_tlv(ace);
    EXPECT_EQ(filter.result, ostrel::status::ok);
    EXPECT_EQ(filter.tlv.size, ostrel_api_ace_fltr_get_tlv_data_sz(&ace));
    ostrel::sim::fail_allocation(1);
    const ostrel::encoded failed = ostrel::action_to_tlv(ace);
    EXPECT_EQ(failed.result, ostrel::status::no_entry);
    EXPECT_EQ(failed.tlv.data, nullptr);
    EXPECT_EQ(failed.tlv.size, 0u);
}

TEST_F(HppTest, SpanEntryPointsProgramAndDelete) {
    const std::array<uint8_t, 6> a1{2, 1, 3, 4, 5, 6}, a2{10, 1, 3, 4, 5, 6};
    ASSERT_EQ(ostrel::program_acl(9, a1, a2, 30, 4, 7, msg, true),
              ostrel::status::ok);
    ASSERT_NE(brisel_vlan_lookup(30), nullptr);
    EXPECT_EQ(brisel_api_yarl_gobble(9, &msg), 0u);
    ostrel::sim::set_if_type(50, 22);
    ostrel::sim::set_pc_members(50, {4, 5});
    ASSERT_EQ(ostrel::pc_program_acl(9, a1, a2, 30, 50, 7, msg, true),
              ostrel::status::ok);
    EXPECT_NE(brisel_pc_lookup(50), nullptr);
    EXPECT_EQ(brisel_api_yarl_gobble(9, &msg), 0u);
    EXPECT_EQ(ostrel::pc_program_acl(9, a1, a2, 30, 50, 7, msg, false),
              ostrel::status::ok);
    EXPECT_EQ(brisel_api_yarl_gobble(9, &msg), 0u);
    ostrel::sim::fail_next_sends(4, 17); // the first try and three retries
    const ostrel::status s = ostrel::del_acl(9, a1, a2, 30, 4, 7, msg);
    EXPECT_TRUE(ostrel::is_send_failure(s)) << ostrel::to_string(s);
    EXPECT_EQ(ostrel::send_error_number(s), 17u);
    EXPECT_EQ(brisel_vlan_lookup(30), nullptr);
    EXPECT_EQ(brisel_pc_lookup(50), nullptr);
    EXPECT_EQ(ostrel::sim::count_of(ostrel::sim::Op::Send), 1u + 2u + 2u + 4u);
}

} // namespace
