// What the operation family (Part 2.4) passes to the table operations, what
// it returns and what it prints, with the TLV utility library replaced by
// recording fakes.
#include "contract_support.h"
#include "family_table.h"

namespace {

using namespace contract;
using codec_test::Family;
using codec_test::kFamilies;

class FamilyContract : public ::testing::TestWithParam<Family> {
  protected:
    void SetUp() override {
        sim::reset();
        fake::reset();
    }
    fake::State &lib() { return fake::state(); }
    const Family &f() { return GetParam(); }
    std::string full(const char *suffix) {
        return std::string("ostrel_api_") + f().name + suffix;
    }
    void expect_one_call(const char *op, std::vector<uintptr_t> args) {
        ASSERT_EQ(lib().table_calls.size(), 1u);
        EXPECT_EQ(lib().table_calls[0].op, op);
        EXPECT_EQ(lib().table_calls[0].args, args);
    }
    void expect_printed(const char *suffix, uint32_t status) {
        ASSERT_EQ(lib().error_texts.size(), 1u);
        EXPECT_EQ(lib().error_formats[0], "%s: ERR 0x%x\n");
        char text[128];
        std::snprintf(text, sizeof text, "%s: ERR 0x%x\n", full(suffix).c_str(),
                      status);
        EXPECT_EQ(lib().error_texts[0], text);
    }
    void expect_silent() { EXPECT_TRUE(lib().error_texts.empty()); }
};

// Distinct argument values, to see each one land in its place.
const uint8_t kTlv[16] = {};
uint8_t g_rec[64];
uint8_t g_out[8];

TEST_P(FamilyContract, ToStructPassesItsArgumentsAndTheDescriptor) {
    lib().table_result = 0;
    EXPECT_EQ(f().to_struct(kTlv, 111, g_rec, 222), 0u);
    expect_one_call("convert_tlv_to_struct",
                    {w(kTlv), 111, w(g_rec), w(f().tbl), 222});
    expect_silent();
}

TEST_P(FamilyContract, ToStructPrintsAndReturnsAFailure) {
    lib().table_result = 0x41050002;
    EXPECT_EQ(f().to_struct(kTlv, 1, g_rec, 2), 0x41050002u);
    expect_printed("_to_struct", 0x41050002);
}

TEST_P(FamilyContract, ToTlvPassesItsArgumentsAndTheDescriptor) {
    uint8_t *buf = nullptr;
    uint32_t len = 0, err = 0;
    lib().encoding = {1, 2, 3};
    EXPECT_EQ(f().to_tlv(g_rec, &buf, &len, 333, &err, 444), 0u);
    expect_one_call("convert_struct_to_tlv", {w(&buf), w(&len), w(f().tbl),
                                              w(g_rec), 333, w(&err), 444});
    expect_silent();
    EXPECT_EQ(len, 3u);
    std::free(buf);
}

TEST_P(FamilyContract, ToTlvPrintsAndReturnsAFailure) {
    uint8_t *buf = nullptr;
    uint32_t len = 0, err = 0;
    lib().table_result = 0xabcdef01;
    EXPECT_EQ(f().to_tlv(g_rec, &buf, &len, 0, &err, 0), 0xabcdef01u);
    expect_printed("_to_tlv", 0xabcdef01);
    EXPECT_EQ(buf, nullptr);
}

TEST_P(FamilyContract, GetTlvSzReturnsTheLibrarySizeUnchangedAndSilently) {
    lib().table_result = 0x41050002; // looks like a status: still returned
    EXPECT_EQ(f().get_tlv_sz(g_rec), 0x41050002u);
    expect_one_call("table_size", {w(f().tbl), w(g_rec)});
    expect_silent();
}

TEST_P(FamilyContract, GetStructSzAsksWithAZeroedResultWordAndLengthZero) {
    lib().struct_size = 24 + 64 * 3;
    EXPECT_EQ(f().get_struct_sz(kTlv), 24 + 64 * 3);
    ASSERT_EQ(lib().table_calls.size(), 1u);
    const fake::TableCall &c = lib().table_calls[0];
    EXPECT_EQ(c.op, "get_struct_size_from_tlv");
    ASSERT_EQ(c.args.size(), 4u);
    EXPECT_NE(c.args[0], 0u);
    EXPECT_EQ(lib().size_out_in, 0u) << "the result word is preset to 0";
    EXPECT_EQ(c.args[1], w(kTlv));
    EXPECT_EQ(c.args[2], 0u);
    EXPECT_EQ(c.args[3], w(f().tbl));
    expect_silent();
}

TEST_P(FamilyContract, GetStructSzPrintsAFailureAndReturnsMinusOne) {
    lib().table_result = 0x41050002;
    lib().struct_size = 99;
    EXPECT_EQ(f().get_struct_sz(kTlv), -1);
    expect_printed("_get_struct_sz", 0x41050002);
}

TEST_P(FamilyContract, GetFieldPassesItsArgumentsAndTheDescriptorSilently) {
    lib().table_result = TLVU_STATUS_NOT_FOUND;
    EXPECT_EQ(f().get_field(kTlv, 5, 6, g_out, 7), TLVU_STATUS_NOT_FOUND);
    expect_one_call("get_field", {w(kTlv), 5, 6, w(g_out), 7, w(f().tbl)});
    expect_silent();
}

TEST_P(FamilyContract, FieldItrInitPutsTheDescriptorFourthSilently) {
    tlvu_field_itr_t itr;
    lib().table_result = TLVU_STATUS_BAD_ARG;
    EXPECT_EQ(f().field_itr_init(&itr, kTlv, 8, 9, 10), TLVU_STATUS_BAD_ARG);
    expect_one_call("field_itr_init", {w(&itr), w(kTlv), 8, w(f().tbl), 9, 10});
    expect_silent();
}

TEST_P(FamilyContract, FieldGetNextPassesExactlyItsArgumentsSilently) {
    tlvu_field_itr_t itr;
    const tlvu_field_t *field = nullptr;
    const void *value = nullptr;
    uint32_t len = 0;
    lib().table_result = TLVU_STATUS_NOT_FOUND;
    EXPECT_EQ(f().field_get_next(&itr, &field, &value, &len),
              TLVU_STATUS_NOT_FOUND);
    expect_one_call("field_itr_get_next",
                    {w(&itr), w(&field), w(&value), w(&len)});
    expect_silent();
}

INSTANTIATE_TEST_SUITE_P(AllRecordTypes, FamilyContract,
                         ::testing::ValuesIn(kFamilies), [](const auto &info) {
                             return std::string(info.param.name);
                         });

TEST_F(Contract, GetNumAcesReturnsTheStoredCountWithoutLookingFurther) {
    ostrel_api_plcy_update_req_t req;
    std::memset(&req, 0, sizeof req);
    req.num_aces = 0xfffffff0u; // no records follow: none may be read
    EXPECT_EQ(ostrel_api_get_num_aces(&req), 0xfffffff0u);
    req.num_aces = 0;
    EXPECT_EQ(ostrel_api_get_num_aces(&req), 0u);
    EXPECT_TRUE(lib().table_calls.empty());
}

} // namespace
