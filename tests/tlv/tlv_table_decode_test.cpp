// Table-driven decoding: round trips of every kind of entry, what is and is
// not written, and refusal of truncated, malformed and oversize input
// without reading outside the encoding or writing outside the record.
#include <algorithm>

#include "tlv_table_fixture.h"

using namespace tlvtest;

namespace {

using TableDecode = TlvTable;

uint32_t decode(const Bytes &enc, RecordBuffer &r, const tlvu_table_t *tbl,
                uint32_t tlv_len, uint32_t rec_size) {
    return tlvu_table_convert_tlv_to_struct(enc.data(), tlv_len, r.bytes(), tbl,
                                            rec_size);
}
uint32_t decode(const Bytes &enc, RecordBuffer &r, const tlvu_table_t *tbl) {
    return decode(enc, r, tbl, static_cast<uint32_t>(enc.size()),
                  static_cast<uint32_t>(r.size()));
}

uint32_t struct_size(const Bytes &enc, const tlvu_table_t *tbl) {
    uint32_t size = 0;
    EXPECT_EQ(tlvu_table_get_struct_size_from_tlv(&size, enc.data(),
                                                  enc.size(), tbl),
              TLVU_STATUS_OK);
    return size;
}

} // namespace

TEST_F(TableDecode, ARecordWithNestedCustomAndArrayFieldsRoundTrips) {
    for (uint32_t n : {0u, 1u, 4u, 9u}) {
        RecordBuffer original = outer_with_items(n);
        const Bytes enc = encode(outer_tbl(), original.bytes());
        ASSERT_FALSE(enc.empty());

        RecordBuffer decoded(struct_size(enc, outer_tbl()));
        ASSERT_EQ(decoded.size(), original.size()) << n << " items";
        EXPECT_EQ(decode(enc, decoded, outer_tbl()), TLVU_STATUS_OK);
        EXPECT_EQ(decoded.contents(), original.contents()) << n << " items";
        EXPECT_TRUE(decoded.guard_intact());
    }
}

TEST_F(TableDecode, TheStructSizeIsTheFixedPartPlusOneElementPerArrayTlv) {
    for (uint32_t n : {0u, 1u, 3u}) {
        RecordBuffer r = outer_with_items(n);
        EXPECT_EQ(struct_size(encode(outer_tbl(), r.bytes()), outer_tbl()),
                  sizeof(Outer) + n * sizeof(Item));
    }
    // Read from the header when no length is given.
    RecordBuffer r = outer_with_items(2);
    const Bytes enc = encode(outer_tbl(), r.bytes());
    uint32_t size = 0;
    EXPECT_EQ(tlvu_table_get_struct_size_from_tlv(&size, enc.data(), 0,
                                                  outer_tbl()),
              TLVU_STATUS_OK);
    EXPECT_EQ(size, 48u);
}

TEST_F(TableDecode, TheStructSizeOfAMalformedEncodingIsRefused) {
    uint32_t size = 12345;
    const Bytes bad = cat({be32(5), tlv(1, {})});
    EXPECT_EQ(tlvu_table_get_struct_size_from_tlv(&size, bad.data(), bad.size(),
                                                  outer_tbl()),
              TLVU_STATUS_MALFORMED);
    EXPECT_EQ(size, 12345u);
    EXPECT_EQ(tlvu_table_get_struct_size_from_tlv(nullptr, bad.data(), 0,
                                                  outer_tbl()),
              TLVU_STATUS_BAD_ARG);
    EXPECT_EQ(tlvu_table_get_struct_size_from_tlv(&size, nullptr, 0,
                                                  outer_tbl()),
              TLVU_STATUS_BAD_ARG);
    EXPECT_EQ(tlvu_table_get_struct_size_from_tlv(&size, bad.data(), 0, nullptr),
              TLVU_STATUS_BAD_ARG);
}

TEST_F(TableDecode, TheCustomDecoderIsHandedTheWholeRecordAndTheValueLength) {
    const Item it{5, 1, 0x77, 0};
    const Bytes enc = encode(item_tbl(), &it);
    RecordBuffer r(sizeof(Item));
    ASSERT_EQ(decode(enc, r, item_tbl()), TLVU_STATUS_OK);
    EXPECT_EQ(item_codec().last_rec, r.bytes());
    EXPECT_EQ(item_codec().last_arr_len, 4u + tlv_size_get(4));
    EXPECT_EQ(item_codec().last_flags, 0u);
    EXPECT_EQ(r.as<Item>()->a, 0x77u);
    EXPECT_EQ(r.as<Item>()->flags, 1u);
}

