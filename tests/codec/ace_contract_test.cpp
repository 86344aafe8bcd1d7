// What the ACE filter and action codecs (Part 2.2) pass to the TLV array
// operations and how they use the answers, with the TLV utility library
// replaced by recording fakes.
#include "contract_support.h"

namespace {

using namespace contract;

// ---- ACE size functions ----

TEST_F(Contract, FilterSizeAsksTlvSizeGetForTlv8Only) {
    ostrel_api_ace_t ace = make_ace(0, 0);
    EXPECT_EQ(ostrel_api_ace_fltr_get_tlv_data_sz(&ace), 4 + S(4));
    EXPECT_EQ(lib().size_gets, (std::vector<uint32_t>{4}));
}

TEST_F(Contract, FilterSizeAsksFor4_2_6_6_6_6WithTheBit) {
    ostrel_api_ace_t ace = make_ace(1, 0);
    EXPECT_EQ(ostrel_api_ace_fltr_get_tlv_data_sz(&ace),
              4 + S(4) + S(2) + 4 * S(6));
    EXPECT_EQ(lib().size_gets, (std::vector<uint32_t>{4, 2, 6, 6, 6, 6}));
}

TEST_F(Contract, ActionSizeAsksOncePerPresentValue) {
    const struct {
        uint64_t flags;
        uint32_t size;
        std::vector<uint32_t> asked;
    } cases[] = {{0, 4, {}},
                 {1, 4 + S(4), {4}},
                 {2, 4 + S(4), {4}},
                 {3, 4 + 2 * S(4), {4, 4}}};
    for (const auto &c : cases) {
        fake::reset();
        ostrel_api_ace_t ace = make_ace(0, c.flags);
        EXPECT_EQ(ostrel_api_ace_actn_get_tlv_data_sz(&ace), c.size);
        EXPECT_EQ(lib().size_gets, c.asked);
    }
}

// ---- ACE encoders ----

TEST_F(Contract, FilterEncoderAddsEachTlvOnceInTableOrder) {
    const ostrel_api_ace_t ace = make_ace(1, 0);
    uint8_t *buf = nullptr;
    uint32_t len = 0, owned = 0;
    const long allocs = sim::allocations_made();
    ASSERT_EQ(
        ostrel_api_ace_fltr_struct_to_tlv(&ace, kFlags, &buf, &len, &owned),
        0u);
    const uint32_t size = 4 + S(4) + S(2) + 4 * S(6);
    EXPECT_EQ(sim::allocations_made() - allocs, 1);
    EXPECT_EQ(len, size) << "the length is the computed size";
    EXPECT_EQ(owned, 1u);
    ASSERT_EQ(lib().adds.size(), 6u);
    const struct {
        uint32_t type, len;
        const void *field;
        bool from_record;
        uint32_t flags;
    } expected[] = {
        {8, 4, &ace.fltr.fltr_tlv8, false, kFlags},
        {9, 2, &ace.fltr.fltr_qualifier, false, kFlags},
        {19, 6, ace.fltr.fltr_addr1, true, 0},
        {20, 6, ace.fltr.fltr_addr2, true, 0},
        {21, 6, ace.fltr.fltr_addr3, true, 0},
        {22, 6, ace.fltr.fltr_addr4, true, 0},
    };
    for (size_t i = 0; i < 6; ++i) {
        const fake::AddTlv &a = lib().adds[i];
        const auto &e = expected[i];
        EXPECT_EQ(a.buf, buf);
        EXPECT_EQ(a.buf_size, size);
        EXPECT_EQ(a.type, e.type);
        EXPECT_EQ(a.value_len, e.len);
        EXPECT_EQ(a.value_bytes, bytes_of(e.field, e.len)) << "TLV " << e.type;
        EXPECT_EQ(a.flags, e.flags) << "TLV " << e.type;
        if (e.from_record) {
            EXPECT_EQ(a.value, e.field) << "TLV " << e.type;
        } else {
            EXPECT_FALSE(inside(a.value, &ace, sizeof ace))
                << "TLV " << e.type << " is passed from a temporary";
        }
    }
    EXPECT_TRUE(lib().adds[0].buf_was_zero);
    std::free(buf);
}

TEST_F(Contract, FilterEncoderWithoutTheBitAddsTlv8Alone) {
    const ostrel_api_ace_t ace = make_ace(~uint64_t{1}, 3);
    uint8_t *buf = nullptr;
    uint32_t len = 0, owned = 0;
    ASSERT_EQ(ostrel_api_ace_fltr_struct_to_tlv(&ace, 0, &buf, &len, &owned),
              0u);
    ASSERT_EQ(lib().adds.size(), 1u);
    EXPECT_EQ(lib().adds[0].type, 8u);
    EXPECT_EQ(lib().adds[0].buf_size, 4 + S(4));
    EXPECT_EQ(len, 4 + S(4));
    std::free(buf);
}

TEST_F(Contract, ActionEncoderAddsPresentValuesFromTemporaries) {
    const ostrel_api_ace_t ace = make_ace(1, 3);
    uint8_t *buf = nullptr;
    uint32_t len = 0, owned = 0;
    ASSERT_EQ(
        ostrel_api_ace_actn_struct_to_tlv(&ace, kFlags, &buf, &len, &owned),
        0u);
    EXPECT_EQ(len, 4 + 2 * S(4));
    EXPECT_EQ(owned, 1u);
    ASSERT_EQ(lib().adds.size(), 2u);
    EXPECT_EQ(lib().adds[0].type, 10u);
    EXPECT_EQ(lib().adds[1].type, 11u);
    EXPECT_EQ(lib().adds[0].value_bytes, host(ace.actn.actn_tlv10));
    EXPECT_EQ(lib().adds[1].value_bytes, host(ace.actn.actn_tlv11));
    for (const fake::AddTlv &a : lib().adds) {
        EXPECT_EQ(a.buf, buf);
        EXPECT_EQ(a.buf_size, len);
        EXPECT_EQ(a.value_len, 4u);
        EXPECT_EQ(a.flags, kFlags);
        EXPECT_FALSE(inside(a.value, &ace, sizeof ace));
    }
    EXPECT_TRUE(lib().adds[0].buf_was_zero);
    std::free(buf);
}

TEST_F(Contract, ActionEncoderWithOnlyBitOneAddsTlv11Alone) {
    const ostrel_api_ace_t ace = make_ace(0, 2);
    uint8_t *buf = nullptr;
    uint32_t len = 0, owned = 0;
    ASSERT_EQ(ostrel_api_ace_actn_struct_to_tlv(&ace, 0, &buf, &len, &owned),
              0u);
    ASSERT_EQ(lib().adds.size(), 1u);
    EXPECT_EQ(lib().adds[0].type, 11u);
    std::free(buf);
}

TEST_F(Contract, EncodersIgnoreWhatTheAdditionsReturn) {
    // The fake's additions write nothing: the encoder still hands out its
    // zero-filled buffer of the computed size.
    const ostrel_api_ace_t ace = make_ace(1, 0);
    uint8_t *buf = nullptr;
    uint32_t len = 0, owned = 0;
    ASSERT_EQ(ostrel_api_ace_fltr_struct_to_tlv(&ace, 0, &buf, &len, &owned),
              0u);
    EXPECT_EQ(bytes_of(buf, len), Bytes(len, 0));
    std::free(buf);
}

// ---- ACE decoders ----

TEST_F(Contract, DecodersPassTheirThirdArgumentAsTheReadableLength) {
    const uint8_t arr[4] = {};
    ostrel_api_ace_t ace = make_ace(0, 0);
    EXPECT_EQ(ostrel_api_ace_fltr_tlv_to_struct(&ace, arr, 0x777, kFlags), 0u);
    EXPECT_EQ(ostrel_api_ace_actn_tlv_to_struct(&ace, arr, 0x888, kFlags), 0u);
    ASSERT_EQ(lib().nums.size(), 2u);
    EXPECT_EQ(lib().nums[0].arr, arr);
    EXPECT_EQ(lib().nums[0].flags, kFlags);
    EXPECT_EQ(lib().nums[0].arr_len, 0x777u);
    EXPECT_EQ(lib().nums[1].arr_len, 0x888u);
    EXPECT_TRUE(lib().nexts.empty()) << "a count of 0 reads nothing";
}

TEST_F(Contract, DecoderReadsExactlyTheCountedTlvsWithOneCursor) {
    const uint8_t arr[4] = {};
    const uint32_t v8 = 0x01020304;
    const uint16_t v9 = 0x0506;
    const uint8_t a1[6] = {1, 2, 3, 4, 5, 6};
    lib().num_result = 3;
    lib().script = {{8, 4, reinterpret_cast<const uint8_t *>(&v8)},
                    {9, 2, reinterpret_cast<const uint8_t *>(&v9)},
                    {19, 6, a1},
                    {8, 4, reinterpret_cast<const uint8_t *>(&v9)}};
    ostrel_api_ace_t ace;
    std::memset(&ace, 0, sizeof ace);
    EXPECT_EQ(ostrel_api_ace_fltr_tlv_to_struct(&ace, arr, 0, kFlags), 0u);
    ASSERT_EQ(lib().nexts.size(), 3u);
    for (const fake::NextTlv &n : lib().nexts) {
        EXPECT_EQ(n.arr, arr);
        EXPECT_EQ(n.flags, kFlags);
        EXPECT_EQ(n.cursor, lib().nexts[0].cursor);
        EXPECT_EQ(n.value, lib().nexts[0].value);
    }
    EXPECT_EQ(lib().nexts[0].cursor_in, 0u);
    EXPECT_EQ(lib().nexts[0].value_in, nullptr);
    EXPECT_EQ(lib().nexts[1].cursor_in, 4u) << "the cursor runs on";
    EXPECT_EQ(lib().nexts[2].cursor_in, 8u);
    EXPECT_EQ(lib().nexts[1].value_in, reinterpret_cast<const uint8_t *>(&v8));
    EXPECT_EQ(ace.fltr.fltr_tlv8, v8) << "the fourth TLV was never read";
    EXPECT_EQ(ace.fltr.fltr_qualifier, v9);
    EXPECT_EQ(ace.fltr.fltr_flags, 1u);
    EXPECT_EQ(addr_bytes(ace.fltr.fltr_addr1), Bytes(a1, a1 + 6));
}

TEST_F(Contract, AReadThatStoresNothingStoresNothingInTheRecord) {
    const uint8_t arr[4] = {};
    const uint32_t v10 = 0xaabbccdd;
    lib().num_result = 3; // more than the array yields
    lib().script = {{10, 4, reinterpret_cast<const uint8_t *>(&v10)},
                    {0, 0, nullptr, TLVU_STATUS_MALFORMED, false}};
    ostrel_api_ace_t ace;
    std::memset(&ace, 0, sizeof ace);
    EXPECT_EQ(ostrel_api_ace_actn_tlv_to_struct(&ace, arr, 0, 0), 0u);
    EXPECT_EQ(lib().nexts.size(), 3u);
    EXPECT_EQ(ace.actn.actn_tlv10, v10);
    EXPECT_EQ(ace.actn.actn_flags, 1u) << "the failed reads set no flag";
    EXPECT_EQ(ace.actn.actn_tlv11, 0u);
}

TEST_F(Contract, TheResultOfAReadIsNotExamined) {
    const uint8_t arr[4] = {};
    const uint32_t v11 = 0x11;
    lib().num_result = 1;
    lib().script = {{11, 4, reinterpret_cast<const uint8_t *>(&v11),
                     TLVU_STATUS_MALFORMED}};
    ostrel_api_ace_t ace;
    std::memset(&ace, 0, sizeof ace);
    EXPECT_EQ(ostrel_api_ace_actn_tlv_to_struct(&ace, arr, 0, 0), 0u);
    EXPECT_EQ(ace.actn.actn_tlv11, v11);
    EXPECT_EQ(ace.actn.actn_flags, 2u);
}

} // namespace
