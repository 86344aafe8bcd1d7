// TLV arrays: exact bytes of appends, refusals that change nothing, and a
// reader that takes only whole TLVs inside the length in the array header.
// Then descriptors no table operation may run.
#include <gtest/gtest.h>

#include <array>
#include <utility>

#include "ostrelapi.h"
#include "tlv_bytes.h"
#include "tlvu.h"

using namespace ostrel_test;
namespace {
constexpr uint32_t kMalformed = TLVU_STATUS_MALFORMED;
constexpr uint32_t kTooSmall = TLVU_STATUS_TOO_SMALL;
constexpr uint32_t kBadTable = TLVU_STATUS_BAD_TABLE;
} // namespace

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

namespace {
template <int N> struct Desc {
    tlvu_table_t hdr;
    tlvu_field_t f[N + 1]; // the last one is kEnd
};
constexpr tlvu_field_t field(uint32_t kind, uint32_t type, uint32_t size,
                             uint32_t offset, const tlvu_table_t *sub = nullptr,
                             tlvu_get_count_fn count = nullptr) {
    const uint32_t end = kind == TLVU_KIND_END ? TLVU_END_WORD : 0;
    const uint32_t value_size = kind == TLVU_KIND_ARRAY ? 0 : size;
    return {type,    size,  offset, kind,       nullptr,       nullptr,
            nullptr, count, end,    value_size, TLVU_END_WORD, sub};
}
constexpr tlvu_field_t kEnd = field(0, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF);
const Desc<1> past_record = {{4, "past the record", 0, 0},
                             {field(TLVU_KIND_PLAIN, 1, 4, 2), kEnd}};
const Desc<1> no_functions = {{4, "custom without functions", 0, 0},
                              {field(TLVU_KIND_CUSTOM, 1, 4, 0), kEnd}};
const Desc<1> small_element = {
    {4, "element smaller than its record", 0, 0},
    {field(TLVU_KIND_ARRAY, 1, 4, 4, &ostrel_api_plcy_tbl,
           [](const void *) { return 1u; }),
     kEnd}};
extern const Desc<1> nests_itself;
const Desc<1> nests_itself = {
    {8, "nests itself", 0, 0},
    {field(TLVU_KIND_PLAIN, 1, 8, 0, &nests_itself.hdr), kEnd}};
// A caller's descriptor in writable memory, alone and under a constant one.
Desc<1> writable = {{4, "writable", 0, 0}, {field(1, 1, 4, 0), kEnd}};
const Desc<1> nests_writable = {{4, "nests a writable one", 0, 0},
                                {field(1, 2, 4, 0, &writable.hdr), kEnd}};
} // namespace

TEST(TlvTable, ADescriptorFoundValidIsCheckedAgainAfterAChangeInPlace) {
    const Bytes rec(4, 0);
    for (const tlvu_table_t *tbl :
         {&std::as_const(writable).hdr, &nests_writable.hdr}) {
        writable.f[0].offset = 0;
        EXPECT_NE(tlvu_table_size(tbl, rec.data()), 0u) << tbl->name;
        writable.f[0].offset = 2; // now runs past the record
        EXPECT_EQ(tlvu_table_size(tbl, rec.data()), 0u) << tbl->name;
    }
}

TEST(TlvTable, EveryOperationRefusesABrokenDescriptor) {
    Bytes rec(64, 0);
    const Bytes enc = array({tlv(1, host(1u))});
    for (const tlvu_table_t *tbl : {&past_record.hdr, &no_functions.hdr,
                                    &small_element.hdr, &nests_itself.hdr}) {
        uint8_t *buf = nullptr;
        uint32_t len = 0, err_type = 0, v = 0;
        EXPECT_EQ(tlvu_table_convert_struct_to_tlv(&buf, &len, tbl, rec.data(),
                                                   0, &err_type, 0),
                  kBadTable)
            << tbl->name;
        EXPECT_EQ(buf, nullptr);
        EXPECT_EQ(tlvu_table_convert_tlv_to_struct(enc.data(), 0, rec.data(),
                                                   tbl, 64),
                  kBadTable);
        EXPECT_EQ(tlvu_get_field(enc.data(), 0, 1, &v, 4, tbl), kBadTable);
    }
    EXPECT_EQ(rec, Bytes(64, 0));
}

TEST(TlvTable, LimitsOfADescriptorAndOfWhatItEncodes) {
    static Desc<257> d; // fields 8 bytes apart, the first `arrays` arrays
    d.hdr = {8 * 257, "at the limits", 0, 0};
    const Bytes rec(8 * 257, 0);
    const auto no_elements = [](const void *) { return 0u; };
    for (const auto [entries, arrays, runs] :
         {std::array{256u, 8u, 1u}, {257u, 0u, 0u}, {9u, 9u, 0u}}) {
        for (uint32_t i = 0; i <= 256; ++i)
            d.f[i] = i >= entries ? kEnd
                     : i < arrays ? field(TLVU_KIND_ARRAY, i + 1, 8, 8 * i,
                                          &ostrel_api_plcy_tbl, no_elements)
                                  : field(TLVU_KIND_PLAIN, i + 1, 1, 8 * i);
        EXPECT_EQ(tlvu_table_size(&d.hdr, rec.data()) != 0, runs == 1)
            << entries << " entries, " << arrays << " arrays";
    }
    // A custom value of 0x10000 bytes, and records of more than 4 GiB.
    d.f[0] = field(TLVU_KIND_CUSTOM, 7, 8, 0);
    d.f[0].struct_to_tlv = ostrel_api_ace_fltr_struct_to_tlv;
    d.f[0].tlv_to_struct = ostrel_api_ace_fltr_tlv_to_struct;
    d.f[0].get_tlv_data_sz = [](const void *) { return 0x10000u; };
    d.f[1] = field(TLVU_KIND_ARRAY, 8, 0x80000000u, 0, &ostrel_api_plcy_tbl,
                   no_elements);
    d.f[2] = kEnd;
    uint8_t *buf = nullptr;
    uint32_t len = 0, err_type = 0, size = 0;
    EXPECT_EQ(tlvu_table_convert_struct_to_tlv(&buf, &len, &d.hdr, rec.data(),
                                               0, &err_type, 0),
              TLVU_STATUS_TOO_LARGE);
    EXPECT_EQ(err_type, 7u);
    const Bytes two = array({tlv(8, {}), tlv(8, {})});
    EXPECT_EQ(tlvu_table_get_struct_size_from_tlv(&size, two.data(), 0, &d.hdr),
              TLVU_STATUS_TOO_LARGE);
    EXPECT_EQ(
        tlvu_table_get_struct_size_from_tlv(&size, two.data(), 11, &d.hdr),
        kMalformed); // the header claims more than the 11 bytes there
    const Bytes one = array({tlv(8, {})});
    EXPECT_EQ(tlvu_table_get_struct_size_from_tlv(&size, one.data(), 0, &d.hdr),
              0u);
    EXPECT_EQ(size, 8 * 257 + 0x80000000u);
}
