// The operation family (Part 2.4) run by our TLV library: round trips of
// all five record types (the ACE parts through the codecs of Part 2.2),
// sizes, single-field access, iteration, the error prints and the refusal
// of malformed encodings.
#include <cstdlib>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "family_table.h"
#include "request_builder.h"
#include "sim_platform.h"
#include "tlv_bytes.h"
#include "tlvu.h"

namespace {

using namespace codec_test;
using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

// One encoding from an _to_tlv operation, freed at the end of the scope.
struct Encoded {
    uint32_t status = 0xdeadbeef;
    uint8_t *buf = nullptr;
    uint32_t len = 0;
    Bytes bytes() const { return bytes_of(buf, len); }
    Encoded() = default;
    Encoded(const Encoded &) = delete;
    Encoded &operator=(const Encoded &) = delete;
    ~Encoded() { std::free(buf); }
};

template <typename ToTlv>
void encode(ToTlv to_tlv, const void *rec, Encoded &e) {
    uint32_t err = 0;
    e.status = to_tlv(rec, &e.buf, &e.len, 0, &err, 0);
}

std::string err_line(const std::string &op, uint32_t status) {
    char text[160];
    std::snprintf(text, sizeof text, "%s: ERR 0x%x\n", op.c_str(), status);
    return text;
}

class Family_ : public ::testing::Test {
  protected:
    void SetUp() override { sim::reset(); }
    void TearDown() override {
        EXPECT_EQ(sim::live_allocations(), 0) << "nothing stays allocated";
    }
};

// ---- round trips ----

TEST_F(Family_, APolicyRoundTrips) {
    const ostrel_api_plcy_t src{2, 0xfeedface};
    Encoded e;
    encode(ostrel_api_plcy_to_tlv, &src, e);
    ASSERT_EQ(e.status, 0u);
    EXPECT_EQ(hex(e.bytes()), hex(array({tlv(1, host(src.plcy_op)),
                                         tlv(2, host(src.plcy_tlv2))})));
    EXPECT_EQ(ostrel_api_plcy_get_tlv_sz(&src), e.len);
    EXPECT_EQ(ostrel_api_plcy_get_struct_sz(e.buf), 8);
    ostrel_api_plcy_t out{};
    EXPECT_EQ(ostrel_api_plcy_to_struct(e.buf, e.len, &out, sizeof out), 0u);
    EXPECT_EQ(std::memcmp(&out, &src, sizeof out), 0);
}

TEST_F(Family_, ADestinationRoundTrips) {
    const ostrel_api_dst_t src{0x01020304, 0x0506, 4094, 0x0a0b0c0d};
    Encoded e;
    encode(ostrel_api_dst_to_tlv, &src, e);
    ASSERT_EQ(e.status, 0u);
    EXPECT_EQ(hex(e.bytes()),
              hex(array({tlv(4, host(src.dst_tlv4)), tlv(5, host(src.dst_tlv5)),
                         tlv(6, host(src.dst_vlan)),
                         tlv(7, host(src.dst_if_index))})));
    EXPECT_EQ(ostrel_api_dst_get_tlv_sz(&src), e.len);
    EXPECT_EQ(ostrel_api_dst_get_struct_sz(e.buf), 12);
    ostrel_api_dst_t out{};
    EXPECT_EQ(ostrel_api_dst_to_struct(e.buf, e.len, &out, sizeof out), 0u);
    EXPECT_EQ(std::memcmp(&out, &src, sizeof out), 0);
}

TEST_F(Family_, AResponseRoundTrips) {
    const ostrel_api_plcy_update_resp_t src{0x80000001};
    Encoded e;
    encode(ostrel_api_plcy_update_resp_to_tlv, &src, e);
    ASSERT_EQ(e.status, 0u);
    EXPECT_EQ(hex(e.bytes()), hex(array({tlv(18, host(src.resp_tlv18))})));
    EXPECT_EQ(ostrel_api_plcy_update_resp_get_tlv_sz(&src), e.len);
    EXPECT_EQ(ostrel_api_plcy_update_resp_get_struct_sz(e.buf), 4);
    ostrel_api_plcy_update_resp_t out{};
    EXPECT_EQ(
        ostrel_api_plcy_update_resp_to_struct(e.buf, e.len, &out, sizeof out),
        0u);
    EXPECT_EQ(out.resp_tlv18, src.resp_tlv18);
}

// The ACE's parts are TLVs 14 and 15 whose values are exactly what the
// filter and action encoders produce.
Bytes expected_ace_bytes(const ostrel_api_ace_t &ace) {
    uint8_t *f = nullptr, *a = nullptr;
    uint32_t flen = 0, alen = 0, owned = 0;
    EXPECT_EQ(ostrel_api_ace_fltr_struct_to_tlv(&ace, 0, &f, &flen, &owned),
              0u);
    EXPECT_EQ(ostrel_api_ace_actn_struct_to_tlv(&ace, 0, &a, &alen, &owned),
              0u);
    Bytes out = array({tlv(14, bytes_of(f, flen)), tlv(15, bytes_of(a, alen))});
    std::free(f);
    std::free(a);
    return out;
}

TEST_F(Family_, AnAceRoundTripsWithEveryPresenceFlagCombination) {
    for (uint64_t f = 0; f < 2; ++f) {
        for (uint64_t a = 0; a < 4; ++a) {
            SCOPED_TRACE("fltr " + std::to_string(f) + " actn " +
                         std::to_string(a));
            const ostrel_api_ace_t src =
                make_ace(f, a, static_cast<uint8_t>(f * 4 + a));
            Encoded e;
            encode(ostrel_api_ace_to_tlv, &src, e);
            ASSERT_EQ(e.status, 0u);
            EXPECT_EQ(hex(e.bytes()), hex(expected_ace_bytes(src)));
            EXPECT_EQ(ostrel_api_ace_get_tlv_sz(&src), e.len);
            EXPECT_EQ(ostrel_api_ace_get_struct_sz(e.buf), 64);
            ostrel_api_ace_t out;
            std::memset(&out, 0, sizeof out);
            ASSERT_EQ(ostrel_api_ace_to_struct(e.buf, e.len, &out, sizeof out),
                      0u);
            const ostrel_api_ace_t want = decoded_ace(src);
            EXPECT_EQ(std::memcmp(&out, &want, sizeof out), 0);
        }
    }
}

TEST_F(Family_, AnAceWithUnencodedFlagBitsComesBackWithTheEncodedOnes) {
    const ostrel_api_ace_t src = make_ace(~uint64_t{0}, ~uint64_t{0});
    Encoded e;
    encode(ostrel_api_ace_to_tlv, &src, e);
    ASSERT_EQ(e.status, 0u);
    ostrel_api_ace_t out;
    std::memset(&out, 0, sizeof out);
    ASSERT_EQ(ostrel_api_ace_to_struct(e.buf, e.len, &out, sizeof out), 0u);
    EXPECT_EQ(out.fltr.fltr_flags, 1u);
    EXPECT_EQ(out.actn.actn_flags, 3u);
}

void expect_request_round_trip(const Request &src) {
    Encoded e;
    encode(ostrel_api_plcy_update_req_to_tlv, src.req(), e);
    ASSERT_EQ(e.status, 0u);
    EXPECT_EQ(ostrel_api_plcy_update_req_get_tlv_sz(src.req()), e.len);
    const int32_t need = ostrel_api_plcy_update_req_get_struct_sz(e.buf);
    EXPECT_EQ(need, static_cast<int32_t>(src.size()));
    Request out = Request::zeroed(src.size());
    ASSERT_EQ(ostrel_api_plcy_update_req_to_struct(e.buf, e.len, out.req(),
                                                   out.capacity()),
              0u);
    EXPECT_EQ(std::memcmp(out.req(), src.req(), 24), 0) << "the fixed part";
    for (uint32_t i = 0; i < src.req()->num_aces; ++i) {
        const ostrel_api_ace_t want = decoded_ace(src.req()->aces[i]);
        EXPECT_EQ(std::memcmp(&out.req()->aces[i], &want, sizeof want), 0)
            << "ACE " << i;
    }
}

TEST_F(Family_, ARequestWithoutAcesRoundTrips) {
    expect_request_round_trip(Request(0));
}

TEST_F(Family_, ARequestWithOneAceRoundTripsForEveryFlagCombination) {
    for (uint32_t combo = 0; combo < 8; ++combo) {
        SCOPED_TRACE("combination " + std::to_string(combo));
        Request r(1);
        r.req()->aces[0] = make_ace(combo >> 2, combo & 3, 9);
        expect_request_round_trip(r);
    }
}

TEST_F(Family_, ARequestWithManyAcesRoundTripsInOrder) {
    expect_request_round_trip(Request(8));  // every combination once
    expect_request_round_trip(Request(37)); // and again, with distinct values
}

TEST_F(Family_, ARequestEncodesItsPartsNestedAndOneTlvPerAce) {
    Request r(2);
    Encoded e;
    encode(ostrel_api_plcy_update_req_to_tlv, r.req(), e);
    ASSERT_EQ(e.status, 0u);
    const ostrel_api_plcy_update_req_t &q = *r.req();
    const Bytes want = array({
        tlv(12, array({tlv(1, host(q.plcy.plcy_op)),
                       tlv(2, host(q.plcy.plcy_tlv2))})),
        tlv(13,
            array({tlv(4, host(q.dst.dst_tlv4)), tlv(5, host(q.dst.dst_tlv5)),
                   tlv(6, host(q.dst.dst_vlan)),
                   tlv(7, host(q.dst.dst_if_index))})),
        tlv(16, host(q.num_aces)),
        tlv(17, expected_ace_bytes(q.aces[0])),
        tlv(17, expected_ace_bytes(q.aces[1])),
    });
    EXPECT_EQ(hex(e.bytes()), hex(want));
}

TEST_F(Family_, TheAceCountComesFromNumAces) {
    Request r(5);
    r.req()->num_aces = 3; // the other two records are not part of it
    Encoded e;
    encode(ostrel_api_plcy_update_req_to_tlv, r.req(), e);
    ASSERT_EQ(e.status, 0u);
    EXPECT_EQ(ostrel_api_plcy_update_req_get_struct_sz(e.buf),
              static_cast<int32_t>(OSTREL_PLCY_UPDATE_REQ_SIZE(3)));
}

// ---- single fields and iteration ----

TEST_F(Family_, GetFieldReadsOnePlainValue) {
    const ostrel_api_dst_t src{1, 2, 300, 4};
    Encoded e;
    encode(ostrel_api_dst_to_tlv, &src, e);
    uint16_t vlan = 0;
    EXPECT_EQ(ostrel_api_dst_get_field(e.buf, e.len, 6, &vlan, sizeof vlan),
              0u);
    EXPECT_EQ(vlan, 300);
}

TEST_F(Family_, IterationVisitsTheRequestTlvsInOrder) {
    Request r(3);
    Encoded e;
    encode(ostrel_api_plcy_update_req_to_tlv, r.req(), e);
    tlvu_field_itr_t itr;
    ASSERT_EQ(
        ostrel_api_plcy_update_req_field_itr_init(&itr, e.buf, e.len, 0, 0),
        0u);
    std::vector<uint32_t> types;
    const tlvu_field_t *field = nullptr;
    const void *value = nullptr;
    uint32_t len = 0;
    while (ostrel_api_plcy_update_req_field_get_next(&itr, &field, &value,
                                                     &len) == 0) {
        ASSERT_NE(field, nullptr);
        types.push_back(field->tlv_type);
    }
    EXPECT_EQ(types, (std::vector<uint32_t>{12, 13, 16, 17, 17, 17}));
}

TEST_F(Family_, EveryFieldGetNextBehavesTheSame) {
    Request r(2);
    Encoded e;
    encode(ostrel_api_plcy_update_req_to_tlv, r.req(), e);
    std::vector<std::vector<uint32_t>> seen;
    for (const Family &f : kFamilies) {
        tlvu_field_itr_t itr;
        ASSERT_EQ(ostrel_api_plcy_update_req_field_itr_init(&itr, e.buf, e.len,
                                                            17, 0),
                  0u);
        std::vector<uint32_t> lens;
        const tlvu_field_t *field = nullptr;
        const void *value = nullptr;
        uint32_t len = 0;
        while (f.field_get_next(&itr, &field, &value, &len) == 0) {
            lens.push_back(len);
        }
        seen.push_back(lens);
    }
    for (const auto &lens : seen) {
        EXPECT_EQ(lens, seen[0]);
    }
    EXPECT_EQ(seen[0].size(), 2u);
}

// ---- error prints ----

TEST_F(Family_, AFailingToStructPrintsItsNameAndTheStatus) {
    const Bytes bad = {0, 0, 0, 9, 0, 1}; // claims 9 body bytes, has 2
    for (const Family &f : kFamilies) {
        alignas(8) uint8_t rec[256] = {};
        CaptureStderr();
        const uint32_t status = f.to_struct(
            bad.data(), static_cast<uint32_t>(bad.size()), rec, sizeof rec);
        const std::string printed = GetCapturedStderr();
        EXPECT_NE(status, 0u) << f.name;
        EXPECT_EQ(printed,
                  err_line(std::string("ostrel_api_") + f.name + "_to_struct",
                           status));
    }
}

TEST_F(Family_, AFailingToTlvPrintsItsNameAndTheStatus) {
    alignas(8) uint8_t rec[256] = {};
    for (const Family &f : kFamilies) {
        uint32_t len = 0, err = 0;
        CaptureStderr();
        const uint32_t status = f.to_tlv(rec, nullptr, &len, 0, &err, 0);
        const std::string printed = GetCapturedStderr();
        EXPECT_NE(status, 0u) << f.name;
        EXPECT_EQ(
            printed,
            err_line(std::string("ostrel_api_") + f.name + "_to_tlv", status));
    }
}

TEST_F(Family_, AFailingGetStructSzPrintsAndReturnsMinusOne) {
    const Bytes bad = {0, 0, 0, 6, 0,
                       4, 0, 9, 1, 2}; // a TLV runs past the body
    for (const Family &f : kFamilies) {
        uint32_t size = 0;
        const uint32_t status =
            tlvu_table_get_struct_size_from_tlv(&size, bad.data(), 0, f.tbl);
        ASSERT_NE(status, 0u);
        CaptureStderr();
        EXPECT_EQ(f.get_struct_sz(bad.data()), -1) << f.name;
        EXPECT_EQ(GetCapturedStderr(), err_line(std::string("ostrel_api_") +
                                                    f.name + "_get_struct_sz",
                                                status));
    }
}

TEST_F(Family_, TheDestinationSizeErrorReadsExactly) {
    const Bytes bad = {0, 0, 0, 6, 0, 4, 0, 9, 1, 2};
    CaptureStderr();
    EXPECT_EQ(ostrel_api_dst_get_struct_sz(bad.data()), -1);
    EXPECT_EQ(GetCapturedStderr(),
              "ostrel_api_dst_get_struct_sz: ERR 0x41050002\n");
}

TEST_F(Family_, TheOtherOperationsFailSilently) {
    const Bytes empty = array({});
    alignas(8) uint8_t out[64];
    for (const Family &f : kFamilies) {
        CaptureStderr();
        EXPECT_EQ(f.get_tlv_sz(nullptr), 0u) << f.name;
        EXPECT_NE(f.get_field(empty.data(), 4, 0xfffe, out, sizeof out), 0u);
        EXPECT_NE(f.field_itr_init(nullptr, empty.data(), 4, 0, 0), 0u);
        tlvu_field_itr_t itr;
        ASSERT_EQ(f.field_itr_init(&itr, empty.data(), 4, 0, 0), 0u);
        const tlvu_field_t *field = nullptr;
        const void *value = nullptr;
        uint32_t len = 0;
        EXPECT_EQ(f.field_get_next(&itr, &field, &value, &len),
                  TLVU_STATUS_NOT_FOUND);
        EXPECT_EQ(f.field_get_next(nullptr, &field, &value, &len),
                  TLVU_STATUS_BAD_ARG);
        EXPECT_EQ(GetCapturedStderr(), "") << f.name;
    }
}

TEST_F(Family_, SuccessfulOperationsPrintNothing) {
    Request r(2);
    CaptureStderr();
    {
        Encoded e;
        encode(ostrel_api_plcy_update_req_to_tlv, r.req(), e);
        Request out = Request::zeroed(r.size());
        EXPECT_EQ(ostrel_api_plcy_update_req_to_struct(e.buf, e.len, out.req(),
                                                       out.capacity()),
                  0u);
        EXPECT_GT(ostrel_api_plcy_update_req_get_struct_sz(e.buf), 0);
    }
    EXPECT_EQ(GetCapturedStderr(), "");
}

// ---- malformed and truncated encodings ----

// Valid encodings of every record type, and ways to damage them.
struct Sample {
    const Family *family;
    Bytes encoding;
    uint32_t struct_size;
};

std::vector<Sample> samples() {
    std::vector<Sample> out;
    const ostrel_api_plcy_t plcy{1, 2};
    const ostrel_api_dst_t dst{1, 2, 3, 4};
    const ostrel_api_ace_t ace = make_ace(1, 3);
    const ostrel_api_plcy_update_resp_t resp{5};
    Request req(3);
    const void *recs[] = {&plcy, &dst, &ace, req.req(), &resp};
    for (size_t i = 0; i < 5; ++i) {
        Encoded e;
        encode(kFamilies[i].to_tlv, recs[i], e);
        EXPECT_EQ(e.status, 0u);
        out.push_back({&kFamilies[i], e.bytes(),
                       i == 3 ? req.size() : kFamilies[i].tbl->struct_size});
    }
    return out;
}

// Every decode entry of the family refuses `bad`, read as `readable` bytes
// (the operations without a length argument read the header's claim), and
// leaves the record unchanged.
void expect_refused(const Sample &s, const Bytes &bad, uint32_t readable,
                    bool check_unlengthed, const std::string &what) {
    SCOPED_TRACE(std::string(s.family->name) + ": " + what);
    alignas(8) uint8_t rec[512];
    std::memset(rec, 0x5a, sizeof rec);
    CaptureStderr();
    EXPECT_NE(s.family->to_struct(bad.data(), readable, rec, sizeof rec), 0u);
    (void)GetCapturedStderr();
    for (uint8_t b : rec) {
        ASSERT_EQ(b, 0x5a) << "the record is unchanged";
    }
    alignas(8) uint8_t out[512];
    EXPECT_NE(
        s.family->get_field(
            bad.data(), readable,
            s.family->tbl == &ostrel_api_plcy_update_req_tbl ? 16 : 0xffff, out,
            sizeof out),
        0u);
    tlvu_field_itr_t itr;
    EXPECT_NE(s.family->field_itr_init(&itr, bad.data(), readable, 0, 0), 0u);
    if (check_unlengthed) {
        CaptureStderr();
        EXPECT_EQ(s.family->get_struct_sz(bad.data()), -1);
        (void)GetCapturedStderr();
    }
}

TEST_F(Family_, ATruncatedEncodingIsRefusedByEveryDecodeEntry) {
    for (const Sample &s : samples()) {
        const uint32_t n = static_cast<uint32_t>(s.encoding.size());
        for (uint32_t readable : {n - 1, n / 2, 3u}) {
            Bytes cut(s.encoding.begin(), s.encoding.begin() + readable);
            cut.resize(n, 0); // the bytes exist, but are not readable
            expect_refused(s, cut, readable, false,
                           "readable " + std::to_string(readable));
        }
    }
}

TEST_F(Family_, AnArrayHeaderClaimingTooMuchIsRefusedByEveryDecodeEntry) {
    for (const Sample &s : samples()) {
        Bytes bad = s.encoding;
        bad[3] = static_cast<uint8_t>(bad[3] + 1); // one body byte too many
        bad.push_back(0);
        bad.push_back(0);
        expect_refused(s, bad, static_cast<uint32_t>(bad.size()), true,
                       "partial trailing TLV");
    }
}

TEST_F(Family_, ATlvRunningPastTheBodyIsRefusedByEveryDecodeEntry) {
    for (const Sample &s : samples()) {
        Bytes bad = s.encoding;
        bad[6] = 0xff; // the first TLV's length, high byte
        expect_refused(s, bad, static_cast<uint32_t>(bad.size()), true,
                       "overlong first TLV");
    }
}

// Offset in b of the first TLV of `type` in the array that starts at `arr`,
// or 0 when there is none.
size_t find_tlv(const Bytes &b, size_t arr, uint16_t type) {
    const size_t end = arr + 4 +
                       (size_t{b[arr]} << 24 | size_t{b[arr + 1]} << 16 |
                        size_t{b[arr + 2]} << 8 | b[arr + 3]);
    for (size_t p = arr + 4; p + 4 <= end && end <= b.size();) {
        const uint16_t t = static_cast<uint16_t>(b[p] << 8 | b[p + 1]);
        const size_t len = size_t{b[p + 2]} << 8 | b[p + 3];
        if (t == type) {
            return p;
        }
        p += 4 + len;
    }
    return 0;
}

TEST_F(Family_, ADamagedNestedAceArrayRefusesTheRequest) {
    Request r(1);
    r.req()->aces[0] = make_ace(1, 3);
    Encoded e;
    encode(ostrel_api_plcy_update_req_to_tlv, r.req(), e);
    ASSERT_EQ(e.status, 0u);
    Bytes b = e.bytes();
    const size_t ace = find_tlv(b, 0, 17);
    ASSERT_NE(ace, 0u);
    const size_t fltr = find_tlv(b, ace + 4, 14);
    ASSERT_NE(fltr, 0u);
    b[fltr + 4 + 3] += 1; // the filter array claims one byte more than it has
    Request out = Request::zeroed(r.size());
    CaptureStderr();
    EXPECT_NE(ostrel_api_plcy_update_req_to_struct(
                  b.data(), static_cast<uint32_t>(b.size()), out.req(),
                  out.capacity()),
              0u);
    (void)GetCapturedStderr();
    EXPECT_EQ(out.req()->aces[0].fltr.fltr_tlv8, 0u) << "nothing decoded";
}

TEST_F(Family_, ARequestWhoseCountDisagreesWithItsAcesIsRefused) {
    Request r(2);
    Encoded e;
    encode(ostrel_api_plcy_update_req_to_tlv, r.req(), e);
    Bytes b = e.bytes();
    const size_t count = find_tlv(b, 0, 16);
    ASSERT_NE(count, 0u);
    const uint32_t three = 3;
    std::memcpy(&b[count + 4], &three, 4);
    Request out = Request::zeroed(OSTREL_PLCY_UPDATE_REQ_SIZE(3));
    CaptureStderr();
    const uint32_t status = ostrel_api_plcy_update_req_to_struct(
        b.data(), static_cast<uint32_t>(b.size()), out.req(), out.capacity());
    EXPECT_NE(status, 0u);
    EXPECT_EQ(GetCapturedStderr(),
              err_line("ostrel_api_plcy_update_req_to_struct", status));
}

TEST_F(Family_, ADecodeIntoARecordTooSmallForItsAcesIsRefused) {
    Request r(3);
    Encoded e;
    encode(ostrel_api_plcy_update_req_to_tlv, r.req(), e);
    Request out = Request::zeroed(r.size());
    CaptureStderr();
    EXPECT_NE(ostrel_api_plcy_update_req_to_struct(e.buf, e.len, out.req(),
                                                   r.size() - 1),
              0u);
    (void)GetCapturedStderr();
}

} // namespace
