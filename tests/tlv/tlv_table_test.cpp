// Table operations. Untrusted bytes are handed over in vectors built from a
// range, holding exactly those bytes on the heap: ASan sees any overread.
#include "tlv_error_print_switch.h"
#include "tlv_test_support.h"

using namespace tlvtest;

namespace {

uint32_t decode(const Bytes &enc, Rec &r, uint32_t rec_size,
                const tlvu_table_t *tbl = outer) {
    return tlvu_table_convert_tlv_to_struct(
        enc.data(), static_cast<uint32_t>(enc.size()), r.p(), tbl, rec_size);
}
Bytes item_bytes(uint32_t id, const Bytes &custom) {
    return array({tlv(301, host(id)), tlv(302, custom)});
}

} // namespace

TEST_F(TlvTable, EncodesEveryKindOfFieldInTableOrder) {
    Rec r = outer_with_items(2);
    const Bytes before = r.contents();
    const Encoded e = encode(outer, r.p());
    EXPECT_EQ(e.err_type, 0u);
    const Bytes pair = item_bytes(0xA0A1A2A3, array({tlv(201, host(0xB0B1u))}));
    EXPECT_EQ(
        e.bytes,
        array({tlv(1, host(0x01020304u)), tlv(2, pair), tlv(3, host(2u)),
               tlv(4, item_bytes(100, be(0, 4))),
               tlv(4, item_bytes(101, array({tlv(201, host(0x1001u))})))}));
    EXPECT_EQ(r.contents(), before);
}

TEST_F(TlvTable, RecordsRoundTripThroughTheSizesTheLibraryReports) {
    for (uint32_t n : {0u, 1u, 2u, 7u}) {
        const Rec original = outer_with_items(n);
        const Bytes enc = encode(outer, original.p()).bytes;
        EXPECT_EQ(tlvu_table_size(outer, original.p()), enc.size());
        uint32_t size = 0;
        EXPECT_EQ(tlvu_table_get_struct_size_from_tlv(&size, enc.data(), 0,
                                                      outer),
                  0u);
        ASSERT_EQ(size, 16 + 8 * n); // the fixed part, one Item per TLV 4
        Rec decoded(size);
        EXPECT_EQ(decode(enc, decoded, size), 0u);
        EXPECT_EQ(decoded.contents(), original.contents()) << n;
    }
}

TEST_F(TlvTable, FailedEncodingsLeakNothingAndBlameTheirField) {
    Rec r = outer_with_items(4);
    const long live = sim::live_allocations();
    for (long nth = 1; nth < 7; ++nth) { // ours first, then the Item codec's
        sim::fail_allocation(nth);
        const Encoded e = encode(outer, r.p());
        EXPECT_EQ(e.status, nth == 1 ? TLVU_STATUS_NO_MEMORY : kCodecStatus);
        EXPECT_EQ(e.err_type, nth == 1 ? 0u : 302u);
        EXPECT_EQ(sim::live_allocations(), live) << "allocation " << nth;
    }
    sim::fail_allocation(0);
    for (Fault f : {Fault::EncodeFailsOwningBuffer, Fault::EncodeTooLong}) {
        fault = f;
        const Encoded e = encode(outer, r.p());
        EXPECT_EQ(e.status,
                  f == Fault::EncodeTooLong ? kBadTable : kCodecStatus);
        EXPECT_EQ(e.err_type, 302u);
        EXPECT_EQ(sim::live_allocations(), live);
    }
    fault = Fault::None;
    const uint32_t size = tlvu_table_size(outer, r.p());
    EXPECT_EQ(encode(outer, r.p(), size).bytes.size(), size); // max_len
    const long allocations = sim::allocations_made();
    EXPECT_EQ(encode(outer, r.p(), size - 1).status, kTooSmall);
    EXPECT_EQ(sim::allocations_made(), allocations);
}

