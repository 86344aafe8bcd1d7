// TLV array operations: exact bytes, capacity, and refusal of every
// truncated or malformed array without reading outside it.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "tlv_test_bytes.h"
#include "tlvu.h"

using namespace tlvtest;

namespace {

// A heap copy of the first n bytes of `b`, exactly n bytes long, so that a
// read past it is caught by AddressSanitizer.
std::unique_ptr<uint8_t[]> exact_copy(const Bytes &b, size_t n) {
    std::unique_ptr<uint8_t[]> p(new uint8_t[n == 0 ? 1 : n]);
    std::memcpy(p.get(), b.data(), n);
    return p;
}

Bytes sample_array() {
    return array({tlv(8, host<uint32_t>(0x11223344)),
                  tlv(9, host<uint16_t>(0x5566)), tlv(19, {1, 2, 3, 4, 5, 6}),
                  tlv(3, {})});
}

} // namespace

TEST(TlvSize, IsFourBytesOfHeaderPlusTheValueWithoutPadding) {
    EXPECT_EQ(tlv_size_get(0), 4u);
    EXPECT_EQ(tlv_size_get(1), 5u);
    EXPECT_EQ(tlv_size_get(2), 6u);
    EXPECT_EQ(tlv_size_get(6), 10u);
    EXPECT_EQ(tlv_size_get(0xFFFF), 0x10003u);
}

TEST(TlvSize, SaturatesInsteadOfWrappingAround) {
    EXPECT_EQ(tlv_size_get(UINT32_MAX), UINT32_MAX);
    EXPECT_EQ(tlv_size_get(UINT32_MAX - 4), UINT32_MAX);
}

TEST(TlvArrayAdd, AppendsBigEndianHeadersAndHostOrderValuesToAZeroedBuffer) {
    const uint32_t size = 4 + tlv_size_get(4) + tlv_size_get(6);
    Bytes buf(size, 0);
    const uint32_t v = 0xA1B2C3D4;
    const uint8_t addr[6] = {1, 2, 3, 4, 5, 6};
    EXPECT_EQ(tlv_array_add_tlv(buf.data(), size, 8, 4, &v, 0), TLVU_STATUS_OK);
    EXPECT_EQ(tlv_array_add_tlv(buf.data(), size, 19, 6, addr, 0),
              TLVU_STATUS_OK);
    EXPECT_EQ(buf, cat({be32(18), be16(8), be16(4), host(v), be16(19), be16(6),
                        Bytes{1, 2, 3, 4, 5, 6}}));
}

TEST(TlvArrayAdd, AZeroedBufferOfFourPlusTheTlvSizesHoldsExactlyThoseTlvs) {
    const uint32_t size = 4 + tlv_size_get(4) + tlv_size_get(2);
    Bytes buf(size, 0);
    const uint32_t a = 7;
    const uint16_t b = 9;
    ASSERT_EQ(tlv_array_add_tlv(buf.data(), size, 1, 4, &a, 0), TLVU_STATUS_OK);
    ASSERT_EQ(tlv_array_add_tlv(buf.data(), size, 2, 2, &b, 0), TLVU_STATUS_OK);
    EXPECT_EQ(tlv_array_get_num_tlvs(buf.data(), 0, size), 2u);

    const Bytes full = buf;
    EXPECT_EQ(tlv_array_add_tlv(buf.data(), size, 3, 0, nullptr, 0),
              TLVU_STATUS_TOO_SMALL);
    EXPECT_EQ(buf, full);
}

TEST(TlvArrayAdd, RefusesATlvThatDoesNotFitAndChangesNothing) {
    for (uint32_t size = 0; size < 4 + tlv_size_get(4); ++size) {
        Bytes buf(size + 1, 0xEE); // one guard byte behind the capacity
        std::fill(buf.begin(), buf.begin() + std::min<uint32_t>(size, 4), 0);
        const Bytes before = buf;
        const uint32_t v = 1;
        EXPECT_NE(tlv_array_add_tlv(buf.data(), size, 1, 4, &v, 0),
                  TLVU_STATUS_OK)
            << "capacity " << size;
        EXPECT_EQ(buf, before) << "capacity " << size;
    }
}

