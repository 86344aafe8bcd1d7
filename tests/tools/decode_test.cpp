// Wire decoder and service model of the tools: batches and policy updates
// read exactly, malformed input refused with its reason, never read past.
#include <cstring>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

#include "service_model.h"
#include "service_protocol.h"
#include "tlv/byte_order.h"
#include "wire_decode.h"
#include "yarl.h"

namespace {

using ::testing::HasSubstr;

using ostrel::tools::MessageKind;

void put32(std::vector<uint8_t> &b, size_t at, uint32_t v) {
    std::memcpy(b.data() + at, &v, 4);
}

// Appends a request as the builder lays it out, with `records` records:
// all but the last two are ACEs, then a closing and an end record.
void append_request(std::vector<uint8_t> &b, uint32_t op, uint16_t vlan,
                    uint32_t intf, uint32_t records, uint16_t qual) {
    size_t at = b.size();
    b.resize(at + OSTREL_PLCY_UPDATE_REQ_SIZE(records));
    const ostrel_api_plcy_update_req_t head{
        {op, 3}, {1, 1, vlan, intf}, records};
    std::memcpy(&b[at], &head, sizeof head);
    for (uint32_t k = 0; k < records; ++k) {
        ostrel_api_ace_t r{};
        bool end = k + 1 == records, close = k + 2 == records;
        r.fltr.fltr_tlv8 = end ? 1 : 3;
        r.fltr.fltr_flags = (end || close) ? 0 : 1;
        r.fltr.fltr_qualifier = end ? 0 : qual;
        if (!end && !close) {
            const uint8_t a1[6] = {0, 0x11, 0x22, 0x33, 0x44, uint8_t(k)};
            const uint8_t a2[6] = {0x66, 0x77, 0x88, 0x99, 0xaa, 0xbb};
            std::memcpy(r.fltr.fltr_addr1, a1, 6);
            std::memcpy(r.fltr.fltr_addr3, a2, 6);
        }
        r.actn.actn_flags = 1;
        r.actn.actn_tlv10 = (end || close) ? 0 : 1;
        std::memcpy(&b[at + 24 + 64 * k], &r, 64);
    }
}

std::vector<uint8_t> two_request_batch() {
    std::vector<uint8_t> b(8);
    put32(b, 0, 1);
    put32(b, 4, 2);
    append_request(b, 1, 10, 5, 3, 7);
    append_request(b, 2, 10, 6, 2, 0);
    return b;
}

std::string decode_error(const std::vector<uint8_t> &b) {
    std::string out, err;
    EXPECT_FALSE(ostrel::tools::decode_batch(b.data(), b.size(), &out, &err));
    EXPECT_TRUE(out.empty());
    return err;
}

TEST(BatchDecode, PrintsEveryRequestAndNamesRecordsByRole) {
    std::vector<uint8_t> b = two_request_batch();
    std::string out, err;
    ASSERT_TRUE(ostrel::tools::decode_batch(b.data(), b.size(), &out, &err));
    EXPECT_EQ(out, "batch of 376 bytes, word0 1, 2 requests\n"
                   "  request 1: install vlan 10 intf 5, 3 records\n"
                   "    [0] ace qual 7 addr1 00:11:22:33:44:00 addr2 "
                   "66:77:88:99:aa:bb\n"
                   "    [1] close qual 7\n"
                   "    [2] end\n"
                   "  request 2: remove vlan 10 intf 6, 2 records\n"
                   "    [0] close qual 0\n"
                   "    [1] end\n");
    b.resize(8); // a port channel without members: no request at all
    put32(b, 4, 0);
    out.clear();
    ASSERT_TRUE(ostrel::tools::decode_batch(b.data(), b.size(), &out, &err));
    EXPECT_EQ(out, "batch of 8 bytes, word0 1, 0 requests\n");
}

TEST(BatchDecode, UnusualRecordsAndHeadWordsAreShownFieldByField) {
    std::vector<uint8_t> b(8);
    put32(b, 4, 1);
    append_request(b, 7, 3, 4, 1, 0);
    put32(b, 8 + 4, 9);       // plcy_tlv2
    put32(b, 8 + 24 + 60, 5); // actn_tlv11 of the end record
    std::string out, err;
    ASSERT_TRUE(ostrel::tools::decode_batch(b.data(), b.size(), &out, &err));
    EXPECT_EQ(out, "batch of 96 bytes, word0 0, 1 request\n"
                   "  request 1: op 7 vlan 3 intf 4 (tlv2 9 tlv4 1 tlv5 1), "
                   "1 record\n"
                   "    [0] record tlv8 1 flags 0x0 qual 0 addr1 "
                   "00:00:00:00:00:00 addr2 00:00:00:00:00:00 addr3 "
                   "00:00:00:00:00:00 addr4 00:00:00:00:00:00 actn flags 0x1 "
                   "tlv10 0 tlv11 5\n");
}

TEST(BatchDecode, MalformedBatchesAreRefusedWithTheirReason) {
    std::vector<uint8_t> b = two_request_batch();
    EXPECT_EQ(decode_error({1, 0, 0, 0}),
              "batch of 4 bytes is shorter than its 8-byte head");
    std::vector<uint8_t> bad = b;
    put32(bad, 0, 2);
    EXPECT_EQ(decode_error(bad), "batch word 0 is 2, not 0 or 1");
    bad = b;
    put32(bad, 4, 0xffffffff);
    EXPECT_EQ(decode_error(bad), "batch claims 4294967295 requests, more "
                                 "than 376 bytes can hold");
    bad = b;
    put32(bad, 4, 3);
    EXPECT_EQ(decode_error(bad), "request 3 of 3 at offset 376: head runs "
                                 "past the end of the batch");
    bad = b;
    put32(bad, 8 + 20, 0x04000000); // num_aces whose size would wrap
    EXPECT_EQ(decode_error(bad), "request 1 of 2 at offset 8: 67108864 "
                                 "records run past the end of the batch");
    bad = b;
    bad.resize(b.size() + 5);
    EXPECT_EQ(decode_error(bad),
              "5 bytes follow the last request of the batch");
    bad.assign(ostrel::tools::kMaxBatchSize + 1, 0);
    EXPECT_EQ(decode_error(bad), "batch of 130057 bytes is longer than the "
                                 "130056-byte block");
}

TEST(BatchDecode, EveryTruncationOfAValidBatchIsRefused) {
    std::vector<uint8_t> b = two_request_batch();
    for (size_t n = 0; n < b.size(); ++n) {
        // An exactly sized copy so that a read past n is a heap overflow
        // the sanitizers and valgrind see.
        std::unique_ptr<uint8_t[]> copy(new uint8_t[n > 0 ? n : 1]);
        std::memcpy(copy.get(), b.data(), n);
        std::string out, err;
        EXPECT_FALSE(ostrel::tools::decode_message(copy.get(), n, &out, &err))
            << n;
        EXPECT_EQ(err.rfind("neither a batch nor a policy update: ", 0), 0u);
    }
}

// A policy update request encoded by the library's own codec.
std::vector<uint8_t> encoded_update(uint32_t aces) {
    std::vector<uint64_t> storage((OSTREL_PLCY_UPDATE_REQ_SIZE(aces) + 7) / 8);
    auto *req =
        reinterpret_cast<ostrel_api_plcy_update_req_t *>(storage.data());
    req->plcy.plcy_op = 1;
    req->plcy.plcy_tlv2 = 3;
    req->dst.dst_tlv4 = 1;
    req->dst.dst_tlv5 = 1;
    req->dst.dst_vlan = 30;
    req->dst.dst_if_index = 7;
    req->num_aces = aces;
    for (uint32_t k = 0; k < aces; ++k) {
        req->aces[k].fltr.fltr_tlv8 = 3;
        req->aces[k].fltr.fltr_flags = OSTREL_FLTR_FLAG_PRESENT;
        req->aces[k].fltr.fltr_qualifier = static_cast<uint16_t>(9 + k);
        req->aces[k].fltr.fltr_addr1[5] = static_cast<uint8_t>(k + 1);
        req->aces[k].fltr.fltr_addr3[5] = 0xee;
        req->aces[k].actn.actn_flags = OSTREL_ACTN_FLAG_TLV10;
        req->aces[k].actn.actn_tlv10 = 1;
    }
    uint8_t *buf = nullptr;
    uint32_t len = 0, err_type = 0;
    EXPECT_EQ(
        ostrel_api_plcy_update_req_to_tlv(req, &buf, &len, 0, &err_type, 0),
        0u);
    std::vector<uint8_t> out(buf, buf + len);
    free(buf);
    return out;
}

TEST(PolicyUpdateDecode, DecodesTheLibrarysOwnEncoding) {
    std::vector<uint8_t> m = encoded_update(2);
    EXPECT_EQ(ostrel::tools::classify(m.data(), m.size()),
              MessageKind::PolicyUpdate);
    std::string out, err;
    ASSERT_TRUE(ostrel::tools::decode_message(m.data(), m.size(), &out, &err))
        << err;
    EXPECT_EQ(out, "policy update of " + std::to_string(m.size()) +
                       " bytes: install vlan 30 intf 7, 2 records\n"
                       "  [0] ace qual 9 addr1 00:00:00:00:00:01 addr2 "
                       "00:00:00:00:00:ee\n"
                       "  [1] ace qual 10 addr1 00:00:00:00:00:02 addr2 "
                       "00:00:00:00:00:ee\n");
}

TEST(PolicyUpdateDecode, HeaderThatDisagreesWithTheLengthIsNotAPolicyUpdate) {
    std::vector<uint8_t> m = encoded_update(1);
    m.push_back(0);
    EXPECT_EQ(ostrel::tools::classify(m.data(), m.size()),
              MessageKind::Malformed);
    std::string err;
    EXPECT_FALSE(
        ostrel::tools::read_plcy_update(m.data(), m.size(), nullptr, &err));
    EXPECT_THAT(err, HasSubstr("does not give the message length minus 4"));
}

TEST(PolicyUpdateDecode, EveryTruncationIsRefused) {
    std::vector<uint8_t> m = encoded_update(1);
    for (size_t n = 0; n < m.size(); ++n) {
        std::vector<uint8_t> cut(m.begin(), m.begin() + n);
        if (n >= 4) // keep the header consistent so the codec runs
            ostrel::tlv::store_be32(cut.data(), static_cast<uint32_t>(n - 4));
        std::string out, err;
        EXPECT_FALSE(
            ostrel::tools::decode_plcy_update(cut.data(), n, &out, &err))
            << n;
    }
}

TEST(ServiceModel, KeepsTheLastRequestOfEachVlanAndInterface) {
    ostrel::tools::ServiceModel model;
    std::vector<uint8_t> b = two_request_batch();
    EXPECT_EQ(model.handle(OSTREL_ACL_OPCODE, b.data(), b.size(), nullptr),
              ostrel::tools::kReplyOk);
    std::vector<uint8_t> again(8); // records of equal size, not equal
    put32(again, 4, 2);
    append_request(again, 2, 10, 5, 2, 4);
    append_request(again, 1, 10, 6, 2, 5);
    EXPECT_EQ(
        model.handle(OSTREL_ACL_OPCODE, again.data(), again.size(), nullptr),
        ostrel::tools::kReplyOk);
    std::vector<uint8_t> m = encoded_update(1);
    EXPECT_EQ(model.handle(OSTREL_ACL_OPCODE, m.data(), m.size(), nullptr),
              ostrel::tools::kReplyOk);
    ASSERT_EQ(model.size(), 3u);
    std::optional<ostrel::tools::Request> r = model.find(10, 5);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->plcy_op, 2u);
    EXPECT_EQ(r->aces.size(), 2u);
    EXPECT_EQ(r->aces[0].fltr.fltr_qualifier, 4);
    EXPECT_EQ(model.table(),
              "programmed table: 2 entries, 1 interface removed\n"
              "  (batch) removed: vlan 10 intf 5\n"
              "  (batch) install vlan 10 intf 6, 2 records\n"
              "    [0] close qual 5\n"
              "        slot 0: qual 5, replaced by the closing record (only "
              "its qualifier is sent)\n"
              "    [1] end\n"
              "  (policy update) install vlan 30 intf 7, 1 record\n"
              "    [0] ace qual 9 addr1 00:00:00:00:00:01 addr2 "
              "00:00:00:00:00:ee\n");
}

TEST(ServiceModel, MalformedBatchAppliesNothingAndOtherOpcodesAreRefused) {
    ostrel::tools::ServiceModel model;
    std::vector<uint8_t> b = two_request_batch();
    b.pop_back(); // the second request is now one byte short
    std::string log;
    EXPECT_EQ(model.handle(OSTREL_ACL_OPCODE, b.data(), b.size(), &log),
              ostrel::tools::kReplyMalformed);
    EXPECT_EQ(log, "refused: request 2 of 2 at offset 224: 2 records run "
                   "past the end of the batch\n");
    EXPECT_EQ(model.size(), 0u);
    b.push_back(0);
    EXPECT_EQ(model.handle(4811, b.data(), b.size(), &log),
              ostrel::tools::kReplyUnknownOpcode);
    EXPECT_EQ(model.table(), "programmed table: empty\n");
}

} // namespace