TEST_F(TlvTable, DecodingWritesOnlyPresentFieldsSkipsUnknownsLaterWins) {
    const Bytes enc = array({tlv(999, {1, 2, 3}), tlv(1, host(5u)),
                             tlv(2, array({tlv(77, {}), tlv(301, host(22u))})),
                             tlv(3, host(1u)),
                             tlv(4, array({tlv(55, {9}), tlv(301, host(33u))})),
                             tlv(1, host(11u))});
    Rec r(24, 0xAB), want(24, 0xAB);
    ASSERT_EQ(decode(enc, r, r.size()), 0u);
    *want.as<Outer>() = {11, {22, 0xABABABAB}, 1};
    want.as<Outer>()->items[0].id = 33;
    EXPECT_EQ(r.contents(), want.contents());
    fault = Fault::DecodeFails; // a custom decoder's status is passed on
    EXPECT_EQ(decode(array({tlv(2, item_bytes(1, be(0, 4)))}), r, r.size()),
              kCodecStatus);
}

TEST_F(TlvTable, MalformedOrOversizeInputIsRefused) {
    const Bytes item = array({tlv(301, host(1u))});
    const Bytes two = cat({tlv(3, host(2u)), tlv(4, item), tlv(4, item)});
    const struct {
        Bytes tlvs;
        uint32_t rec_size, status;
        bool unchanged; // refused before anything is written
    } cases[] = {
        {tlv(3, {1, 2, 3}), 32, kMalformed, true}, // plain of wrong length
        {tlv(3, {1, 2, 3, 4, 5}), 32, kMalformed, true}, // longer than it
        {tlv(2, prefix(item, 11)), 32, kMalformed, true},
        {tlv(2, cat({item, {0}})), 32, kMalformed, true},
        {tlv(2, item_bytes(1, {0, 0, 0, 3, 0})), 32, kMalformed, true},
        {cat({tlv(3, host(3u)), tlv(4, item)}), 40, kMalformed, false}, // count
        {two, 31, kTooSmall, true}, // more elements than the record holds
        {two, 0, kTooSmall, true},  // no record size: the fixed part only
    };
    for (const auto &c : cases) {
        const Bytes enc = cat({be(static_cast<uint32_t>(c.tlvs.size() + 8), 4),
                               tlv(1, host(5u)), c.tlvs});
        Rec r(c.rec_size == 0 ? 16 : c.rec_size, 0xAB);
        EXPECT_EQ(decode(enc, r, c.rec_size), c.status) << &c - cases;
        EXPECT_EQ(r.contents() == Bytes(r.size(), 0xAB), c.unchanged);
        EXPECT_TRUE(r.guard_intact());
    }
    Rec small(7, 0xAB); // below an Item, whose custom decoder writes at 4..8
    const Bytes enc = item_bytes(1, array({tlv(201, host(2u))}));
    EXPECT_EQ(decode(enc, small, 7, &item_desc.hdr), kTooSmall);
    EXPECT_TRUE(small.guard_intact());
}

// (Cut-short encodings are swept with the library's own descriptors.)
TEST_F(TlvTable, CorruptBytesAreReadAndWrittenOnlyInBounds) {
    Rec original = outer_with_items(3);
    const Bytes enc = encode(outer, original.p()).bytes;
    const uint8_t deltas[] = {1, 0xFF, 0x40, 0x80};
    for (size_t i = 0; i < enc.size() * 4; ++i) {
        Bytes bad = enc;
        bad[i / 4] += deltas[i % 4];
        Rec r(original.size(), 0xAB);
        const uint32_t status = decode(bad, r, r.size());
        EXPECT_TRUE(status == 0 || status == kMalformed || status == kTooSmall)
            << "byte " << i / 4 << ": 0x" << std::hex << status;
        EXPECT_TRUE(r.guard_intact());
    }
}