TEST_F(TableDecode, OnlyFieldsWhoseTlvIsPresentAreWritten) {
    RecordBuffer r(sizeof(Outer), 0xAB);
    const Bytes enc = array({tlv(3, host<uint32_t>(0)),
                             tlv(2, array({tlv(102, host<uint16_t>(0x1234))}))});
    ASSERT_EQ(decode(enc, r, outer_tbl()), TLVU_STATUS_OK);
    Bytes want(sizeof(Outer), 0xAB);
    std::memset(want.data() + offsetof(Outer, count), 0, 4);
    const uint16_t y = 0x1234;
    std::memcpy(want.data() + offsetof(Outer, pt) + offsetof(Point, y), &y, 2);
    EXPECT_EQ(r.contents(), want);
}

TEST_F(TableDecode, UnknownTypesAreSkippedAtEveryLevel) {
    const Bytes enc = array({
        tlv(999, {1, 2, 3}),
        tlv(1, host<uint32_t>(11)),
        tlv(2, array({tlv(7777, {}), tlv(101, host<uint32_t>(22))})),
        tlv(3, host<uint32_t>(1)),
        tlv(4, array({tlv(301, host<uint32_t>(33)), tlv(55, {9})})),
        tlv(0, {}),
    });
    RecordBuffer r(sizeof(Outer) + sizeof(Item));
    ASSERT_EQ(decode(enc, r, outer_tbl()), TLVU_STATUS_OK);
    const Outer &o = *r.as<Outer>();
    EXPECT_EQ(o.op, 11u);
    EXPECT_EQ(o.pt.x, 22u);
    EXPECT_EQ(o.count, 1u);
    EXPECT_EQ(o.items[0].id, 33u);
}

TEST_F(TableDecode, TlvsAreAcceptedInAnyOrderAndTheLaterOfTwoWins) {
    const Bytes enc = array({tlv(103, host<uint16_t>(3)),
                             tlv(101, host<uint32_t>(1)),
                             tlv(101, host<uint32_t>(9))});
    RecordBuffer r(sizeof(Point));
    ASSERT_EQ(decode(enc, r, point_tbl()), TLVU_STATUS_OK);
    EXPECT_EQ(r.as<Point>()->x, 9u);
    EXPECT_EQ(r.as<Point>()->z, 3u);
}

TEST_F(TableDecode, AnEmptyArrayDecodesToNothing) {
    RecordBuffer r(sizeof(Point), 0x5A);
    const Bytes before = r.contents();
    EXPECT_EQ(decode(be32(0), r, point_tbl()), TLVU_STATUS_OK);
    EXPECT_EQ(r.contents(), before);
}

