// The five exported descriptors (Part 2.4), word by word: each symbol is a
// header with its field entries and the end entry right behind it. Names,
// reserved words, value sizes and end entries are checked here because a
// round trip would not notice them.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ostrelapi.h"

namespace {

// The entries of a descriptor, where the TLV utility library finds them.
// Not inlined, so that the compiler reasons about the exported object only
// through its address, as the library does.
[[gnu::noinline]] const tlvu_field_t *entries_of(const tlvu_table_t &tbl) {
    return reinterpret_cast<const tlvu_field_t *>(&tbl + 1);
}

struct Entry {
    uint32_t tlv_type, size, offset, kind;
    tlvu_struct_to_tlv_fn struct_to_tlv;
    tlvu_tlv_to_struct_fn tlv_to_struct;
    tlvu_get_tlv_data_sz_fn get_tlv_data_sz;
    tlvu_get_count_fn get_count;
    uint32_t reserved32, value_size, reserved40;
    const tlvu_table_t *sub_table;
};

Entry plain(uint32_t type, uint32_t size, uint32_t offset,
            const tlvu_table_t *sub = nullptr) {
    return {type,    size,    offset, 1,    nullptr,    nullptr,
            nullptr, nullptr, 0,      size, 0xFFFFFFFF, sub};
}

const Entry kEnd = {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0,
                    nullptr,    nullptr,    nullptr,    nullptr,
                    0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, nullptr};

struct Expected {
    const char *symbol;
    const tlvu_table_t *tbl;
    uint32_t struct_size;
    const char *name;
    std::vector<Entry> fields; // the end entry follows them
};

std::vector<Expected> expected_descriptors() {
    return {
        {"ostrel_api_plcy_tbl",
         &ostrel_api_plcy_tbl,
         8,
         "ostrel_api_plcy_t",
         {plain(1, 4, 0), plain(2, 4, 4)}},
        {"ostrel_api_dst_tbl",
         &ostrel_api_dst_tbl,
         12,
         "ostrel_api_dst_t",
         {plain(4, 4, 0), plain(5, 2, 4), plain(6, 2, 6), plain(7, 4, 8)}},
        {"ostrel_api_plcy_update_req_tbl",
         &ostrel_api_plcy_update_req_tbl,
         24,
         "ostrel_api_plcy_update_req_t",
         {plain(12, 8, 0, &ostrel_api_plcy_tbl),
          plain(13, 12, 8, &ostrel_api_dst_tbl),
          plain(16, 4, 20),
          {17, 64, 24, 5, nullptr, nullptr, nullptr, ostrel_api_get_num_aces, 0,
           0, 0xFFFFFFFF, &ostrel_api_ace_tbl}}},
        {"ostrel_api_ace_tbl",
         &ostrel_api_ace_tbl,
         64,
         "ostrel_api_ace_t",
         {{14, 48, 0, 9, ostrel_api_ace_fltr_struct_to_tlv,
           ostrel_api_ace_fltr_tlv_to_struct,
           ostrel_api_ace_fltr_get_tlv_data_sz, nullptr, 0, 48, 0xFFFFFFFF,
           nullptr},
          {15, 16, 48, 9, ostrel_api_ace_actn_struct_to_tlv,
           ostrel_api_ace_actn_tlv_to_struct,
           ostrel_api_ace_actn_get_tlv_data_sz, nullptr, 0, 16, 0xFFFFFFFF,
           nullptr}}},
        {"ostrel_api_plcy_update_resp_tbl",
         &ostrel_api_plcy_update_resp_tbl,
         4,
         "ostrel_api_plcy_update_resp_t",
         {plain(18, 4, 0)}},
    };
}

void expect_entry(const tlvu_field_t &got, const Entry &want,
                  const std::string &where) {
    SCOPED_TRACE(where);
    EXPECT_EQ(got.tlv_type, want.tlv_type);
    EXPECT_EQ(got.size, want.size);
    EXPECT_EQ(got.offset, want.offset);
    EXPECT_EQ(got.kind, want.kind);
    EXPECT_EQ(got.struct_to_tlv, want.struct_to_tlv);
    EXPECT_EQ(got.tlv_to_struct, want.tlv_to_struct);
    EXPECT_EQ(got.get_tlv_data_sz, want.get_tlv_data_sz);
    EXPECT_EQ(got.get_count, want.get_count);
    EXPECT_EQ(got.reserved32, want.reserved32);
    EXPECT_EQ(got.value_size, want.value_size);
    EXPECT_EQ(got.reserved40, want.reserved40);
    EXPECT_EQ(got.sub_table, want.sub_table);
}

TEST(Descriptors, HeadersCarryTheRecordSizeTheNameAndTwoZeroWords) {
    for (const Expected &d : expected_descriptors()) {
        SCOPED_TRACE(d.symbol);
        EXPECT_EQ(d.tbl->struct_size, d.struct_size);
        ASSERT_NE(d.tbl->name, nullptr);
        EXPECT_STREQ(d.tbl->name, d.name);
        EXPECT_EQ(d.tbl->reserved8, 0u);
        EXPECT_EQ(d.tbl->reserved12, 0u);
    }
}

TEST(Descriptors, EntriesFollowTheHeaderWithEveryDocumentedWord) {
    for (const Expected &d : expected_descriptors()) {
        const tlvu_field_t *e = entries_of(*d.tbl);
        for (size_t i = 0; i < d.fields.size(); ++i) {
            expect_entry(e[i], d.fields[i],
                         std::string(d.symbol) + " entry " + std::to_string(i));
        }
    }
}

TEST(Descriptors, EachEndsWithTheEndEntryRightAfterItsFields) {
    for (const Expected &d : expected_descriptors()) {
        const tlvu_field_t *e = entries_of(*d.tbl);
        expect_entry(e[d.fields.size()], kEnd,
                     std::string(d.symbol) + " end entry");
        size_t n = 0;
        while (e[n].kind != TLVU_KIND_END) {
            ++n;
        }
        EXPECT_EQ(n, d.fields.size()) << d.symbol;
    }
}

TEST(Descriptors, EveryFieldEntryHasReservedWordsZeroAndAllOnes) {
    for (const Expected &d : expected_descriptors()) {
        const tlvu_field_t *e = entries_of(*d.tbl);
        for (size_t i = 0; e[i].kind != TLVU_KIND_END; ++i) {
            EXPECT_EQ(e[i].reserved32, 0u) << d.symbol << " entry " << i;
            EXPECT_EQ(e[i].reserved40, 0xFFFFFFFFu)
                << d.symbol << " entry " << i;
            EXPECT_EQ(e[i].value_size,
                      e[i].kind == TLVU_KIND_ARRAY ? 0u : e[i].size)
                << d.symbol << " entry " << i;
        }
    }
}

TEST(Descriptors, NoDescriptorUsesTlvTypeThree) {
    for (const Expected &d : expected_descriptors()) {
        const tlvu_field_t *e = entries_of(*d.tbl);
        for (size_t i = 0; e[i].kind != TLVU_KIND_END; ++i) {
            EXPECT_NE(e[i].tlv_type, 3u) << d.symbol;
        }
    }
}

TEST(Descriptors, TheRequestArrayCountsTheStoredNumberOfAces) {
    const tlvu_field_t &aces = entries_of(ostrel_api_plcy_update_req_tbl)[3];
    ASSERT_EQ(aces.kind, TLVU_KIND_ARRAY);
    ostrel_api_plcy_update_req_t req;
    std::memset(&req, 0, sizeof req);
    req.num_aces = 7;
    EXPECT_EQ(aces.get_count(&req), 7u);
}

TEST(Descriptors, FieldsTileTheirRecordsInRecordOrder) {
    for (const Expected &d : expected_descriptors()) {
        const tlvu_field_t *e = entries_of(*d.tbl);
        uint32_t end = 0;
        for (size_t i = 0; e[i].kind != TLVU_KIND_END; ++i) {
            if (e[i].kind == TLVU_KIND_ARRAY) {
                EXPECT_EQ(e[i].offset, d.tbl->struct_size) << d.symbol;
                continue;
            }
            EXPECT_EQ(e[i].offset, end) << d.symbol << " entry " << i;
            end = e[i].offset + e[i].size;
        }
        EXPECT_EQ(end, d.tbl->struct_size) << d.symbol;
    }
}

} // namespace
