// Single-field access and the field iterator: top-level TLVs only, with
// their descriptor entries, over validated arrays.
#include "tlv_table_fixture.h"

using namespace tlvtest;

namespace {

using FieldAccess = TlvTable;

Bytes sample() {
    return array({tlv(1, host<uint32_t>(0xCAFE)),
                  tlv(2, point_bytes({1, 2, 3})),
                  tlv(999, {7}),
                  tlv(3, host<uint32_t>(2)),
                  tlv(4, item_bytes({10, 1, 11, 0})),
                  tlv(4, item_bytes({20, 2, 0, 22})),
                  tlv(1, host<uint32_t>(0xBEEF))});
}

} // namespace

TEST_F(FieldAccess, APlainFieldsValueIsCopiedFromItsFirstTlv) {
    const Bytes enc = sample();
    uint32_t v = 0;
    ASSERT_EQ(tlvu_get_field(enc.data(), enc.size(), 1, &v, sizeof v,
                             outer_tbl()),
              TLVU_STATUS_OK);
    EXPECT_EQ(v, 0xCAFEu);
}

TEST_F(FieldAccess, ANestedFieldIsCopiedAsItsRawArray) {
    const Bytes enc = sample();
    Bytes out(64, 0xEE);
    ASSERT_EQ(tlvu_get_field(enc.data(), 0, 2, out.data(), out.size(),
                             outer_tbl()),
              TLVU_STATUS_OK);
    const Bytes want = point_bytes({1, 2, 3});
    EXPECT_EQ(Bytes(out.begin(), out.begin() + want.size()), want);
    EXPECT_EQ(out[want.size()], 0xEE);
}

TEST_F(FieldAccess, AnArrayFieldYieldsItsFirstElement) {
    const Bytes enc = sample();
    Bytes out(64, 0);
    ASSERT_EQ(tlvu_get_field(enc.data(), enc.size(), 4, out.data(), out.size(),
                             outer_tbl()),
              TLVU_STATUS_OK);
    const Bytes want = item_bytes({10, 1, 11, 0});
    EXPECT_EQ(Bytes(out.begin(), out.begin() + want.size()), want);
}

TEST_F(FieldAccess, AnOutputTooSmallForTheValueIsRefusedAndNotWritten) {
    const Bytes enc = sample();
    uint8_t out[3] = {9, 9, 9};
    EXPECT_EQ(tlvu_get_field(enc.data(), enc.size(), 1, out, sizeof out,
                             outer_tbl()),
              TLVU_STATUS_TOO_SMALL);
    EXPECT_EQ(out[0], 9);
}

TEST_F(FieldAccess, AnAbsentOrUnknownFieldIsNotFound) {
    const Bytes enc = array({tlv(1, host<uint32_t>(1)), tlv(999, {7})});
    uint32_t v = 0;
    EXPECT_EQ(tlvu_get_field(enc.data(), enc.size(), 3, &v, 4, outer_tbl()),
              TLVU_STATUS_NOT_FOUND);
    EXPECT_EQ(tlvu_get_field(enc.data(), enc.size(), 999, &v, 4, outer_tbl()),
              TLVU_STATUS_NOT_FOUND) << "a type the table does not know";
    EXPECT_EQ(tlvu_get_field(enc.data(), enc.size(), 101, &v, 4, outer_tbl()),
              TLVU_STATUS_NOT_FOUND) << "a field of a nested record";
}

