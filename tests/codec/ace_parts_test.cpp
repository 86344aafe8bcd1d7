// The ACE filter and action codecs on their own (their sizes and bytes are
// in the golden encodings): refusals, and what a decoder stores of each
// kind of TLV it is given.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

#include "heap_checked.h"
#include "samples.h"
#include "sim_platform.hpp"

namespace ostrel_test {
namespace {

using Decoder = uint32_t (*)(void *, const uint8_t *, uint32_t, uint32_t);
const Decoder kFltr = ostrel_api_ace_fltr_tlv_to_struct,
              kActn = ostrel_api_ace_actn_tlv_to_struct;

using AceParts = HeapChecked;

// One decode into a patterned record: the record's change is `change`.
struct DecodeCase {
    const char *what;
    Decoder dec;
    Bytes arr;
    std::function<void(ostrel_api_ace_t &)> change;
    uint32_t readable = 0; // 0: the array's own length
};

ostrel_api_ace_t patterned() {
    ostrel_api_ace_t a;
    std::memset(&a, 0xa5, sizeof a);
    a.fltr.fltr_flags = 0xf0;
    a.actn.actn_flags = 0x100;
    return a;
}

TEST_F(AceParts, DecodersStoreExactlyTheirOwnTlvsOfTheRightWidth) {
    const Bytes u16 = host(uint16_t{0x1234}), u32 = host(0xcafef00du);
    const Bytes full = unhex(GOLDEN_FLTR);
    const DecodeCase cases[] = {
        {"a whole filter adds bit 0", kFltr, full,
         [](auto &a) {
             const ostrel_api_ace_t s = sample_ace(0xf1, 0);
             a.fltr.fltr_tlv8 = s.fltr.fltr_tlv8, a.fltr.fltr_flags = 0xf1;
             std::memcpy(&a.fltr.fltr_qualifier, &s.fltr.fltr_qualifier,
                         2 + 4 * 6); // and the four addresses behind it
         }},
        {"the later of two", kFltr, array({tlv(8, host(1u)), tlv(8, host(2u))}),
         [](auto &a) { a.fltr.fltr_tlv8 = 2; }},
        {"TLVs 10 and 11 add bits 0 and 1", kActn,
         array({tlv(11, u32), tlv(10, host(7u))}),
         [](auto &a) {
             a.actn.actn_tlv11 = 0xcafef00d, a.actn.actn_tlv10 = 7,
             a.actn.actn_flags = 0x103;
         }},
        {"a wrong width does not stop the next", kFltr,
         array({tlv(9, Bytes(3, 7)), tlv(8, u32)}),
         [](auto &a) { a.fltr.fltr_tlv8 = 0xcafef00d; }},
        {"cut short of its own length", kFltr, full, [](auto &) {}, 57},
        {"a TLV past the body", kActn,
         cat({be(6, 4), be(10, 2), be(4, 2), u16}), [](auto &) {}},
        {"a partial TLV behind a whole one", kFltr,
         cat({be(10, 4), tlv(8, u32), be(9, 2)}), [](auto &) {}},
    };
    for (const DecodeCase &c : cases) {
        ostrel_api_ace_t ace = patterned(), want = patterned();
        c.change(want);
        const uint32_t n = c.readable ? c.readable : uint32_t(c.arr.size());
        EXPECT_EQ(c.dec(&ace, c.arr.data(), n, 0), 0u) << c.what;
        EXPECT_EQ(hex(host(ace)), hex(host(want))) << c.what;
    }
}

TEST_F(AceParts, DecodersSkipForeignTypesWrongWidthsAndRefuseNulls) {
    const struct {
        uint16_t type, width;
    } owned[] = {{8, 4},  {9, 2},  {19, 6}, {20, 6},
                 {21, 6}, {22, 6}, {10, 4}, {11, 4}};
    for (uint16_t type = 0; type <= 24; ++type) {
        for (uint16_t width = 0; width <= 8; ++width) {
            bool stores = false;
            for (const auto &o : owned)
                stores = stores || (o.type == type && o.width == width);
            const Bytes arr = array({tlv(type, Bytes(width, 0x3c))});
            ostrel_api_ace_t f = patterned(), a = patterned();
            EXPECT_EQ(kFltr(&f, arr.data(), 0, 0) + kActn(&a, arr.data(), 0, 0),
                      0u);
            const bool changed = hex(host(f)) != hex(host(patterned())) ||
                                 hex(host(a)) != hex(host(patterned()));
            EXPECT_EQ(changed, stores) << "type " << type << " width " << width;
        }
    }
    ostrel_api_ace_t ace = patterned();
    const Bytes arr = array({tlv(8, host(1u))});
    for (Decoder dec : {kFltr, kActn}) {
        EXPECT_EQ(dec(nullptr, arr.data(), 0, 0), OSTREL_STATUS_INVALID);
        EXPECT_EQ(dec(&ace, nullptr, 0, 0), OSTREL_STATUS_INVALID);
    }
    EXPECT_EQ(hex(host(ace)), hex(host(patterned())));
}

} // namespace
} // namespace ostrel_test
