// The codec family of every record type against golden encodings, then the
// same encodings cut short, with values of the wrong width, and as the
// failures each operation reports under its own name.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "heap_checked.h"
#include "record_ops.h"
#include "samples.h"
#include "sim_platform.hpp"
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
         unhex("00000008 0012 0004 efbeadde"), host(kSampleResp)}};
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
        GetCapturedStderr();
        return s;
    }
    Bytes contents() const { return prefix(buf, n); }
    bool guard_intact() const {
        return std::count(buf.begin() + n, buf.end(), 0xC5) == 16;
    }
    uint32_t n;
    std::vector<uint8_t> buf;
};

const tlvu_field_t *find_entry(const tlvu_table_t *tbl, uint32_t type) {
    const tlvu_field_t *f = fields_of(tbl);
    while (f->kind != TLVU_KIND_END && f->tlv_type != type)
        ++f;
    return f;
}

using CodecFamily = HeapChecked;

TEST_F(CodecFamily, EveryRecordEncodesToItsGoldenBytesAndDecodesBack) {
    for (const Golden &g : goldens()) {
        SCOPED_TRACE(std::string(g.ops.name) + " " + hex(g.encoding));
        const auto size = static_cast<uint32_t>(g.encoding.size());
        uint8_t *buf = nullptr;
        uint32_t len = 0, err_type = 7;
        CaptureStderr();
        EXPECT_EQ(g.ops.to_tlv(g.record.data(), &buf, &len, 0, &err_type, 0),
                  0u);
        EXPECT_EQ(hex(bytes_of(buf, len)), hex(g.encoding));
        EXPECT_EQ(err_type, 0u);
        std::free(buf);
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

// Every TLV, or those of one type, with its own entry; get_field copies the
// first of a type and leaves an output too small for it alone.
TEST_F(CodecFamily, FieldAccessSeesEachTopLevelTlvWithItsOwnEntry) {
    for (const Golden &g : goldens()) {
        SCOPED_TRACE(g.ops.name);
        const uint8_t *enc = g.encoding.data();
        const std::vector<size_t> at = tlv_starts(g.encoding);
        const uint32_t last = read_be16(g.encoding, at[at.size() - 2]);
        for (uint32_t filter : {0u, last}) { // last: the ACEs of a request
            tlvu_field_itr_t itr;
            ASSERT_EQ(g.ops.field_itr_init(&itr, enc, 0, filter, 0), 0u);
            const tlvu_field_t *f = nullptr;
            const void *value = nullptr;
            uint32_t len = 0;
            for (size_t i = 0; i + 1 < at.size(); ++i) {
                const uint32_t type = read_be16(g.encoding, at[i]);
                if (filter != 0 && type != filter)
                    continue;
                ASSERT_EQ(g.ops.field_get_next(&itr, &f, &value, &len), 0u);
                EXPECT_EQ(f, find_entry(g.ops.tbl, type));
                EXPECT_TRUE(value == enc + at[i] + 4 &&
                            len == at[i + 1] - at[i] - 4);
            }
            EXPECT_EQ(g.ops.field_get_next(&itr, &f, &value, &len),
                      TLVU_STATUS_NOT_FOUND);
        }
        Bytes out(at[1] - 8, 0xEE);
        const uint32_t type = read_be16(g.encoding, 4),
                       n = uint32_t(out.size());
        EXPECT_EQ(g.ops.get_field(enc, 0, type, out.data(), n - 1),
                  TLVU_STATUS_TOO_SMALL);
        EXPECT_EQ(out, Bytes(n, 0xEE));
        EXPECT_EQ(g.ops.get_field(enc, 0, type, out.data(), n), 0u);
        EXPECT_EQ(out, Bytes(enc + 8, enc + at[1]));
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

// The table codec's own checks, through the request: a nested value, array
// elements and a count that must agree, and a record that must hold them.
TEST_F(CodecFamily, TheTableDecoderRefusesWhatTheRecordCannotHold) {
    const RecordOps &ops = kRecords[kPlcyUpdateReq];
    const Bytes g = unhex(GOLDEN_REQ), plcy = unhex(GOLDEN_PLCY);
    const std::vector<size_t> at = tlv_starts(g);
    Bytes three = g; // num_aces 3, two ACE TLVs
    three[at[2] + 4] = 3;
    const struct {
        Bytes enc;
        uint32_t rec_size, status;
        bool unchanged = true; // refused before anything is written
    } cases[] = {
        {three, 216, TLVU_STATUS_MALFORMED, false}, // found after the writes
        {g, 24 + 64, TLVU_STATUS_TOO_SMALL},        // one ACE short
        {g, 0, TLVU_STATUS_TOO_SMALL}, // no size: the fixed part only
        {array({tlv(12, cat({plcy, {0}}))}), 152, TLVU_STATUS_MALFORMED},
        {array({tlv(12, prefix(plcy, 15))}), 152, TLVU_STATUS_MALFORMED},
        {array({tlv(17, array({tlv(14, {0, 0, 0, 3, 0})}))}), 152,
         TLVU_STATUS_MALFORMED},
    };
    for (const auto &c : cases) {
        Rec r(c.rec_size == 0 ? 24 : c.rec_size, 0x5a);
        CaptureStderr();
        EXPECT_EQ(ops.to_struct(c.enc.data(), 0, r.buf.data(), c.rec_size),
                  c.status)
            << &c - cases;
        GetCapturedStderr();
        EXPECT_EQ(r.contents() == Bytes(r.n, 0x5a), c.unchanged) << &c - cases;
        EXPECT_TRUE(r.guard_intact()) << &c - cases;
    }
}

// Failed encodings hand out nothing, leak nothing and name the innermost
// field; max_len is the most bytes allowed.
TEST_F(CodecFamily, TheTableEncoderFailsWholeAndBlamesTheInnermostField) {
    const RecordOps &ops = kRecords[kPlcyUpdateReq];
    Request r = sample_request();
    for (long nth = 1; nth <= 5; ++nth) { // ours, then filter, actions per ACE
        ostrel::sim::fail_allocation(nth);
        uint8_t *buf = nullptr;
        uint32_t len = 0xDEAD, err_type = 7;
        CaptureStderr();
        const uint32_t s = ops.to_tlv(r.req(), &buf, &len, 0, &err_type, 0);
        GetCapturedStderr();
        EXPECT_EQ(s, nth == 1 ? TLVU_STATUS_NO_MEMORY : OSTREL_STATUS_NO_ENTRY);
        EXPECT_EQ(err_type, nth == 1 ? 0u : nth % 2 ? 15u : 14u) << nth;
        EXPECT_TRUE(buf == nullptr && len == 0xDEAD);
        EXPECT_EQ(ostrel::sim::live_allocations(), 0) << "allocation " << nth;
    }
    ostrel::sim::fail_allocation(0);
    const uint32_t size = ops.get_tlv_sz(r.req());
    for (uint32_t max_len : {size, size - 1}) {
        uint8_t *buf = nullptr;
        uint32_t len = 0, err_type = 0;
        const long allocations = ostrel::sim::allocations_made();
        CaptureStderr();
        EXPECT_EQ(ops.to_tlv(r.req(), &buf, &len, 0, &err_type, max_len),
                  max_len == size ? 0u : TLVU_STATUS_TOO_SMALL);
        GetCapturedStderr();
        EXPECT_EQ(ostrel::sim::allocations_made() == allocations,
                  max_len != size);
        std::free(buf);
    }
}

// Failures print "ostrel_api_<record>_<operation>: ERR 0x<status>", or
// nothing where the status says it all.
TEST_F(CodecFamily, FailuresPrintTheOperationsOwnNameOrNothing) {
    const Bytes bad = {0, 0, 0, 6, 0, 4, 0, 9, 1, 2}; // a TLV runs past
    const Bytes empty = array({});
    for (const RecordOps &ops : kRecords) {
        SCOPED_TRACE(ops.name);
        const std::string name = std::string("ostrel_api_") + ops.name;
        alignas(8) uint8_t rec[256] = {};
        uint32_t len = 0, err_type = 0;
        tlvu_field_itr_t itr;
        CaptureStderr();
        EXPECT_EQ(ops.to_struct(bad.data(), 10, rec, 256),
                  TLVU_STATUS_MALFORMED);
        EXPECT_EQ(ops.to_tlv(rec, nullptr, &len, 0, &err_type, 0),
                  TLVU_STATUS_BAD_ARG);
        EXPECT_EQ(ops.get_struct_sz(bad.data()), -1);
        EXPECT_EQ(GetCapturedStderr(), name + "_to_struct: ERR 0x41050002\n" +
                                           name + "_to_tlv: ERR 0x41050001\n" +
                                           name +
                                           "_get_struct_sz: ERR 0x41050002\n");
        CaptureStderr();
        EXPECT_EQ(ops.get_tlv_sz(nullptr), 0u);
        EXPECT_EQ(ops.get_field(empty.data(), 4, 0xfffe, rec, 8),
                  TLVU_STATUS_NOT_FOUND);
        EXPECT_EQ(ops.field_itr_init(&itr, bad.data(), 10, 0, 0),
                  TLVU_STATUS_MALFORMED);
        EXPECT_EQ(GetCapturedStderr(), "");
    }
}

} // namespace
} // namespace ostrel_test