TEST_F(TlvTable, FieldAccessSeesTheTopLevelTlvsOfKnownFields) {
    const Bytes item = item_bytes(10, be(0, 4));
    const Bytes enc = array({tlv(1, host(0xCAFEu)), tlv(2, item), tlv(999, {7}),
                             tlv(4, item), tlv(4, be(0, 4)), tlv(1, host(2u))});
    const struct {
        uint32_t type, out_size, status;
        Bytes want;
    } cases[] = {
        {1, 4, 0, host(0xCAFEu)},            // the first of two
        {2, 64, 0, item},                    // nested: the raw array
        {4, 64, 0, item},                    // array: the first element
        {4, 15, kTooSmall, {}},              // out is not written
        {301, 4, TLVU_STATUS_NOT_FOUND, {}}, // a field of a nested record
    };
    for (const auto &c : cases) {
        Bytes out(c.out_size + 1, 0xEE), want = c.want;
        EXPECT_EQ(tlvu_get_field(enc.data(), 0, c.type, out.data(), c.out_size,
                                 outer),
                  c.status)
            << c.type;
        want.resize(out.size(), 0xEE);
        EXPECT_EQ(out, want) << c.type;
    }
    std::vector<const tlvu_field_t *> seen;
    const tlvu_field_t *f = nullptr, *e = outer_desc.f;
    const void *v = nullptr;
    uint32_t len = 0;
    for (uint32_t filter : {0u, 4u}) {
        tlvu_field_itr_t itr;
        ASSERT_EQ(tlvu_field_itr_init(&itr, enc.data(), 0, outer, filter, 0),
                  0u);
        while (tlvu_field_itr_get_next(&itr, &f, &v, &len) == 0) {
            seen.push_back(f);
        }
        EXPECT_EQ(tlvu_field_itr_get_next(&itr, &f, &v, &len),
                  TLVU_STATUS_NOT_FOUND);
    }
    EXPECT_EQ(seen, (std::vector<const tlvu_field_t *>{
                        e, e + 1, nullptr, e + 3, e + 3, e, e + 3, e + 3}));
    EXPECT_EQ(static_cast<const uint8_t *>(v) + len, &enc[enc.size() - 8]);
}

namespace {
const Desc<1> past_record = {{4, "past the record", 0, 0},
                             {field(TLVU_KIND_PLAIN, 1, 4, 2), kEnd}};
const Desc<1> no_functions = {{4, "custom without functions", 0, 0},
                              {field(TLVU_KIND_CUSTOM, 1, 4, 0), kEnd}};
const Desc<1> small_element = {{4, "element smaller than its record", 0, 0},
                               {field(TLVU_KIND_ARRAY, 1, 4, 4, &item_desc.hdr,
                                      [](const void *) { return 1u; }),
                                kEnd}};
extern const Desc<1> nests_itself;
const Desc<1> nests_itself = {
    {8, "nests itself", 0, 0},
    {field(TLVU_KIND_PLAIN, 1, 8, 0, &nests_itself.hdr), kEnd}};
} // namespace

TEST_F(TlvTable, EveryOperationRefusesABrokenDescriptor) {
    Rec rec(64);
    const Bytes enc = array({tlv(1, host(1u))});
    for (const tlvu_table_t *tbl : {&past_record.hdr, &no_functions.hdr,
                                    &small_element.hdr, &nests_itself.hdr}) {
        EXPECT_EQ(encode(tbl, rec.p()).status, kBadTable) << tbl->name;
        EXPECT_EQ(decode(enc, rec, rec.size(), tbl), kBadTable);
        uint32_t v = 0;
        EXPECT_EQ(tlvu_get_field(enc.data(), 0, 1, &v, 4, tbl), kBadTable);
    }
    EXPECT_EQ(rec.contents(), Bytes(64, 0));
}

TEST(TlvErrorPrint, FormatsLikePrintfToStandardError) {
    testing::internal::CaptureStderr();
    tlvu_error_print("%s: ERR 0x%x\n", "dst_get", 0x4105u);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "dst_get: ERR 0x4105\n");
}

TEST(TlvErrorPrint, SilencedUntilEnabledAgain) {
    testing::internal::CaptureStderr();
    tlvu_set_error_print_enabled(0);
    tlvu_error_print("%s: ERR 0x%x\n", "dst_get", 0x4105u);
    tlvu_set_error_print_enabled(1);
    tlvu_error_print("%s\n", "back");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "back\n");
}
