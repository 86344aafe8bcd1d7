// The codec family of every record type against golden encodings, then the
// same encodings cut short, with values of the wrong width, and as the
// failures each operation reports under its own name.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "record_ops.h"
#include "samples.h"
#include "sim_platform.h"
#include "tlvu.h"

namespace ostrel_test {
namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

struct Golden {
    const RecordOps &ops;
    Bytes record, encoding, decoded; // decoded: into a zeroed record
};

std::vector<Golden> goldens() {
    const ostrel_api_ace_t ace = sample_ace(1, 3);
    const ostrel_api_ace_t bare = sample_ace(0xfe, ~3ull);
    ostrel_api_ace_t only11 = sample_ace(0x101, 2), only11_decoded = only11;
    only11_decoded.fltr.fltr_flags = 1;
    only11_decoded.actn.actn_tlv10 = 0;
    const ostrel_api_ace_t bare_decoded = sample_request(true).req()->aces[1];
    return {
        {kRecords[kPlcy], host(kSamplePlcy), unhex(GOLDEN_PLCY),
         host(kSamplePlcy)},
        {kRecords[kDst], host(kSampleDst), unhex(GOLDEN_DST), host(kSampleDst)},
        {kRecords[kAce], host(ace), unhex(GOLDEN_ACE), host(ace)},
        {kRecords[kAce], host(bare), unhex(GOLDEN_BARE_ACE),
         host(bare_decoded)},
        {kRecords[kAce], host(only11),
         unhex("0000004e 000e 003a " GOLDEN_FLTR
               " 000f 000c 00000008 000b 0004 2d2c2b2a"),
         host(only11_decoded)},
        {kRecords[kPlcyUpdateReq], sample_request().bytes(), unhex(GOLDEN_REQ),
         sample_request(true).bytes()},
        {kRecords[kPlcyUpdateResp], host(kSampleResp),
         unhex("00000008 0012 0004 "
               "efbeadde"),
         host(kSampleResp)}};
}

// A record buffer of `size` bytes filled with `fill`, guard bytes behind.
struct Rec {
    explicit Rec(size_t size, uint8_t fill = 0)
        : n(size), buf(size + 16, fill) {
        std::fill(buf.begin() + n, buf.end(), 0xC5);
    }
    uint32_t decode(const RecordOps &ops, const Bytes &enc, uint32_t len) {
        CaptureStderr();
        const uint32_t s = ops.to_struct(enc.data(), len, buf.data(), n);
        last_print = GetCapturedStderr();
        return s;
    }
    Bytes contents() const { return prefix(buf, n); }
    bool guard_intact() const {
        return std::count(buf.begin() + n, buf.end(), 0xC5) == 16;
    }
    uint32_t n;
    std::vector<uint8_t> buf;
    std::string last_print;
};

Bytes encode(const RecordOps &ops, const void *rec, uint32_t *status) {
    uint8_t *buf = nullptr;
    uint32_t len = 0, err_type = 7;
    *status = ops.to_tlv(rec, &buf, &len, 0, &err_type, 0);
    EXPECT_EQ(err_type, 0u);
    const Bytes out = bytes_of(buf, len);
    std::free(buf);
    return out;
}

const tlvu_field_t *find_entry(const tlvu_table_t *tbl, uint32_t type) {
    const tlvu_field_t *f = fields_of(tbl);
    while (f->kind != TLVU_KIND_END && f->tlv_type != type)
        ++f;
    return f;
}

class CodecFamily : public ::testing::Test {
  protected:
    void SetUp() override { sim::reset(); }
    void TearDown() override { EXPECT_EQ(sim::live_allocations(), 0); }
};

TEST_F(CodecFamily, EveryRecordEncodesToItsGoldenBytesAndDecodesBack) {
    for (const Golden &g : goldens()) {
        SCOPED_TRACE(std::string(g.ops.name) + " " + hex(g.encoding));
        const auto size = static_cast<uint32_t>(g.encoding.size());
        uint32_t status = 1;
        CaptureStderr();
        EXPECT_EQ(hex(encode(g.ops, g.record.data(), &status)),
                  hex(g.encoding));
        EXPECT_EQ(status, 0u);
        EXPECT_EQ(g.ops.get_tlv_sz(g.record.data()), size);
        EXPECT_EQ(g.ops.get_struct_sz(g.encoding.data()),
                  static_cast<int32_t>(g.record.size()));
        EXPECT_EQ(GetCapturedStderr(), "") << "success prints nothing";
        for (uint32_t readable : {size, 0u}) { // 0: trust the header
            Rec r(g.record.size());
            EXPECT_EQ(r.decode(g.ops, g.encoding, readable), 0u);
            EXPECT_EQ(hex(r.contents()), hex(g.decoded));
            EXPECT_TRUE(r.guard_intact());
        }
    }
}

// Offsets of the top-level TLVs of an encoding, and its end.
std::vector<size_t> tlv_starts(const Bytes &enc) {
    std::vector<size_t> at;
    for (size_t p = 4; p < enc.size(); p += 4 + (enc[p + 2] << 8 | enc[p + 3]))
        at.push_back(p);
    at.push_back(enc.size());
    return at;
}

TEST_F(CodecFamily, FieldAccessSeesEachTopLevelTlvWithItsOwnEntry) {
    for (const Golden &g : goldens()) {
        const std::vector<size_t> at = tlv_starts(g.encoding);
        tlvu_field_itr_t itr;
        ASSERT_EQ(g.ops.field_itr_init(&itr, g.encoding.data(), 0, 0, 0), 0u);
        const tlvu_field_t *f = nullptr;
        const void *value = nullptr;
        uint32_t len = 0, seen = 0;
        while (g.ops.field_get_next(&itr, &f, &value, &len) == 0) {
            ASSERT_LT(seen + 1, at.size()) << g.ops.name;
            EXPECT_EQ(f, find_entry(g.ops.tbl, read_be16(g.encoding, at[seen])));
            EXPECT_EQ(value, g.encoding.data() + at[seen++] + 4);
        }
        EXPECT_EQ(seen + 1, at.size()) << g.ops.name;
        Bytes out(at[1] - 8, 0xEE); // the value of the first TLV of a type
        EXPECT_EQ(g.ops.get_field(g.encoding.data(), 0, read_be16(g.encoding, 4),
                                  out.data(), uint32_t(out.size())),
                  0u);
        EXPECT_EQ(out, Bytes(g.encoding.begin() + 8, g.encoding.begin() + at[1]));
    }
}

TEST_F(CodecFamily, AnEncodingCutShortIsRefusedAndTheRecordUntouched) {
    for (const Golden &g : goldens()) {
        const std::vector<size_t> at = tlv_starts(g.encoding);
        for (uint32_t n = 1; n < g.encoding.size(); ++n) {
            SCOPED_TRACE(std::string(g.ops.name) + " cut to " +
                         std::to_string(n));
            const Bytes cut = prefix(g.encoding, n); // exactly n heap bytes
            Rec r(g.record.size(), 0x5a);
            EXPECT_EQ(r.decode(g.ops, cut, n), TLVU_STATUS_MALFORMED);
            uint8_t out[256];
            EXPECT_EQ(g.ops.get_field(cut.data(), n, read_be16(g.encoding, 4),
                                      out, sizeof out),
                      TLVU_STATUS_MALFORMED);
            tlvu_field_itr_t itr;
            EXPECT_EQ(g.ops.field_itr_init(&itr, cut.data(), n, 0, 0),
                      TLVU_STATUS_MALFORMED);
            if (n > 4 && std::find(at.begin(), at.end(), n) == at.end()) {
                // The same cut under a header that agrees with it.
                Bytes patched =
                    cat({be(n - 4, 4), Bytes(cut.begin() + 4, cut.end())});
                EXPECT_EQ(r.decode(g.ops, patched, n), TLVU_STATUS_MALFORMED);
                CaptureStderr();
                EXPECT_EQ(g.ops.get_struct_sz(patched.data()), -1);
                GetCapturedStderr();
            }
            EXPECT_EQ(r.contents(), Bytes(r.n, 0x5a));
        }
    }
}

// A plain value shorter or longer than its field is refused whole.
TEST_F(CodecFamily, APlainValueOfTheWrongWidthIsRefused) {
    for (const RecordOps &ops : kRecords) {
        for (const tlvu_field_t *f = fields_of(ops.tbl);
             f->kind != TLVU_KIND_END; ++f) {
            if (f->kind != TLVU_KIND_PLAIN || f->sub_table != nullptr)
                continue;
            for (uint32_t width : {f->size - 1, f->size + 1, f->size + 4}) {
                SCOPED_TRACE(std::string(ops.name) + " TLV " +
                             std::to_string(f->tlv_type) + " of " +
                             std::to_string(width) + " bytes");
                const Bytes enc = array({tlv(f->tlv_type, Bytes(width, 0x77))});
                Rec r(ops.tbl->struct_size, 0x5a);
                EXPECT_EQ(r.decode(ops, enc, uint32_t(enc.size())),
                          TLVU_STATUS_MALFORMED);
                EXPECT_EQ(r.contents(), Bytes(r.n, 0x5a));
                uint8_t out[16];
                EXPECT_EQ(
                    ops.get_field(enc.data(), 0, f->tlv_type, out, sizeof out),
                    TLVU_STATUS_MALFORMED);
            }
        }
    }
}

std::string err(const RecordOps &ops, const char *op, uint32_t status) {
    char line[128];
    std::snprintf(line, sizeof line, "ostrel_api_%s%s: ERR 0x%x\n", ops.name,
                  op, status);
    return line;
}

TEST_F(CodecFamily, FailuresPrintTheOperationsOwnNameOrNothing) {
    const Bytes bad = {0, 0, 0, 6, 0, 4, 0, 9, 1, 2}; // a TLV runs past
    const Bytes empty = array({});
    for (const RecordOps &ops : kRecords) {
        SCOPED_TRACE(ops.name);
        alignas(8) uint8_t rec[256] = {};
        uint32_t len = 0, err_type = 0;
        Rec r(sizeof rec);
        EXPECT_EQ(r.decode(ops, bad, uint32_t(bad.size())),
                  TLVU_STATUS_MALFORMED);
        EXPECT_EQ(r.last_print, err(ops, "_to_struct", TLVU_STATUS_MALFORMED));
        CaptureStderr();
        EXPECT_EQ(ops.to_tlv(rec, nullptr, &len, 0, &err_type, 0),
                  TLVU_STATUS_BAD_ARG);
        EXPECT_EQ(GetCapturedStderr(),
                  err(ops, "_to_tlv", TLVU_STATUS_BAD_ARG));
        CaptureStderr();
        EXPECT_EQ(ops.get_struct_sz(bad.data()), -1);
        EXPECT_EQ(GetCapturedStderr(),
                  err(ops, "_get_struct_sz", TLVU_STATUS_MALFORMED));
        CaptureStderr();
        EXPECT_EQ(ops.get_tlv_sz(nullptr), 0u);
        EXPECT_EQ(ops.get_field(empty.data(), 4, 0xfffe, rec, 8),
                  TLVU_STATUS_NOT_FOUND);
        tlvu_field_itr_t itr;
        EXPECT_EQ(ops.field_itr_init(&itr, bad.data(), 10, 0, 0),
                  TLVU_STATUS_MALFORMED);
        EXPECT_EQ(GetCapturedStderr(), "");
    }
}

} // namespace
} // namespace ostrel_test
