// Table-driven encoding: exact bytes of every kind of entry, the size
// reported beforehand, the length limit, and failures that hand out
// nothing and leak nothing.
#include "tlv_table_fixture.h"

using namespace tlvtest;

namespace {

using TableEncode = TlvTable;

struct EncodeResult {
    uint32_t status;
    uint8_t *buf;
    uint32_t len;
    uint32_t err_type;
};

EncodeResult encode_raw(const tlvu_table_t *tbl, const void *rec,
                        uint32_t max_len = 0, uint32_t flags = 0) {
    EncodeResult r{0, reinterpret_cast<uint8_t *>(0x1), 0xDEAD, 0xBEEF};
    r.status = tlvu_table_convert_struct_to_tlv(&r.buf, &r.len, tbl, rec, flags,
                                                &r.err_type, max_len);
    return r;
}

// True when a failed encode handed nothing out.
bool handed_out_nothing(const EncodeResult &r) {
    return r.buf == reinterpret_cast<uint8_t *>(0x1) && r.len == 0xDEAD;
}

} // namespace

TEST_F(TableEncode, PlainFieldsAreTlvsOfTheirBytesInTableOrder) {
    const Point p{0x11223344, 0x5566, 0x7788};
    EXPECT_EQ(encode(point_tbl(), &p),
              cat({be32(20), be16(101), be16(4), host<uint32_t>(0x11223344),
                   be16(102), be16(2), host<uint16_t>(0x5566), be16(103),
                   be16(2), host<uint16_t>(0x7788)}));
}

TEST_F(TableEncode, ANestedRecordIsOneTlvHoldingAWholeArray) {
    RecordBuffer r = outer_with_items(0);
    const Outer &o = *r.as<Outer>();
    const Bytes got = encode(outer_tbl(), &o);
    EXPECT_EQ(got, outer_bytes(o, 0));
    // Spot check of the hand-written expectation: TLV 2 right after TLV 1,
    // carrying 24 bytes: a 4-byte header claiming 20, then the point.
    ASSERT_GE(got.size(), 16u);
    EXPECT_EQ(Bytes(got.begin() + 12, got.begin() + 20),
              cat({be16(2), be16(24), be32(20)}));
}

TEST_F(TableEncode, EachArrayElementIsOneTlvOfTheArrayEntrysType) {
    RecordBuffer r = outer_with_items(3);
    const Outer &o = *r.as<Outer>();
    EXPECT_EQ(encode(outer_tbl(), &o), outer_bytes(o, 3));
}

TEST_F(TableEncode, ACustomFieldCarriesTheArrayItsEncoderMadeAndIsHandedTheWholeRecord) {
    const Item it{7, 3, 0xAAAA, 0xBBBB};
    EXPECT_EQ(encode(item_tbl(), &it),
              array({tlv(301, host<uint32_t>(7)),
                     tlv(302, array({tlv(201, host<uint32_t>(0xAAAA)),
                                     tlv(202, host<uint32_t>(0xBBBB))}))}));
    EXPECT_EQ(item_codec().last_rec, &it);
    EXPECT_EQ(item_codec().last_flags, 0u);
}

TEST_F(TableEncode, ACustomEncoderThatEncodesNothingStillYieldsAnEmptyArrayValue) {
    const Item it{7, 0, 1, 2};
    EXPECT_EQ(encode(item_tbl(), &it),
              array({tlv(301, host<uint32_t>(7)), tlv(302, be32(0))}));
}

TEST_F(TableEncode, TheSizeReportedBeforehandIsTheLengthOfTheEncoding) {
    for (uint32_t n : {0u, 1u, 2u, 5u, 17u}) {
        RecordBuffer r = outer_with_items(n);
        const Bytes got = encode(outer_tbl(), r.bytes());
        EXPECT_EQ(tlvu_table_size(outer_tbl(), r.bytes()), got.size())
            << n << " items";
        EXPECT_EQ(got, outer_bytes(*r.as<Outer>(), n)) << n << " items";
    }
    const Point p{};
    EXPECT_EQ(tlvu_table_size(point_tbl(), &p), 4u + 8 + 6 + 6);
}