TEST(TlvArrayAdd, AcceptsAnEmptyValueWithoutAnAddress) {
    Bytes buf(8, 0);
    EXPECT_EQ(tlv_array_add_tlv(buf.data(), 8, 0x1234, 0, nullptr, 0),
              TLVU_STATUS_OK);
    EXPECT_EQ(buf, array({tlv(0x1234, {})}));
}

TEST(TlvArrayAdd, RefusesBadArgumentsAndChangesNothing) {
    Bytes buf(64, 0);
    const uint8_t v[4] = {};
    EXPECT_EQ(tlv_array_add_tlv(nullptr, 64, 1, 4, v, 0), TLVU_STATUS_BAD_ARG);
    EXPECT_EQ(tlv_array_add_tlv(buf.data(), 64, 1, 4, nullptr, 0),
              TLVU_STATUS_BAD_ARG);
    EXPECT_EQ(tlv_array_add_tlv(buf.data(), 64, 0x10000, 4, v, 0),
              TLVU_STATUS_BAD_ARG);
    EXPECT_EQ(tlv_array_add_tlv(buf.data(), 64, 1, 0x10000, v, 0),
              TLVU_STATUS_BAD_ARG);
    EXPECT_EQ(buf, Bytes(64, 0));
}

TEST(TlvArrayAdd, RefusesAHeaderThatClaimsMoreThanTheCapacity) {
    Bytes buf = cat({be32(61), Bytes(60, 0)});
    const Bytes before = buf;
    const uint8_t v = 1;
    EXPECT_EQ(tlv_array_add_tlv(buf.data(), 64, 1, 1, &v, 0),
              TLVU_STATUS_MALFORMED);
    EXPECT_EQ(buf, before);
}

TEST(TlvArrayAdd, TakesALargestValueOf0xFFFFBytes) {
    const uint32_t size = 4 + tlv_size_get(0xFFFF);
    std::vector<uint8_t> buf(size, 0), value(0xFFFF, 0x5A);
    ASSERT_EQ(tlv_array_add_tlv(buf.data(), size, 0xFFFF, 0xFFFF, value.data(),
                                0),
              TLVU_STATUS_OK);
    EXPECT_EQ(tlv_array_get_num_tlvs(buf.data(), 0, size), 1u);
    EXPECT_EQ(buf[4], 0xFF);
    EXPECT_EQ(buf[7], 0xFF);
    EXPECT_EQ(buf.back(), 0x5A);
}

TEST(TlvArrayCount, CountsTheTlvsOfAWellFormedArray) {
    const Bytes a = sample_array();
    EXPECT_EQ(tlv_array_get_num_tlvs(a.data(), 0, a.size()), 4u);
    EXPECT_EQ(tlv_array_get_num_tlvs(a.data(), 0, 0), 4u); // trust the header
}

TEST(TlvArrayCount, AnAllZeroHeaderIsAnEmptyArray) {
    const Bytes a(4, 0);
    EXPECT_EQ(tlv_array_get_num_tlvs(a.data(), 0, 4), 0u);
}

TEST(TlvArrayCount, IgnoresReadableBytesBehindTheArray) {
    Bytes a = sample_array();
    a.insert(a.end(), {0xFF, 0xFF, 0xFF});
    EXPECT_EQ(tlv_array_get_num_tlvs(a.data(), 0, a.size()), 4u);
}

TEST(TlvArrayCount, CountsZeroForEveryTruncationOfAnArray) {
    const Bytes a = sample_array();
    for (size_t n = 1; n < a.size(); ++n) {
        auto copy = exact_copy(a, n);
        EXPECT_EQ(tlv_array_get_num_tlvs(copy.get(), 0, n), 0u)
            << n << " of " << a.size() << " bytes";
    }
}

