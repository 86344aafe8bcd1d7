// Our table operations run the library's own descriptors (src/codec): a
// policy update request with ACEs, whose ACE parts go through the
// hand-written filter and action codecs, survives a round trip, and its
// encoding has the shape docs/tlv-wire-format.md describes.
#include "tlv_table_fixture.h"

using namespace tlvtest;

namespace {

using RealTables = TlvTable;

RecordBuffer request_with_aces(uint32_t n) {
    RecordBuffer r(OSTREL_PLCY_UPDATE_REQ_SIZE(n));
    auto *req = r.as<ostrel_api_plcy_update_req_t>();
    req->plcy = {1, 2};
    req->dst = {4, 5, 6, 7};
    req->num_aces = n;
    for (uint32_t i = 0; i < n; ++i) {
        ostrel_api_ace_t &ace = req->aces[i];
        ace.fltr.fltr_tlv8 = 800 + i;
        if (i % 2 == 0) {
            ace.fltr.fltr_flags = OSTREL_FLTR_FLAG_PRESENT;
            ace.fltr.fltr_qualifier = static_cast<uint16_t>(900 + i);
            for (int b = 0; b < 6; ++b) {
                ace.fltr.fltr_addr1[b] = static_cast<uint8_t>(0x10 + b + i);
                ace.fltr.fltr_addr2[b] = static_cast<uint8_t>(0x20 + b);
                ace.fltr.fltr_addr3[b] = static_cast<uint8_t>(0x30 + b);
                ace.fltr.fltr_addr4[b] = static_cast<uint8_t>(0x40 + b);
            }
        }
        ace.actn.actn_flags = i % 4;
        ace.actn.actn_tlv10 = (i & 1) ? 1000 + i : 0;
        ace.actn.actn_tlv11 = (i & 2) ? 1100 + i : 0;
    }
    return r;
}

} // namespace

TEST_F(RealTables, APolicyUpdateRequestWithAcesRoundTrips) {
    for (uint32_t n : {0u, 1u, 2u, 7u}) {
        RecordBuffer original = request_with_aces(n);
        const Bytes enc = encode(&ostrel_api_plcy_update_req_tbl,
                                 original.bytes());
        ASSERT_FALSE(enc.empty()) << n << " ACEs";
        EXPECT_EQ(enc.size(), tlvu_table_size(&ostrel_api_plcy_update_req_tbl,
                                              original.bytes()));

        uint32_t size = 0;
        ASSERT_EQ(tlvu_table_get_struct_size_from_tlv(
                      &size, enc.data(), 0, &ostrel_api_plcy_update_req_tbl),
                  TLVU_STATUS_OK);
        EXPECT_EQ(size, OSTREL_PLCY_UPDATE_REQ_SIZE(n));

        RecordBuffer decoded(size);
        ASSERT_EQ(tlvu_table_convert_tlv_to_struct(
                      enc.data(), enc.size(), decoded.bytes(),
                      &ostrel_api_plcy_update_req_tbl, size),
                  TLVU_STATUS_OK)
            << n << " ACEs";
        EXPECT_EQ(decoded.contents(), original.contents()) << n << " ACEs";
        EXPECT_TRUE(decoded.guard_intact());
    }
}

TEST_F(RealTables, ARequestIsItsNestedPartsThenTheCountThenOneTlvPerAce) {
    RecordBuffer r = request_with_aces(1);
    const Bytes enc = encode(&ostrel_api_plcy_update_req_tbl, r.bytes());
    // The ACE: filter with bit 0 (TLVs 8, 9, 19-22), action with no bits.
    const Bytes fltr = array({tlv(8, host<uint32_t>(800)),
                              tlv(9, host<uint16_t>(900)),
                              tlv(19, {0x10, 0x11, 0x12, 0x13, 0x14, 0x15}),
                              tlv(20, {0x20, 0x21, 0x22, 0x23, 0x24, 0x25}),
                              tlv(21, {0x30, 0x31, 0x32, 0x33, 0x34, 0x35}),
                              tlv(22, {0x40, 0x41, 0x42, 0x43, 0x44, 0x45})});
    EXPECT_EQ(enc, array({tlv(12, array({tlv(1, host<uint32_t>(1)),
                                         tlv(2, host<uint32_t>(2))})),
                          tlv(13, array({tlv(4, host<uint32_t>(4)),
                                         tlv(5, host<uint16_t>(5)),
                                         tlv(6, host<uint16_t>(6)),
                                         tlv(7, host<uint32_t>(7))})),
                          tlv(16, host<uint32_t>(1)),
                          tlv(17, array({tlv(14, fltr), tlv(15, be32(0))}))}));
}

TEST_F(RealTables, AFailingAceEncoderAllocationBlamesTheFilterAndLeaksNothing) {
    RecordBuffer r = request_with_aces(2);
    uint8_t *buf = nullptr;
    uint32_t len = 0, err = 0;
    const long live = sim::live_allocations();
    sim::fail_allocation(2); // ours first, then the first filter encoder's
    const uint32_t status = tlvu_table_convert_struct_to_tlv(
        &buf, &len, &ostrel_api_plcy_update_req_tbl, r.bytes(), 0, &err, 0);
    sim::fail_allocation(0);
    EXPECT_EQ(status, OSTREL_STATUS_NO_ENTRY);
    EXPECT_EQ(err, 14u);
    EXPECT_EQ(buf, nullptr);
    EXPECT_EQ(sim::live_allocations(), live);
}