TEST_F(FieldAccess, AMalformedEncodingOrAPlainValueOfTheWrongLengthIsRefused) {
    uint32_t v = 0;
    Bytes enc = sample();
    ExactCopy cut(enc, enc.size() - 1);
    EXPECT_EQ(tlvu_get_field(cut.p, enc.size() - 1, 1, &v, 4, outer_tbl()),
              TLVU_STATUS_MALFORMED);
    const Bytes short_value = array({tlv(1, {1, 2})});
    EXPECT_EQ(tlvu_get_field(short_value.data(), short_value.size(), 1, &v, 4,
                             outer_tbl()),
              TLVU_STATUS_MALFORMED);
    EXPECT_EQ(tlvu_get_field(nullptr, 0, 1, &v, 4, outer_tbl()),
              TLVU_STATUS_BAD_ARG);
    EXPECT_EQ(tlvu_get_field(enc.data(), 0, 1, nullptr, 4, outer_tbl()),
              TLVU_STATUS_BAD_ARG);
    EXPECT_EQ(tlvu_get_field(enc.data(), 0, 1, &v, 4, nullptr),
              TLVU_STATUS_BAD_ARG);
}

TEST_F(FieldAccess, TheIteratorVisitsEveryTopLevelTlvWithItsEntry) {
    const Bytes enc = sample();
    tlvu_field_itr_t itr;
    ASSERT_EQ(tlvu_field_itr_init(&itr, enc.data(), enc.size(), outer_tbl(), 0,
                                  0),
              TLVU_STATUS_OK);
    const tlvu_field_t *f = nullptr;
    const void *value = nullptr;
    uint32_t len = 0;
    std::vector<uint32_t> types, lens;
    std::vector<const tlvu_field_t *> fields;
    while (tlvu_field_itr_get_next(&itr, &f, &value, &len) == TLVU_STATUS_OK) {
        fields.push_back(f);
        types.push_back(f != nullptr ? f->tlv_type : 0);
        lens.push_back(len);
    }
    EXPECT_EQ(types, (std::vector<uint32_t>{1, 2, 0, 3, 4, 4, 1}));
    EXPECT_EQ(lens, (std::vector<uint32_t>{4, 24, 1, 4, 28, 28, 4}));
    ASSERT_EQ(fields.size(), 7u);
    EXPECT_EQ(fields[2], nullptr) << "type 999 is not in the table";
    EXPECT_EQ(fields[1], &outer_desc.f[1]);
    EXPECT_EQ(fields[4], &outer_desc.f[3]);
    EXPECT_EQ(tlvu_field_itr_get_next(&itr, &f, &value, &len),
              TLVU_STATUS_NOT_FOUND)
        << "the end stays the end";
}

TEST_F(FieldAccess, TheIteratorHandsOutValuesInsideTheEncoding) {
    const Bytes enc = sample();
    tlvu_field_itr_t itr;
    ASSERT_EQ(tlvu_field_itr_init(&itr, enc.data(), enc.size(), outer_tbl(), 3,
                                  0),
              TLVU_STATUS_OK);
    const tlvu_field_t *f = nullptr;
    const void *value = nullptr;
    uint32_t len = 0;
    ASSERT_EQ(tlvu_field_itr_get_next(&itr, &f, &value, &len), TLVU_STATUS_OK);
    uint32_t count = 0;
    std::memcpy(&count, value, sizeof count);
    EXPECT_EQ(count, 2u);
    EXPECT_GE(static_cast<const uint8_t *>(value), enc.data());
    EXPECT_LE(static_cast<const uint8_t *>(value) + len,
              enc.data() + enc.size());
}

TEST_F(FieldAccess, AFilteredIteratorVisitsOnlyTlvsOfThatType) {
    const Bytes enc = sample();
    tlvu_field_itr_t itr;
    ASSERT_EQ(tlvu_field_itr_init(&itr, enc.data(), 0, outer_tbl(), 4, 0),
              TLVU_STATUS_OK);
    const tlvu_field_t *f = nullptr;
    const void *value = nullptr;
    uint32_t len = 0;
    int seen = 0;
    while (tlvu_field_itr_get_next(&itr, &f, &value, &len) == TLVU_STATUS_OK) {
        EXPECT_EQ(f, &outer_desc.f[3]);
        ++seen;
    }
    EXPECT_EQ(seen, 2);
}