TEST_F(TableEncode, SuccessReportsNoFailingFieldAndAllocatesOnceForItself) {
    RecordBuffer r = outer_with_items(2);
    const long before = sim::allocations_made();
    EncodeResult res = encode_raw(outer_tbl(), r.bytes());
    ASSERT_EQ(res.status, TLVU_STATUS_OK);
    EXPECT_EQ(res.err_type, 0u);
    EXPECT_EQ(res.len, tlvu_table_size(outer_tbl(), r.bytes()));
    // One buffer of our own, plus one per call of the custom encoder.
    EXPECT_EQ(sim::allocations_made() - before, 1 + item_codec().encodes);
    std::free(res.buf);
}

TEST_F(TableEncode, AnEncodingOfExactlyMaxLenBytesIsAllowed) {
    RecordBuffer r = outer_with_items(2);
    const uint32_t size = tlvu_table_size(outer_tbl(), r.bytes());
    EncodeResult res = encode_raw(outer_tbl(), r.bytes(), size);
    ASSERT_EQ(res.status, TLVU_STATUS_OK);
    EXPECT_EQ(res.len, size);
    std::free(res.buf);
}

TEST_F(TableEncode, AnEncodingLongerThanMaxLenIsRefusedBeforeAnythingIsAllocated) {
    RecordBuffer r = outer_with_items(2);
    const uint32_t size = tlvu_table_size(outer_tbl(), r.bytes());
    for (uint32_t max_len : {size - 1, 4u, 1u}) {
        const long before = sim::allocations_made();
        EncodeResult res = encode_raw(outer_tbl(), r.bytes(), max_len);
        EXPECT_EQ(res.status, TLVU_STATUS_TOO_SMALL) << max_len;
        EXPECT_TRUE(handed_out_nothing(res)) << max_len;
        EXPECT_EQ(sim::allocations_made(), before) << max_len;
    }
}

TEST_F(TableEncode, NonzeroFlagsAreRefused) {
    const Point p{};
    EncodeResult res = encode_raw(point_tbl(), &p, 0, 1);
    EXPECT_EQ(res.status, TLVU_STATUS_BAD_ARG);
    EXPECT_TRUE(handed_out_nothing(res));
    EXPECT_EQ(res.err_type, 0u);
}

TEST_F(TableEncode, NullArgumentsAreRefused) {
    const Point p{};
    uint8_t *buf = nullptr;
    uint32_t len = 0;
    EXPECT_EQ(tlvu_table_convert_struct_to_tlv(nullptr, &len, point_tbl(), &p,
                                               0, nullptr, 0),
              TLVU_STATUS_BAD_ARG);
    EXPECT_EQ(tlvu_table_convert_struct_to_tlv(&buf, nullptr, point_tbl(), &p,
                                               0, nullptr, 0),
              TLVU_STATUS_BAD_ARG);
    EXPECT_EQ(tlvu_table_convert_struct_to_tlv(&buf, &len, nullptr, &p, 0,
                                               nullptr, 0),
              TLVU_STATUS_BAD_ARG);
    EXPECT_EQ(tlvu_table_convert_struct_to_tlv(&buf, &len, point_tbl(),
                                               nullptr, 0, nullptr, 0),
              TLVU_STATUS_BAD_ARG);
    EXPECT_EQ(buf, nullptr);
    EXPECT_EQ(tlvu_table_size(nullptr, &p), 0u);
    EXPECT_EQ(tlvu_table_size(point_tbl(), nullptr), 0u);
}

TEST_F(TableEncode, ANullErrTypeIsAllowed) {
    const Point p{1, 2, 3};
    uint8_t *buf = nullptr;
    uint32_t len = 0;
    ASSERT_EQ(tlvu_table_convert_struct_to_tlv(&buf, &len, point_tbl(), &p, 0,
                                               nullptr, 0),
              TLVU_STATUS_OK);
    EXPECT_EQ(len, 24u);
    std::free(buf);
}