TEST(TlvArrayCount, CountsZeroForABodyThatIsNotWholeTlvs) {
    struct Case {
        const char *what;
        Bytes bytes;
    };
    const Case cases[] = {
        {"a value running past the body",
         cat({be32(6), be16(1), be16(3), Bytes{1, 2}})},
        {"a TLV header cut short", cat({be32(7), tlv(1, {}), Bytes{0, 1, 0}})},
        {"one stray byte", cat({be32(5), tlv(1, {}), Bytes{0}})},
        {"a length of 0xFFFF with nothing behind it",
         cat({be32(4), be16(1), be16(0xFFFF)})},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(tlv_array_get_num_tlvs(c.bytes.data(), 0, c.bytes.size()), 0u)
            << c.what;
    }
}

TEST(TlvArrayCount, CountsZeroForANullArray) {
    EXPECT_EQ(tlv_array_get_num_tlvs(nullptr, 0, 0), 0u);
    EXPECT_EQ(tlv_array_get_num_tlvs(nullptr, 0, 100), 0u);
}

TEST(TlvArrayNext, VisitsEveryTlvInOrderThenReportsTheEnd) {
    const Bytes a = sample_array();
    uint32_t cursor = 0;
    uint16_t type = 0, len = 0;
    const uint8_t *value = nullptr;
    struct Want {
        uint16_t type, len;
        size_t value_offset;
    };
    const Want want[] = {{8, 4, 8}, {9, 2, 16}, {19, 6, 22}, {3, 0, 32}};
    for (const Want &w : want) {
        ASSERT_EQ(tlv_array_get_next_tlv(a.data(), &type, &len, &value, 0,
                                         &cursor),
                  TLVU_STATUS_OK);
        EXPECT_EQ(type, w.type);
        EXPECT_EQ(len, w.len);
        EXPECT_EQ(value, a.data() + w.value_offset);
    }
    EXPECT_EQ(cursor, a.size() - 4);
    EXPECT_EQ(tlv_array_get_next_tlv(a.data(), &type, &len, &value, 0, &cursor),
              TLVU_STATUS_NOT_FOUND);
}

TEST(TlvArrayNext, ReportsTheEndAtOnceForAnEmptyArray) {
    const Bytes a(4, 0);
    uint32_t cursor = 0;
    uint16_t type = 0, len = 0;
    const uint8_t *value = nullptr;
    EXPECT_EQ(tlv_array_get_next_tlv(a.data(), &type, &len, &value, 0, &cursor),
              TLVU_STATUS_NOT_FOUND);
}

TEST(TlvArrayNext, NeverReadsPastTheBodyLengthOfTheHeader) {
    // The header claims 6 body bytes; the rest of the buffer lies outside
    // the array and must not be taken for a TLV.
    const Bytes a = cat({be32(6), be16(1), be16(2), Bytes{7, 8},
                         tlv(2, host<uint32_t>(9))});
    uint32_t cursor = 0;
    uint16_t type = 0, len = 0;
    const uint8_t *value = nullptr;
    ASSERT_EQ(tlv_array_get_next_tlv(a.data(), &type, &len, &value, 0, &cursor),
              TLVU_STATUS_OK);
    EXPECT_EQ(tlv_array_get_next_tlv(a.data(), &type, &len, &value, 0, &cursor),
              TLVU_STATUS_NOT_FOUND);
}

TEST(TlvArrayNext, RefusesATlvRunningPastTheBodyAndStoresNothing) {
    const Bytes a = cat({be32(8), tlv(1, {}), be16(2), be16(1)});
    uint32_t cursor = 4;
    uint16_t type = 0xAAAA, len = 0xBBBB;
    const uint8_t *value = nullptr;
    EXPECT_EQ(tlv_array_get_next_tlv(a.data(), &type, &len, &value, 0, &cursor),
              TLVU_STATUS_MALFORMED);
    EXPECT_EQ(cursor, 4u);
    EXPECT_EQ(type, 0xAAAA);
    EXPECT_EQ(len, 0xBBBB);
    EXPECT_EQ(value, nullptr);
}

TEST(TlvArrayNext, RefusesACursorPastTheEnd) {
    const Bytes a = array({tlv(1, {})});
    uint32_t cursor = 5;
    uint16_t type = 0, len = 0;
    const uint8_t *value = nullptr;
    EXPECT_EQ(tlv_array_get_next_tlv(a.data(), &type, &len, &value, 0, &cursor),
              TLVU_STATUS_MALFORMED);
    cursor = 2; // inside the TLV header: what follows is not a whole TLV
    EXPECT_EQ(tlv_array_get_next_tlv(a.data(), &type, &len, &value, 0, &cursor),
              TLVU_STATUS_MALFORMED);
}

