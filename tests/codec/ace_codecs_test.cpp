// The ACE filter and action codecs (Part 2.2) against our TLV library:
// exact encodings, sizes, decode edge cases, failures.
#include <cstdlib>
#include <cstring>

#include <gtest/gtest.h>

#include "sim_platform.h"
#include "tlv_bytes.h"
#include "tlvu.h"

namespace {

using namespace codec_test;

constexpr uint32_t kOk = 0;
constexpr uint32_t kNullArg = 0x41040003u;
constexpr uint32_t kNoMemory = 0x41040002u;

// One encoding handed out by an encoder.
struct Encoding {
    uint32_t status = 0xdeadbeef;
    uint8_t *buf = nullptr;
    uint32_t len = 0xdeadbeef;
    uint32_t owned = 0xdeadbeef;
    Bytes bytes() const { return bytes_of(buf, len); }
    ~Encoding() { std::free(buf); }
};

using Encoder = uint32_t (*)(const void *, uint32_t, uint8_t **, uint32_t *,
                             uint32_t *);
using Decoder = uint32_t (*)(void *, const uint8_t *, uint32_t, uint32_t);

void encode(Encoder enc, const ostrel_api_ace_t &ace, Encoding &out) {
    out.status = enc(&ace, 0, &out.buf, &out.len, &out.owned);
}

void encode_fltr(const ostrel_api_ace_t &ace, Encoding &out) {
    encode(ostrel_api_ace_fltr_struct_to_tlv, ace, out);
}
void encode_actn(const ostrel_api_ace_t &ace, Encoding &out) {
    encode(ostrel_api_ace_actn_struct_to_tlv, ace, out);
}

// A record filled with a byte pattern, to see what a decoder changes.
ostrel_api_ace_t patterned() {
    ostrel_api_ace_t ace;
    std::memset(&ace, 0xa5, sizeof ace);
    return ace;
}

bool same(const ostrel_api_ace_t &a, const ostrel_api_ace_t &b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

Bytes addr(const uint8_t (&a)[6]) {
    return bytes_of(a, 6);
}

class AceCodecs : public ::testing::Test {
  protected:
    void SetUp() override { sim::reset(); }
};

// ---- sizes ----

TEST_F(AceCodecs, FilterSizeIsHeaderPlusTlv8WithoutThePresenceBit) {
    ostrel_api_ace_t ace = make_ace(0, 0);
    EXPECT_EQ(ostrel_api_ace_fltr_get_tlv_data_sz(&ace), 4 + tlv_size_get(4));
    EXPECT_EQ(ostrel_api_ace_fltr_get_tlv_data_sz(&ace), 12u);
}

TEST_F(AceCodecs, FilterSizeAddsQualifierAndFourAddressesWithTheBit) {
    ostrel_api_ace_t ace = make_ace(1, 0);
    EXPECT_EQ(ostrel_api_ace_fltr_get_tlv_data_sz(&ace),
              4 + tlv_size_get(4) + tlv_size_get(2) + 4 * tlv_size_get(6));
    EXPECT_EQ(ostrel_api_ace_fltr_get_tlv_data_sz(&ace), 58u);
}

TEST_F(AceCodecs, FilterSizeIgnoresEveryFlagBitButBitZero) {
    ostrel_api_ace_t clear = make_ace(~uint64_t{1}, 0);
    ostrel_api_ace_t set = make_ace(uint64_t{1} << 63 | 1, 0);
    EXPECT_EQ(ostrel_api_ace_fltr_get_tlv_data_sz(&clear), 12u);
    EXPECT_EQ(ostrel_api_ace_fltr_get_tlv_data_sz(&set), 58u);
}

TEST_F(AceCodecs, ActionSizeCountsOneTlvPerPresenceBit) {
    const struct {
        uint64_t flags;
        uint32_t size;
    } cases[] = {{0, 4}, {1, 12}, {2, 12}, {3, 20}, {~uint64_t{3}, 4}};
    for (const auto &c : cases) {
        ostrel_api_ace_t ace = make_ace(0, c.flags);
        EXPECT_EQ(ostrel_api_ace_actn_get_tlv_data_sz(&ace), c.size)
            << "actn_flags " << c.flags;
    }
}

// ---- exact encodings ----

TEST_F(AceCodecs, FilterWithoutTheBitEncodesTlv8Alone) {
    ostrel_api_ace_t ace = make_ace(0, 3);
    Encoding e;
    encode_fltr(ace, e);
    ASSERT_EQ(e.status, kOk);
    EXPECT_EQ(e.owned, 1u);
    EXPECT_EQ(e.len, 4 + tlv_size_get(4));
    EXPECT_EQ(hex(e.bytes()), hex(array({tlv(8, host(ace.fltr.fltr_tlv8))})));
}

TEST_F(AceCodecs, FilterWithTheBitEncodesTlvs8_9_19_20_21_22InThatOrder) {
    ostrel_api_ace_t ace = make_ace(1, 0);
    Encoding e;
    encode_fltr(ace, e);
    ASSERT_EQ(e.status, kOk);
    EXPECT_EQ(e.owned, 1u);
    EXPECT_EQ(e.len, 58u);
    EXPECT_EQ(hex(e.bytes()), hex(array({
                                  tlv(8, host(ace.fltr.fltr_tlv8)),
                                  tlv(9, host(ace.fltr.fltr_qualifier)),
                                  tlv(19, addr(ace.fltr.fltr_addr1)),
                                  tlv(20, addr(ace.fltr.fltr_addr2)),
                                  tlv(21, addr(ace.fltr.fltr_addr3)),
                                  tlv(22, addr(ace.fltr.fltr_addr4)),
                              })));
}

TEST_F(AceCodecs, FilterEncodesAllZeroAddressesToo) {
    ostrel_api_ace_t ace;
    std::memset(&ace, 0, sizeof ace);
    ace.fltr.fltr_flags = 1;
    Encoding e;
    encode_fltr(ace, e);
    ASSERT_EQ(e.status, kOk);
    const Bytes zero4(4), zero2(2), zero6(6);
    EXPECT_EQ(hex(e.bytes()),
              hex(array({tlv(8, zero4), tlv(9, zero2), tlv(19, zero6),
                         tlv(20, zero6), tlv(21, zero6), tlv(22, zero6)})));
}

TEST_F(AceCodecs, FilterValuesAreTheFieldBytesInHostOrder) {
    ostrel_api_ace_t ace = make_ace(1, 0);
    ace.fltr.fltr_tlv8 = 0x01020304u;
    ace.fltr.fltr_qualifier = 0x0506u;
    Encoding e;
    encode_fltr(ace, e);
    ASSERT_EQ(e.status, kOk);
    const Bytes b = e.bytes();
    // array header (4), TLV 8 header (4), then its value.
    EXPECT_EQ(Bytes(b.begin() + 8, b.begin() + 12), host(uint32_t{0x01020304}));
    EXPECT_EQ(Bytes(b.begin() + 16, b.begin() + 18), host(uint16_t{0x0506}));
}

TEST_F(AceCodecs, ActionWithNeitherBitIsAnEmptyFourByteArray) {
    ostrel_api_ace_t ace = make_ace(1, 0);
    Encoding e;
    encode_actn(ace, e);
    ASSERT_EQ(e.status, kOk);
    EXPECT_EQ(e.owned, 1u);
    EXPECT_EQ(e.len, 4u);
    EXPECT_EQ(hex(e.bytes()), hex(Bytes(4, 0)));
}

TEST_F(AceCodecs, ActionEncodesExactlyThePresentValues) {
    const struct {
        uint64_t flags;
        bool has10, has11;
    } cases[] = {{1, true, false},
                 {2, false, true},
                 {3, true, true},
                 {~uint64_t{3}, false, false},
                 {uint64_t{1} << 40 | 2, false, true}};
    for (const auto &c : cases) {
        ostrel_api_ace_t ace = make_ace(0, c.flags);
        Encoding e;
        encode_actn(ace, e);
        ASSERT_EQ(e.status, kOk);
        Bytes body;
        if (c.has10) {
            body = cat({body, tlv(10, host(ace.actn.actn_tlv10))});
        }
        if (c.has11) {
            body = cat({body, tlv(11, host(ace.actn.actn_tlv11))});
        }
        EXPECT_EQ(hex(e.bytes()),
                  hex(cat({be32(static_cast<uint32_t>(body.size())), body})))
            << "actn_flags " << c.flags;
        EXPECT_EQ(e.len, ostrel_api_ace_actn_get_tlv_data_sz(&ace));
    }
}

TEST_F(AceCodecs, EncodersLeaveTheRecordUnchanged) {
    for (uint64_t f = 0; f < 2; ++f) {
        for (uint64_t a = 0; a < 4; ++a) {
            const ostrel_api_ace_t ace = make_ace(f, a);
            ostrel_api_ace_t copy = ace;
            Encoding e1, e2;
            encode_fltr(copy, e1);
            encode_actn(copy, e2);
            EXPECT_TRUE(same(copy, ace));
        }
    }
}

TEST_F(AceCodecs, EachEncodingIsOneAllocationHandedToTheCaller) {
    ostrel_api_ace_t ace = make_ace(1, 3);
    const long before = sim::allocations_made();
    {
        Encoding e;
        encode_fltr(ace, e);
        ASSERT_EQ(e.status, kOk);
        EXPECT_EQ(sim::allocations_made() - before, 1);
        EXPECT_EQ(sim::live_allocations(), 1);
    }
    EXPECT_EQ(sim::live_allocations(), 0);
    {
        Encoding e;
        encode_actn(ace, e);
        ASSERT_EQ(e.status, kOk);
        EXPECT_EQ(sim::allocations_made() - before, 2);
        EXPECT_EQ(sim::live_allocations(), 1);
    }
    EXPECT_EQ(sim::live_allocations(), 0);
}

// ---- encoder failures ----

TEST_F(AceCodecs, EncodersRefuseEachNullOutputWithoutAllocating) {
    ostrel_api_ace_t ace = make_ace(1, 3);
    for (Encoder enc : {ostrel_api_ace_fltr_struct_to_tlv,
                        ostrel_api_ace_actn_struct_to_tlv}) {
        uint8_t *buf = nullptr;
        uint32_t len = 7, owned = 7;
        const long before = sim::allocations_made();
        EXPECT_EQ(enc(&ace, 0, nullptr, &len, &owned), kNullArg);
        EXPECT_EQ(enc(&ace, 0, &buf, nullptr, &owned), kNullArg);
        EXPECT_EQ(enc(&ace, 0, &buf, &len, nullptr), kNullArg);
        EXPECT_EQ(sim::allocations_made(), before);
        EXPECT_EQ(buf, nullptr);
        EXPECT_EQ(len, 7u);
        EXPECT_EQ(owned, 7u);
    }
}

TEST_F(AceCodecs, AFailedAllocationIsReportedAndWritesNoOutput) {
    ostrel_api_ace_t ace = make_ace(1, 3);
    for (Encoder enc : {ostrel_api_ace_fltr_struct_to_tlv,
                        ostrel_api_ace_actn_struct_to_tlv}) {
        uint8_t sentinel = 0;
        uint8_t *buf = &sentinel;
        uint32_t len = 7, owned = 7;
        sim::fail_allocation(1);
        EXPECT_EQ(enc(&ace, 0, &buf, &len, &owned), kNoMemory);
        EXPECT_EQ(buf, &sentinel);
        EXPECT_EQ(len, 7u);
        EXPECT_EQ(owned, 7u);
        EXPECT_EQ(sim::live_allocations(), 0);
        sim::fail_allocation(0);
    }
}

// ---- decoding ----

TEST_F(AceCodecs, DecodersRefuseNullArgumentsAndChangeNothing) {
    const Bytes arr = array({tlv(8, host(uint32_t{1}))});
    ostrel_api_ace_t ace = patterned();
    const ostrel_api_ace_t before = ace;
    for (Decoder dec : {ostrel_api_ace_fltr_tlv_to_struct,
                        ostrel_api_ace_actn_tlv_to_struct}) {
        EXPECT_EQ(dec(nullptr, arr.data(), 0, 0), kNullArg);
        EXPECT_EQ(dec(&ace, nullptr, 0, 0), kNullArg);
        EXPECT_TRUE(same(ace, before));
    }
}

TEST_F(AceCodecs, DecodingAnEmptyArrayReturnsZeroAndChangesNothing) {
    const Bytes empty = array({});
    for (Decoder dec : {ostrel_api_ace_fltr_tlv_to_struct,
                        ostrel_api_ace_actn_tlv_to_struct}) {
        ostrel_api_ace_t ace = patterned();
        const ostrel_api_ace_t before = ace;
        EXPECT_EQ(dec(&ace, empty.data(), 0, 0), kOk);
        EXPECT_TRUE(same(ace, before));
    }
}

TEST_F(AceCodecs, FilterTlv19WithoutTlv9FillsAddr1AndLeavesTheBitAsItWas) {
    const uint8_t a1[6] = {1, 2, 3, 4, 5, 6};
    const Bytes arr = array({tlv(19, addr(a1))});
    for (uint64_t flags : {uint64_t{0}, uint64_t{1}, uint64_t{0xf0}}) {
        ostrel_api_ace_t ace = patterned();
        ace.fltr.fltr_flags = flags;
        ostrel_api_ace_t expected = ace;
        std::memcpy(expected.fltr.fltr_addr1, a1, 6);
        EXPECT_EQ(ostrel_api_ace_fltr_tlv_to_struct(&ace, arr.data(), 0, 0),
                  kOk);
        EXPECT_TRUE(same(ace, expected)) << "fltr_flags " << flags;
    }
}

TEST_F(AceCodecs, FilterTlv9SetsBitZeroAndKeepsTheOtherBits) {
    const Bytes arr = array({tlv(9, host(uint16_t{0x1234}))});
    ostrel_api_ace_t ace = patterned();
    ace.fltr.fltr_flags = 0xf0;
    ostrel_api_ace_t expected = ace;
    expected.fltr.fltr_flags = 0xf1;
    expected.fltr.fltr_qualifier = 0x1234;
    EXPECT_EQ(ostrel_api_ace_fltr_tlv_to_struct(&ace, arr.data(), 0, 0), kOk);
    EXPECT_TRUE(same(ace, expected));
}

TEST_F(AceCodecs, FilterTlv8SetsNoFlag) {
    const Bytes arr = array({tlv(8, host(uint32_t{0xcafef00d}))});
    ostrel_api_ace_t ace = patterned();
    ace.fltr.fltr_flags = 0;
    ostrel_api_ace_t expected = ace;
    expected.fltr.fltr_tlv8 = 0xcafef00d;
    EXPECT_EQ(ostrel_api_ace_fltr_tlv_to_struct(&ace, arr.data(), 0, 0), kOk);
    EXPECT_TRUE(same(ace, expected));
}

TEST_F(AceCodecs, FilterDecoderSkipsEveryTypeItDoesNotOwn) {
    std::vector<uint16_t> skipped = {0, 1, 2,  3,  4,   5,
                                     6, 7, 23, 24, 255, 0xffff};
    for (uint16_t t = 10; t <= 18; ++t) {
        skipped.push_back(t);
    }
    for (uint16_t type : skipped) {
        for (size_t width : {2u, 4u, 6u}) {
            const Bytes arr = array({tlv(type, Bytes(width, 0x3c))});
            ostrel_api_ace_t ace = patterned();
            const ostrel_api_ace_t before = ace;
            EXPECT_EQ(ostrel_api_ace_fltr_tlv_to_struct(&ace, arr.data(), 0, 0),
                      kOk);
            EXPECT_TRUE(same(ace, before)) << "type " << type;
        }
    }
}

TEST_F(AceCodecs, ActionDecoderSkipsEveryTypeButTenAndEleven) {
    std::vector<uint16_t> skipped = {0, 12, 23, 0xffff};
    for (uint16_t t = 1; t <= 22; ++t) {
        if (t != 10 && t != 11) {
            skipped.push_back(t);
        }
    }
    for (uint16_t type : skipped) {
        for (size_t width : {2u, 4u, 6u}) {
            const Bytes arr = array({tlv(type, Bytes(width, 0x3c))});
            ostrel_api_ace_t ace = patterned();
            const ostrel_api_ace_t before = ace;
            EXPECT_EQ(ostrel_api_ace_actn_tlv_to_struct(&ace, arr.data(), 0, 0),
                      kOk);
            EXPECT_TRUE(same(ace, before)) << "type " << type;
        }
    }
}

TEST_F(AceCodecs, ActionTlvsSetTheirOwnBitOnly) {
    const Bytes only11 = array({tlv(11, host(uint32_t{0x0b0b0b0b}))});
    ostrel_api_ace_t ace = patterned();
    ace.actn.actn_flags = 0x100;
    ostrel_api_ace_t expected = ace;
    expected.actn.actn_flags = 0x102;
    expected.actn.actn_tlv11 = 0x0b0b0b0b;
    EXPECT_EQ(ostrel_api_ace_actn_tlv_to_struct(&ace, only11.data(), 0, 0),
              kOk);
    EXPECT_TRUE(same(ace, expected));

    const Bytes only10 = array({tlv(10, host(uint32_t{0x0a0a0a0a}))});
    expected.actn.actn_flags = 0x103;
    expected.actn.actn_tlv10 = 0x0a0a0a0a;
    EXPECT_EQ(ostrel_api_ace_actn_tlv_to_struct(&ace, only10.data(), 0, 0),
              kOk);
    EXPECT_TRUE(same(ace, expected));
}

TEST_F(AceCodecs, ATlvThatOccursTwiceKeepsTheLaterValue) {
    const Bytes fltr =
        array({tlv(8, host(uint32_t{1})), tlv(8, host(uint32_t{2})),
               tlv(20, Bytes(6, 0x11)), tlv(20, Bytes(6, 0x22))});
    ostrel_api_ace_t ace = patterned();
    EXPECT_EQ(ostrel_api_ace_fltr_tlv_to_struct(&ace, fltr.data(), 0, 0), kOk);
    EXPECT_EQ(ace.fltr.fltr_tlv8, 2u);
    EXPECT_EQ(addr(ace.fltr.fltr_addr2), Bytes(6, 0x22));

    const Bytes actn =
        array({tlv(10, host(uint32_t{5})), tlv(10, host(uint32_t{6}))});
    EXPECT_EQ(ostrel_api_ace_actn_tlv_to_struct(&ace, actn.data(), 0, 0), kOk);
    EXPECT_EQ(ace.actn.actn_tlv10, 6u);
}

TEST_F(AceCodecs, TlvsAreAcceptedInAnyOrder) {
    const Bytes arr =
        array({tlv(22, Bytes(6, 4)), tlv(21, Bytes(6, 3)), tlv(20, Bytes(6, 2)),
               tlv(19, Bytes(6, 1)), tlv(9, host(uint16_t{0x99})),
               tlv(8, host(uint32_t{0x88}))});
    ostrel_api_ace_t ace;
    std::memset(&ace, 0, sizeof ace);
    EXPECT_EQ(ostrel_api_ace_fltr_tlv_to_struct(&ace, arr.data(), 0, 0), kOk);
    EXPECT_EQ(ace.fltr.fltr_tlv8, 0x88u);
    EXPECT_EQ(ace.fltr.fltr_qualifier, 0x99u);
    EXPECT_EQ(ace.fltr.fltr_flags, 1u);
    EXPECT_EQ(addr(ace.fltr.fltr_addr1), Bytes(6, 1));
    EXPECT_EQ(addr(ace.fltr.fltr_addr2), Bytes(6, 2));
    EXPECT_EQ(addr(ace.fltr.fltr_addr3), Bytes(6, 3));
    EXPECT_EQ(addr(ace.fltr.fltr_addr4), Bytes(6, 4));
}

// Values whose length is not the field's width are refused: the TLV is
// skipped whole, so neither the field nor its flag changes, and the
// neighbouring fields are not touched.
TEST_F(AceCodecs, AValueOfTheWrongWidthIsSkippedWhole) {
    const struct {
        uint16_t type;
        size_t width;
    } fields[] = {{8, 4},  {9, 2},  {19, 6}, {20, 6},
                  {21, 6}, {22, 6}, {10, 4}, {11, 4}};
    for (const auto &f : fields) {
        for (size_t len : {size_t{0}, f.width - 1, f.width + 1, f.width + 8}) {
            const Bytes arr = array({tlv(f.type, Bytes(len, 0x5a))});
            ostrel_api_ace_t ace = patterned();
            ace.fltr.fltr_flags = 0;
            ace.actn.actn_flags = 0;
            const ostrel_api_ace_t before = ace;
            Decoder dec = f.type == 10 || f.type == 11
                              ? ostrel_api_ace_actn_tlv_to_struct
                              : ostrel_api_ace_fltr_tlv_to_struct;
            EXPECT_EQ(dec(&ace, arr.data(), 0, 0), kOk);
            EXPECT_TRUE(same(ace, before))
                << "type " << f.type << " value length " << len;
        }
    }
}

TEST_F(AceCodecs, AWrongWidthValueDoesNotStopTheTlvsBehindIt) {
    const Bytes arr =
        array({tlv(9, Bytes(3, 0x77)), tlv(8, host(uint32_t{42}))});
    ostrel_api_ace_t ace = patterned();
    ace.fltr.fltr_flags = 0;
    const ostrel_api_ace_t before = ace;
    EXPECT_EQ(ostrel_api_ace_fltr_tlv_to_struct(&ace, arr.data(), 0, 0), kOk);
    EXPECT_EQ(ace.fltr.fltr_tlv8, 42u);
    EXPECT_EQ(ace.fltr.fltr_flags, 0u);
    EXPECT_EQ(ace.fltr.fltr_qualifier, before.fltr.fltr_qualifier);
}

// The decoders' third argument reaches tlv_array_get_num_tlvs as the number
// of readable bytes: an array that claims more than that is not decoded.
TEST_F(AceCodecs, AnArrayLongerThanTheReadableLengthIsNotDecoded) {
    ostrel_api_ace_t src = make_ace(1, 3);
    Encoding f, a;
    encode_fltr(src, f);
    encode_actn(src, a);
    ASSERT_EQ(f.status, kOk);
    ASSERT_EQ(a.status, kOk);
    for (uint32_t readable : {f.len - 1, 4u, 1u}) {
        ostrel_api_ace_t ace = patterned();
        const ostrel_api_ace_t before = ace;
        EXPECT_EQ(ostrel_api_ace_fltr_tlv_to_struct(&ace, f.buf, readable, 0),
                  kOk);
        EXPECT_TRUE(same(ace, before)) << "readable " << readable;
    }
    ostrel_api_ace_t ace = patterned();
    const ostrel_api_ace_t before = ace;
    EXPECT_EQ(ostrel_api_ace_actn_tlv_to_struct(&ace, a.buf, a.len - 1, 0),
              kOk);
    EXPECT_TRUE(same(ace, before));
    // Exactly the array's length is enough.
    EXPECT_EQ(ostrel_api_ace_actn_tlv_to_struct(&ace, a.buf, a.len, 0), kOk);
    EXPECT_EQ(ace.actn.actn_tlv10, src.actn.actn_tlv10);
}

TEST_F(AceCodecs, AMalformedArrayIsNotDecoded) {
    // A TLV whose value runs past the array's body.
    Bytes overrun = array({tlv(8, host(uint32_t{1}))});
    overrun[7] = 40; // TLV 8 now claims a 40-byte value
    // A body too short to hold a TLV header.
    const Bytes stub = cat({be32(2), be16(8)});
    // A trailing partial TLV behind a good one.
    const Bytes tail =
        cat({be32(10), be16(8), be16(4), host(uint32_t{1}), be16(9)});
    for (const Bytes &bad : {overrun, stub, tail}) {
        for (Decoder dec : {ostrel_api_ace_fltr_tlv_to_struct,
                            ostrel_api_ace_actn_tlv_to_struct}) {
            ostrel_api_ace_t ace = patterned();
            const ostrel_api_ace_t before = ace;
            EXPECT_EQ(
                dec(&ace, bad.data(), static_cast<uint32_t>(bad.size()), 0),
                kOk);
            EXPECT_TRUE(same(ace, before)) << hex(bad);
        }
    }
}

// ---- round trips ----

TEST_F(AceCodecs, EveryFlagCombinationRoundTripsIntoAZeroedRecord) {
    for (uint64_t f = 0; f < 2; ++f) {
        for (uint64_t a = 0; a < 4; ++a) {
            const ostrel_api_ace_t src =
                make_ace(f, a, static_cast<uint8_t>(f * 4 + a));
            Encoding ef, ea;
            encode_fltr(src, ef);
            encode_actn(src, ea);
            ASSERT_EQ(ef.status, kOk);
            ASSERT_EQ(ea.status, kOk);
            ostrel_api_ace_t out;
            std::memset(&out, 0, sizeof out);
            EXPECT_EQ(
                ostrel_api_ace_fltr_tlv_to_struct(&out, ef.buf, ef.len, 0),
                kOk);
            EXPECT_EQ(
                ostrel_api_ace_actn_tlv_to_struct(&out, ea.buf, ea.len, 0),
                kOk);

            ostrel_api_ace_t expected;
            std::memset(&expected, 0, sizeof expected);
            expected.fltr.fltr_tlv8 = src.fltr.fltr_tlv8;
            expected.fltr.fltr_flags = f;
            if (f != 0) {
                expected.fltr.fltr_qualifier = src.fltr.fltr_qualifier;
                std::memcpy(expected.fltr.fltr_addr1, src.fltr.fltr_addr1, 24);
            }
            expected.actn.actn_flags = a;
            if (a & 1) {
                expected.actn.actn_tlv10 = src.actn.actn_tlv10;
            }
            if (a & 2) {
                expected.actn.actn_tlv11 = src.actn.actn_tlv11;
            }
            EXPECT_TRUE(same(out, expected)) << "fltr " << f << " actn " << a;
        }
    }
}

TEST_F(AceCodecs, OnlyTheEncodedFlagBitsComeBack) {
    const ostrel_api_ace_t src = make_ace(~uint64_t{0}, ~uint64_t{0});
    Encoding ef, ea;
    encode_fltr(src, ef);
    encode_actn(src, ea);
    ostrel_api_ace_t out;
    std::memset(&out, 0, sizeof out);
    EXPECT_EQ(ostrel_api_ace_fltr_tlv_to_struct(&out, ef.buf, 0, 0), kOk);
    EXPECT_EQ(ostrel_api_ace_actn_tlv_to_struct(&out, ea.buf, 0, 0), kOk);
    EXPECT_EQ(out.fltr.fltr_flags, 1u);
    EXPECT_EQ(out.actn.actn_flags, 3u);
    EXPECT_EQ(out.actn.actn_tlv11, src.actn.actn_tlv11);
}

} // namespace
