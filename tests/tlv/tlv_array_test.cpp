// TLV arrays: exact bytes of appends, refusals that change nothing, and a
// reader that takes only whole TLVs inside the length in the array header.
#include "tlv_test_support.h"

using namespace tlvtest;

TEST(TlvArray, AppendsFillAZeroedBufferOfTheSummedSizesExactly) {
    const uint32_t size = 4 + tlv_size_get(4) + tlv_size_get(2), v = 0xA1B2C3D4;
    const uint16_t w = 0x0506;
    Bytes buf(size, 0);
    ASSERT_EQ(tlv_array_add_tlv(buf.data(), size, 8, 4, &v, 0), 0u);
    ASSERT_EQ(tlv_array_add_tlv(buf.data(), size, 0xFFFF, 2, &w, 0), 0u);
    const Bytes want = cat({be(14, 4), be(8, 2), be(4, 2), host(v),
                            be(0xFFFF, 2), be(2, 2), host(w)});
    EXPECT_EQ(buf, want);
    EXPECT_EQ(tlv_array_get_num_tlvs(buf.data(), 0, size), 2u);
}

TEST(TlvArray, RefusalsChangeNothing) {
    const uint8_t v[4] = {1, 2, 3, 4};
    const uint32_t cases[][5] = {// header, capacity, type, length, status
                                 {0, 11, 1, 4, kTooSmall},
                                 {5, 12, 1, 0, kTooSmall},
                                 {9, 12, 1, 0, kMalformed},
                                 {0, 12, 0x10000, 0, TLVU_STATUS_BAD_ARG}};
    for (const auto &c : cases) {
        Bytes buf = cat({be(c[0], 4), Bytes(16, 0xEE)});
        const Bytes before = buf;
        EXPECT_EQ(tlv_array_add_tlv(buf.data(), c[1], c[2], c[3], v, 0), c[4]);
        EXPECT_EQ(buf, before) << c[1];
    }
    const Bytes bad = cat({be(6, 4), be(1, 2), be(3, 2), Bytes{1, 2}});
    EXPECT_EQ(tlv_array_get_num_tlvs(bad.data(), 0, bad.size()), 0u);
    uint32_t cursor = 0;
    uint16_t type = 0, len = 0;
    const uint8_t *p = nullptr;
    EXPECT_EQ(tlv_array_get_next_tlv(bad.data(), &type, &len, &p, 0, &cursor),
              kMalformed);
}