TEST(TlvArrayNext, RefusesNullPointers) {
    const Bytes a = array({tlv(1, {})});
    uint32_t cursor = 0;
    uint16_t type = 0, len = 0;
    const uint8_t *value = nullptr;
    EXPECT_EQ(tlv_array_get_next_tlv(nullptr, &type, &len, &value, 0, &cursor),
              TLVU_STATUS_BAD_ARG);
    EXPECT_EQ(tlv_array_get_next_tlv(a.data(), nullptr, &len, &value, 0,
                                     &cursor),
              TLVU_STATUS_BAD_ARG);
    EXPECT_EQ(tlv_array_get_next_tlv(a.data(), &type, nullptr, &value, 0,
                                     &cursor),
              TLVU_STATUS_BAD_ARG);
    EXPECT_EQ(tlv_array_get_next_tlv(a.data(), &type, &len, nullptr, 0,
                                     &cursor),
              TLVU_STATUS_BAD_ARG);
    EXPECT_EQ(tlv_array_get_next_tlv(a.data(), &type, &len, &value, 0, nullptr),
              TLVU_STATUS_BAD_ARG);
}

TEST(TlvArrayNext, VisitsExactlyTheTlvsThatTheCountReports) {
    // The codecs' decoders validate with the count, then read that many
    // TLVs ignoring the results: every such read must succeed.
    const Bytes a = sample_array();
    const uint32_t n = tlv_array_get_num_tlvs(a.data(), 0, a.size());
    uint32_t cursor = 0;
    uint16_t type = 0, len = 0;
    const uint8_t *value = nullptr;
    for (uint32_t i = 0; i < n; ++i) {
        EXPECT_EQ(tlv_array_get_next_tlv(a.data(), &type, &len, &value, 0,
                                         &cursor),
                  TLVU_STATUS_OK);
    }
    EXPECT_EQ(tlv_array_get_next_tlv(a.data(), &type, &len, &value, 0, &cursor),
              TLVU_STATUS_NOT_FOUND);
}

TEST(TlvArray, WhatIsAddedReadsBackUnchanged) {
    const uint32_t size = 4 + tlv_size_get(4) + tlv_size_get(0) + tlv_size_get(3);
    Bytes buf(size, 0);
    const uint32_t a = 0xDEADBEEF;
    const uint8_t c[3] = {9, 8, 7};
    ASSERT_EQ(tlv_array_add_tlv(buf.data(), size, 100, 4, &a, 0), TLVU_STATUS_OK);
    ASSERT_EQ(tlv_array_add_tlv(buf.data(), size, 200, 0, nullptr, 0),
              TLVU_STATUS_OK);
    ASSERT_EQ(tlv_array_add_tlv(buf.data(), size, 300, 3, c, 0), TLVU_STATUS_OK);

    uint32_t cursor = 0;
    uint16_t type = 0, len = 0;
    const uint8_t *value = nullptr;
    ASSERT_EQ(tlv_array_get_next_tlv(buf.data(), &type, &len, &value, 0,
                                     &cursor),
              TLVU_STATUS_OK);
    uint32_t got = 0;
    std::memcpy(&got, value, 4);
    EXPECT_EQ(type, 100);
    EXPECT_EQ(got, a);
    ASSERT_EQ(tlv_array_get_next_tlv(buf.data(), &type, &len, &value, 0,
                                     &cursor),
              TLVU_STATUS_OK);
    EXPECT_EQ(type, 200);
    EXPECT_EQ(len, 0);
    ASSERT_EQ(tlv_array_get_next_tlv(buf.data(), &type, &len, &value, 0,
                                     &cursor),
              TLVU_STATUS_OK);
    EXPECT_EQ(type, 300);
    EXPECT_EQ(Bytes(value, value + len), (Bytes{9, 8, 7}));
}
