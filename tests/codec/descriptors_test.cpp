// The exported descriptors hold the words a round trip cannot see: the
// record's name, zero and all-ones reserved words, value sizes, and an end
// entry right behind the fields. Built twice: against the static library,
// and as an executable reading the shared library's objects, which may be
// copies made at load time, so the exported symbols must cover the whole
// descriptor (header and entries), not only the header.
#include <gtest/gtest.h>

#include <string>

#include "record_ops.h"

namespace ostrel_test {
namespace {

TEST(Descriptors, EveryEntryCarriesItsReservedWordsAndValueSize) {
    for (const RecordOps &ops : kRecords) {
        SCOPED_TRACE(ops.name);
        EXPECT_EQ(ops.tbl->name, "ostrel_api_" + std::string(ops.name) + "_t");
        EXPECT_EQ(ops.tbl->reserved8 | ops.tbl->reserved12, 0u);
        const tlvu_field_t *f = fields_of(ops.tbl);
        for (; f->kind != TLVU_KIND_END; ++f) {
            EXPECT_EQ(f->reserved32, 0u) << f->tlv_type;
            EXPECT_EQ(f->reserved40, TLVU_END_WORD) << f->tlv_type;
            EXPECT_EQ(f->value_size, f->kind == TLVU_KIND_ARRAY ? 0 : f->size);
            ASSERT_LT(f - fields_of(ops.tbl), 8) << "no end entry in sight";
        }
        for (uint32_t word : {f->tlv_type, f->size, f->offset, f->reserved32,
                              f->value_size, f->reserved40})
            EXPECT_EQ(word, TLVU_END_WORD) << "end entry";
        EXPECT_TRUE(!f->struct_to_tlv && !f->tlv_to_struct &&
                    !f->get_tlv_data_sz && !f->get_count && !f->sub_table);
    }
}

} // namespace
} // namespace ostrel_test