TEST_F(TableEncode, EveryFailingAllocationFailsTheEncodingAndLeaksNothing) {
    RecordBuffer r = outer_with_items(3);
    bool completed = false;
    for (long nth = 1; !completed && nth < 100; ++nth) {
        item_codec() = ItemCodecLog{};
        const long live = sim::live_allocations();
        sim::fail_allocation(nth);
        EncodeResult res = encode_raw(outer_tbl(), r.bytes());
        sim::fail_allocation(0);
        if (res.status == TLVU_STATUS_OK) {
            completed = true;
            std::free(res.buf);
            continue;
        }
        // The first allocation is our buffer; later ones are the custom
        // encoder's, whose status is passed on with its field blamed.
        EXPECT_EQ(res.status, nth == 1 ? TLVU_STATUS_NO_MEMORY : kFaultStatus)
            << "allocation " << nth;
        EXPECT_EQ(res.err_type, nth == 1 ? 0u : 302u) << "allocation " << nth;
        EXPECT_TRUE(handed_out_nothing(res)) << "allocation " << nth;
        EXPECT_EQ(sim::live_allocations(), live) << "allocation " << nth;
    }
    EXPECT_TRUE(completed);
}

TEST_F(TableEncode, AllAllocationsFailingFromTheFirstOnFailsCleanly) {
    RecordBuffer r = outer_with_items(1);
    const long live = sim::live_allocations();
    sim::fail_allocations_from(1);
    EncodeResult res = encode_raw(outer_tbl(), r.bytes());
    sim::fail_allocations_from(0);
    EXPECT_EQ(res.status, TLVU_STATUS_NO_MEMORY);
    EXPECT_TRUE(handed_out_nothing(res));
    EXPECT_EQ(sim::live_allocations(), live);
}

TEST_F(TableEncode, AFailingCustomEncoderIsReportedWithItsFieldAndItsBufferReleased) {
    for (ItemCodecFault fault : {ItemCodecFault::FailAfterHandingOver,
                                 ItemCodecFault::FailWithoutBuffer}) {
        RecordBuffer r = outer_with_items(2);
        item_codec().fault = fault;
        const long live = sim::live_allocations();
        EncodeResult res = encode_raw(outer_tbl(), r.bytes());
        EXPECT_EQ(res.status, kFaultStatus);
        EXPECT_EQ(res.err_type, 302u);
        EXPECT_TRUE(handed_out_nothing(res));
        EXPECT_EQ(sim::live_allocations(), live);
    }
}

TEST_F(TableEncode, ACustomEncoderDisagreeingWithItsSizeFunctionIsRefused) {
    const Item it{1, 3, 2, 3};
    item_codec().fault = ItemCodecFault::LongerThanItsSize;
    const long live = sim::live_allocations();
    EncodeResult res = encode_raw(item_tbl(), &it);
    EXPECT_EQ(res.status, TLVU_STATUS_BAD_TABLE);
    EXPECT_EQ(res.err_type, 302u);
    EXPECT_TRUE(handed_out_nothing(res));
    EXPECT_EQ(sim::live_allocations(), live);
}

namespace {

// A custom field that claims a 70000-byte array: more than a TLV value
// can carry.
uint32_t huge_sz(const void *) { return 70000; }
uint32_t never_enc(const void *, uint32_t, uint8_t **, uint32_t *, uint32_t *) {
    ADD_FAILURE() << "a field too large to encode must not be encoded";
    return 1;
}
uint32_t never_dec(void *, const uint8_t *, uint32_t, uint32_t) { return 1; }

const Desc<2> huge_desc = {
    {8, "Huge", 0, 0},
    {plain(1, 4, 0), custom(2, 4, 4, never_enc, never_dec, huge_sz), kEnd}};

} // namespace

TEST_F(TableEncode, AValueOver0xFFFFBytesCannotBeEncoded) {
    const uint32_t rec[2] = {1, 2};
    const long before = sim::allocations_made();
    EncodeResult res = encode_raw(&huge_desc.hdr, rec);
    EXPECT_EQ(res.status, TLVU_STATUS_TOO_LARGE);
    EXPECT_EQ(res.err_type, 2u);
    EXPECT_TRUE(handed_out_nothing(res));
    EXPECT_EQ(sim::allocations_made(), before);
    EXPECT_EQ(tlvu_table_size(&huge_desc.hdr, rec), 0u);
}

TEST_F(TableEncode, TheRecordIsNotModified) {
    RecordBuffer r = outer_with_items(4);
    const Bytes before = r.contents();
    (void)encode(outer_tbl(), r.bytes());
    EXPECT_EQ(r.contents(), before);
}