TEST_F(TableDecode, ReadableBytesBehindTheEncodingAreIgnored) {
    const Point p{1, 2, 3};
    Bytes enc = encode(point_tbl(), &p);
    enc.insert(enc.end(), {0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
    RecordBuffer r(sizeof(Point));
    ASSERT_EQ(decode(enc, r, point_tbl()), TLVU_STATUS_OK);
    EXPECT_EQ(r.as<Point>()->y, 2u);
}

TEST_F(TableDecode, ALengthOfZeroTrustsTheHeader) {
    const Point p{1, 2, 3};
    const Bytes enc = encode(point_tbl(), &p);
    RecordBuffer r(sizeof(Point));
    ASSERT_EQ(decode(enc, r, point_tbl(), 0, 0), TLVU_STATUS_OK);
    EXPECT_EQ(r.as<Point>()->z, 3u);
}

TEST_F(TableDecode, EveryTruncationIsRefusedWithoutTouchingTheRecord) {
    RecordBuffer original = outer_with_items(3);
    const Bytes enc = encode(outer_tbl(), original.bytes());
    for (size_t n = 0; n < enc.size(); ++n) {
        ExactCopy copy(enc, n);
        RecordBuffer r(original.size(), 0xAB);
        const Bytes before = r.contents();
        EXPECT_EQ(tlvu_table_convert_tlv_to_struct(
                      copy.p, static_cast<uint32_t>(n == 0 ? 1 : n), r.bytes(),
                      outer_tbl(), static_cast<uint32_t>(r.size())),
                  TLVU_STATUS_MALFORMED)
            << n << " of " << enc.size() << " bytes";
        EXPECT_EQ(r.contents(), before) << n << " bytes";
        EXPECT_TRUE(r.guard_intact()) << n << " bytes";
        EXPECT_EQ(item_codec().decodes, 0) << n << " bytes";
    }
}

TEST_F(TableDecode, EveryCutWithAHeaderPatchedToMatchReadsOnlyWhatIsLeft) {
    // The header is made to agree with the cut, so the cut TLV itself (or
    // the nested array inside it) is what must be found wanting.
    RecordBuffer original = outer_with_items(2);
    const Bytes enc = encode(outer_tbl(), original.bytes());
    std::vector<size_t> boundaries; // body lengths that end on a whole TLV
    for (size_t at = 4; at < enc.size();) {
        at += 4 + ((enc[at + 2] << 8) | enc[at + 3]);
        boundaries.push_back(at - 4);
    }
    for (size_t n = 4; n < enc.size(); ++n) {
        Bytes cut(enc.begin(), enc.begin() + n);
        const Bytes header = be32(static_cast<uint32_t>(n - 4));
        std::copy(header.begin(), header.end(), cut.begin());
        ExactCopy copy(cut, n);
        RecordBuffer r(original.size(), 0xAB);
        const Bytes before = r.contents();
        const uint32_t status = tlvu_table_convert_tlv_to_struct(
            copy.p, static_cast<uint32_t>(n), r.bytes(), outer_tbl(),
            static_cast<uint32_t>(r.size()));
        const bool whole = n == 4 || std::find(boundaries.begin(),
                                               boundaries.end(),
                                               n - 4) != boundaries.end();
        if (!whole) {
            EXPECT_EQ(status, TLVU_STATUS_MALFORMED) << n << " bytes";
            EXPECT_EQ(r.contents(), before) << n << " bytes";
        }
        EXPECT_TRUE(r.guard_intact()) << n << " bytes";
    }
}

TEST_F(TableDecode, AHeaderThatClaimsMoreThanIsReadableIsRefused) {
    const Point p{1, 2, 3};
    Bytes enc = encode(point_tbl(), &p);
    enc[3] += 1; // one byte more than there is
    RecordBuffer r(sizeof(Point));
    EXPECT_EQ(decode(enc, r, point_tbl()), TLVU_STATUS_MALFORMED);
}

TEST_F(TableDecode, EveryCorruptedByteIsRefusedOrDecodedWithinTheRecord) {
    // Whatever one byte of an encoding is changed to, decoding reads only
    // the encoding and writes only the record.
    RecordBuffer original = outer_with_items(2);
    const Bytes enc = encode(outer_tbl(), original.bytes());
    for (size_t i = 0; i < enc.size(); ++i) {
        for (int delta : {1, -1, 0x80, 0x40}) {
            Bytes bad = enc;
            bad[i] = static_cast<uint8_t>(bad[i] + delta);
            ExactCopy copy(bad, bad.size());
            RecordBuffer r(original.size(), 0xAB);
            (void)tlvu_table_convert_tlv_to_struct(
                copy.p, static_cast<uint32_t>(bad.size()), r.bytes(),
                outer_tbl(), static_cast<uint32_t>(r.size()));
            EXPECT_TRUE(r.guard_intact()) << "byte " << i << " delta " << delta;
        }
    }
}

TEST_F(TableDecode, APlainValueOfTheWrongLengthIsRefused) {
    for (const Bytes &value : {Bytes{1, 2, 3}, Bytes{1, 2, 3, 4, 5}, Bytes{}}) {
        RecordBuffer r(sizeof(Point), 0xAB);
        const Bytes before = r.contents();
        EXPECT_EQ(decode(array({tlv(101, value)}), r, point_tbl()),
                  TLVU_STATUS_MALFORMED)
            << value.size() << " bytes";
        EXPECT_EQ(r.contents(), before);
    }
}

TEST_F(TableDecode, ANestedValueThatIsNotExactlyOneArrayIsRefused) {
    const Bytes inner = array({tlv(101, host<uint32_t>(1))});
    const Bytes cases[] = {
        cat({inner, Bytes{0}}),                // a byte behind the array
        Bytes(inner.begin(), inner.end() - 1), // cut short
        Bytes{0, 0},                           // no header
        cat({be32(2), Bytes{0, 1}}),           // a body that is not a TLV
    };
    for (const Bytes &value : cases) {
        RecordBuffer r(sizeof(Outer), 0xAB);
        const Bytes before = r.contents();
        EXPECT_EQ(decode(array({tlv(1, host<uint32_t>(5)), tlv(2, value)}), r,
                         outer_tbl()),
                  TLVU_STATUS_MALFORMED);
        EXPECT_EQ(r.contents(), before) << "nothing written, TLV 1 neither";
    }
}

TEST_F(TableDecode, AMalformedCustomValueIsRefusedBeforeItsDecoderRuns) {
    const Bytes enc = array({tlv(301, host<uint32_t>(1)),
                             tlv(302, cat({be32(3), Bytes{0, 201, 0}}))});
    RecordBuffer r(sizeof(Item));
    EXPECT_EQ(decode(enc, r, item_tbl()), TLVU_STATUS_MALFORMED);
    EXPECT_EQ(item_codec().decodes, 0);
}

TEST_F(TableDecode, MoreElementsThanTheRecordHoldsAreRefusedWithoutWritingPastIt) {
    RecordBuffer original = outer_with_items(3);
    const Bytes enc = encode(outer_tbl(), original.bytes());
    for (uint32_t room_for : {0u, 1u, 2u}) {
        RecordBuffer r(sizeof(Outer) + room_for * sizeof(Item), 0xAB);
        const Bytes before = r.contents();
        EXPECT_EQ(decode(enc, r, outer_tbl()), TLVU_STATUS_TOO_SMALL)
            << "room for " << room_for;
        EXPECT_EQ(r.contents(), before);
        EXPECT_TRUE(r.guard_intact());
    }
    // With no record size given, the record is its fixed part alone.
    RecordBuffer r(sizeof(Outer) + 3 * sizeof(Item), 0xAB);
    EXPECT_EQ(decode(enc, r, outer_tbl(), enc.size(), 0),
              TLVU_STATUS_TOO_SMALL);
}

TEST_F(TableDecode, ACountThatDisagreesWithTheElementsIsRefused) {
    const Bytes item = item_bytes(Item{1, 0, 0, 0});
    struct Case {
        const char *what;
        Bytes enc;
    };
    const Case cases[] = {
        {"count above the elements",
         array({tlv(3, host<uint32_t>(3)), tlv(4, item), tlv(4, item)})},
        {"count below the elements",
         array({tlv(3, host<uint32_t>(1)), tlv(4, item), tlv(4, item)})},
        {"elements but no count into a zeroed record",
         array({tlv(4, item), tlv(4, item)})},
    };
    for (const Case &c : cases) {
        RecordBuffer r(sizeof(Outer) + 4 * sizeof(Item));
        EXPECT_EQ(decode(c.enc, r, outer_tbl()), TLVU_STATUS_MALFORMED)
            << c.what;
        EXPECT_TRUE(r.guard_intact()) << c.what;
    }
}

TEST_F(TableDecode, ARecordSizeBelowTheFixedPartIsRefused) {
    const Point p{1, 2, 3};
    const Bytes enc = encode(point_tbl(), &p);
    RecordBuffer r(sizeof(Point) - 1, 0xAB);
    const Bytes before = r.contents();
    EXPECT_EQ(decode(enc, r, point_tbl()), TLVU_STATUS_TOO_SMALL);
    EXPECT_EQ(r.contents(), before);
    EXPECT_TRUE(r.guard_intact());
}

TEST_F(TableDecode, AFailingCustomDecoderIsPassedOn) {
    const Item it{1, 1, 2, 0};
    const Bytes enc = encode(item_tbl(), &it);
    item_codec().fault = ItemCodecFault::DecoderFails;
    RecordBuffer r(sizeof(Item));
    EXPECT_EQ(decode(enc, r, item_tbl()), kFaultStatus);
}

TEST_F(TableDecode, NullArgumentsAreRefused) {
    const Bytes enc = be32(0);
    RecordBuffer r(sizeof(Point));
    EXPECT_EQ(tlvu_table_convert_tlv_to_struct(nullptr, 4, r.bytes(),
                                               point_tbl(), 0),
              TLVU_STATUS_BAD_ARG);
    EXPECT_EQ(tlvu_table_convert_tlv_to_struct(enc.data(), 4, nullptr,
                                               point_tbl(), 0),
              TLVU_STATUS_BAD_ARG);
    EXPECT_EQ(tlvu_table_convert_tlv_to_struct(enc.data(), 4, r.bytes(),
                                               nullptr, 0),
              TLVU_STATUS_BAD_ARG);
}

TEST_F(TableDecode, DecodingAllocatesNothing) {
    RecordBuffer original = outer_with_items(3);
    const Bytes enc = encode(outer_tbl(), original.bytes());
    RecordBuffer r(original.size());
    const long before = sim::allocations_made();
    ASSERT_EQ(decode(enc, r, outer_tbl()), TLVU_STATUS_OK);
    EXPECT_EQ(sim::allocations_made(), before);
}