TEST_F(FieldAccess, AnIteratorOverAnEmptyArrayEndsAtOnce) {
    const Bytes enc = be32(0);
    tlvu_field_itr_t itr;
    ASSERT_EQ(tlvu_field_itr_init(&itr, enc.data(), 4, point_tbl(), 0, 0),
              TLVU_STATUS_OK);
    const tlvu_field_t *f = nullptr;
    const void *value = nullptr;
    uint32_t len = 0;
    EXPECT_EQ(tlvu_field_itr_get_next(&itr, &f, &value, &len),
              TLVU_STATUS_NOT_FOUND);
}

TEST_F(FieldAccess, AnIteratorIsRefusedForAMalformedArrayAndThenYieldsNothing) {
    const Bytes enc = sample();
    for (size_t n = 1; n < enc.size(); ++n) {
        ExactCopy cut(enc, n);
        tlvu_field_itr_t itr;
        EXPECT_EQ(tlvu_field_itr_init(&itr, cut.p, n, outer_tbl(), 0, 0),
                  TLVU_STATUS_MALFORMED)
            << n << " bytes";
        const tlvu_field_t *f = nullptr;
        const void *value = nullptr;
        uint32_t len = 0;
        EXPECT_EQ(tlvu_field_itr_get_next(&itr, &f, &value, &len),
                  TLVU_STATUS_NOT_FOUND);
    }
}

TEST_F(FieldAccess, AnIteratorRefusesBadArguments) {
    const Bytes enc = sample();
    tlvu_field_itr_t itr;
    EXPECT_EQ(tlvu_field_itr_init(&itr, enc.data(), 0, outer_tbl(), 0, 1),
              TLVU_STATUS_BAD_ARG)
        << "nonzero flags";
    EXPECT_EQ(tlvu_field_itr_init(nullptr, enc.data(), 0, outer_tbl(), 0, 0),
              TLVU_STATUS_BAD_ARG);
    EXPECT_EQ(tlvu_field_itr_init(&itr, nullptr, 0, outer_tbl(), 0, 0),
              TLVU_STATUS_BAD_ARG);
    EXPECT_EQ(tlvu_field_itr_init(&itr, enc.data(), 0, nullptr, 0, 0),
              TLVU_STATUS_BAD_ARG);
    ASSERT_EQ(tlvu_field_itr_init(&itr, enc.data(), 0, outer_tbl(), 0, 0),
              TLVU_STATUS_OK);
    const tlvu_field_t *f = nullptr;
    const void *value = nullptr;
    uint32_t len = 0;
    EXPECT_EQ(tlvu_field_itr_get_next(nullptr, &f, &value, &len),
              TLVU_STATUS_BAD_ARG);
    EXPECT_EQ(tlvu_field_itr_get_next(&itr, nullptr, &value, &len),
              TLVU_STATUS_BAD_ARG);
}

TEST_F(FieldAccess, AnIteratorWhoseBoundsWereTamperedWithReadsNoFurther) {
    const Bytes enc = array({tlv(1, host<uint32_t>(1))});
    tlvu_field_itr_t itr;
    ASSERT_EQ(tlvu_field_itr_init(&itr, enc.data(), enc.size(), outer_tbl(), 0,
                                  0),
              TLVU_STATUS_OK);
    itr.end -= 1; // the TLV no longer fits
    const tlvu_field_t *f = nullptr;
    const void *value = nullptr;
    uint32_t len = 0;
    EXPECT_EQ(tlvu_field_itr_get_next(&itr, &f, &value, &len),
              TLVU_STATUS_MALFORMED);
}

TEST(TlvErrorPrint, FormatsToStandardError) {
    testing::internal::CaptureStderr();
    tlvu_error_print("%s: ERR 0x%x\n", "ostrel_api_dst_get_struct_sz",
                     0x41050002u);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "ostrel_api_dst_get_struct_sz: ERR 0x41050002\n");
}
