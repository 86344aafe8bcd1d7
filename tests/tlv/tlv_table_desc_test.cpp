// Descriptors that cannot be run are refused by every table operation
// with TLVU_STATUS_BAD_TABLE, before any record or byte is touched.
#include "tlv_table_fixture.h"

using namespace tlvtest;

namespace {

using TableDescriptor = TlvTable;

uint32_t count_one(const void *) { return 1; }

const Desc<1> type_zero = {{4, "T0", 0, 0}, {plain(0, 4, 0), kEnd}};
const Desc<1> type_too_big = {{4, "T1", 0, 0}, {plain(0x10000, 4, 0), kEnd}};
const Desc<1> outside_record = {{4, "T2", 0, 0}, {plain(1, 4, 2), kEnd}};
const Desc<1> unknown_kind = {
    {4, "T3", 0, 0},
    {{1, 4, 0, 7, nullptr, nullptr, nullptr, nullptr, 0, 4, TLVU_END_WORD,
      nullptr},
     kEnd}};
const Desc<1> custom_without_functions = {
    {4, "T4", 0, 0}, {custom(1, 4, 0, nullptr, nullptr, nullptr), kEnd}};
const Desc<1> array_without_count = {
    {4, "T5", 0, 0}, {array(1, 8, 4, nullptr, &point_desc.hdr), kEnd}};
const Desc<1> array_without_element = {
    {4, "T6", 0, 0}, {array(1, 8, 4, count_one, nullptr), kEnd}};
const Desc<1> element_smaller_than_record = {
    {4, "T7", 0, 0}, {array(1, 4, 4, count_one, &point_desc.hdr), kEnd}};
const Desc<1> nested_smaller_than_record = {
    {8, "T8", 0, 0}, {plain(1, 4, 0, &point_desc.hdr), kEnd}};
const Desc<1> plain_over_0xffff = {{0x10000, "T9", 0, 0},
                                   {plain(1, 0x10000, 0), kEnd}};
extern const Desc<1> refers_to_itself;
const Desc<1> refers_to_itself = {
    {8, "T10", 0, 0}, {plain(1, 8, 0, &refers_to_itself.hdr), kEnd}};
const Desc<1> refers_to_a_broken_table = {
    {8, "T11", 0, 0}, {plain(1, 8, 0, &unknown_kind.hdr), kEnd}};

struct Case {
    const char *what;
    const tlvu_table_t *tbl;
};
const Case kBroken[] = {
    {"a field of TLV type 0", &type_zero.hdr},
    {"a field of TLV type above 0xFFFF", &type_too_big.hdr},
    {"a field that runs past the record", &outside_record.hdr},
    {"an unknown kind", &unknown_kind.hdr},
    {"a custom field without its functions", &custom_without_functions.hdr},
    {"an array without a count function", &array_without_count.hdr},
    {"an array without an element descriptor", &array_without_element.hdr},
    {"array elements smaller than their record",
     &element_smaller_than_record.hdr},
    {"a nested field smaller than its record",
     &nested_smaller_than_record.hdr},
    {"a plain field wider than a TLV value", &plain_over_0xffff.hdr},
    {"a table nested in itself", &refers_to_itself.hdr},
    {"a table nesting a broken one", &refers_to_a_broken_table.hdr},
};

} // namespace

TEST_F(TableDescriptor, EveryOperationRefusesABrokenDescriptor) {
    RecordBuffer rec(0x10000, 0);
    const Bytes enc = array({tlv(1, host<uint32_t>(1))});
    for (const Case &c : kBroken) {
        uint8_t *buf = nullptr;
        uint32_t len = 0, err = 0, size = 0;
        EXPECT_EQ(tlvu_table_convert_struct_to_tlv(&buf, &len, c.tbl,
                                                   rec.bytes(), 0, &err, 0),
                  TLVU_STATUS_BAD_TABLE)
            << c.what;
        EXPECT_EQ(buf, nullptr) << c.what;
        EXPECT_EQ(tlvu_table_size(c.tbl, rec.bytes()), 0u) << c.what;
        EXPECT_EQ(tlvu_table_convert_tlv_to_struct(enc.data(), enc.size(),
                                                   rec.bytes(), c.tbl,
                                                   rec.size()),
                  TLVU_STATUS_BAD_TABLE)
            << c.what;
        EXPECT_EQ(tlvu_table_get_struct_size_from_tlv(&size, enc.data(),
                                                      enc.size(), c.tbl),
                  TLVU_STATUS_BAD_TABLE)
            << c.what;
        uint32_t v = 0;
        EXPECT_EQ(tlvu_get_field(enc.data(), enc.size(), 1, &v, 4, c.tbl),
                  TLVU_STATUS_BAD_TABLE)
            << c.what;
        tlvu_field_itr_t itr;
        EXPECT_EQ(tlvu_field_itr_init(&itr, enc.data(), enc.size(), c.tbl, 0, 0),
                  TLVU_STATUS_BAD_TABLE)
            << c.what;
    }
    EXPECT_TRUE(rec.contents() == Bytes(rec.size(), 0));
}

TEST_F(TableDescriptor, TheEntriesFollowTheHeaderDirectly) {
    // The library finds the entries at (const tlvu_field_t *)(tbl + 1): the
    // descriptor objects must have no padding between header and entries.
    EXPECT_EQ(offsetof(Desc<3>, f), sizeof(tlvu_table_t));
    EXPECT_EQ(reinterpret_cast<const void *>(point_tbl() + 1),
              static_cast<const void *>(&point_desc.f[0]));
}

TEST_F(TableDescriptor, ATableWithOnlyTheEndEntryEncodesAnEmptyArray) {
    static const Desc<0> empty = {{4, "Empty", 0, 0}, {kEnd}};
    const uint32_t rec = 0;
    EXPECT_EQ(encode(&empty.hdr, &rec), be32(0));
    EXPECT_EQ(tlvu_table_size(&empty.hdr, &rec), 4u);
}
