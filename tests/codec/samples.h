// One sample record of every type and its golden encoding, written out
// byte by byte from the wire format on a little-endian host.
#pragma once

#include <bit>
#include <cstring>
#include <vector>

#include "ostrelapi.h"
#include "tlv_bytes.h"

namespace ostrel_test {

static_assert(std::endian::native == std::endian::little,
              "the golden encodings carry little-endian field values");

#define GOLDEN_PLCY "00000010 0001 0004 04030201 0002 0004 0d0c0b0a"
#define GOLDEN_DST                                                             \
    "0000001c 0004 0004 44332211 0005 0002 6655 0006 0002 7707 0007 0004 "     \
    "bbaa9988"
#define GOLDEN_FLTR                                                            \
    "00000036 0008 0004 04030201 0009 0002 0605 0013 0006 111213141516 "       \
    "0014 0006 212223242526 0015 0006 313233343536 0016 0006 414243444546"
#define GOLDEN_ACE                                                             \
    "00000056 000e 003a " GOLDEN_FLTR " 000f 0014 00000010 000a 0004 "         \
    "1d1c1b1a 000b 0004 2d2c2b2a"
// Neither the filter's nor the actions' presence bits set.
#define GOLDEN_BARE_ACE                                                        \
    "00000018 000e 000c 00000008 0008 0004 04030201 000f 0004 00000000"
#define GOLDEN_REQ                                                             \
    "000000c2 000c 0014 " GOLDEN_PLCY " 000d 0020 " GOLDEN_DST                 \
    " 0010 0004 02000000 0011 005a " GOLDEN_ACE " 0011 001c " GOLDEN_BARE_ACE

inline ostrel_api_ace_t sample_ace(uint64_t fltr_flags, uint64_t actn_flags) {
    ostrel_api_ace_t a;
    std::memset(&a, 0, sizeof a);
    a.fltr.fltr_tlv8 = 0x01020304;
    a.fltr.fltr_flags = fltr_flags;
    a.fltr.fltr_qualifier = 0x0506;
    for (uint8_t i = 0; i < 6; ++i) {
        a.fltr.fltr_addr1[i] = 0x11 + i;
        a.fltr.fltr_addr2[i] = 0x21 + i;
        a.fltr.fltr_addr3[i] = 0x31 + i;
        a.fltr.fltr_addr4[i] = 0x41 + i;
    }
    a.actn.actn_flags = actn_flags;
    a.actn.actn_tlv10 = 0x1a1b1c1d;
    a.actn.actn_tlv11 = 0x2a2b2c2d;
    return a;
}
inline const ostrel_api_plcy_t kSamplePlcy{0x01020304, 0x0a0b0c0d};
inline const ostrel_api_dst_t kSampleDst{0x11223344, 0x5566, 0x0777,
                                         0x8899aabb};
inline const ostrel_api_plcy_update_resp_t kSampleResp{0xdeadbeef};

// A request of 24 bytes plus n ACE records, in 8-byte aligned storage.
struct Request {
    explicit Request(uint32_t n) : words((24 + 64 * n + 7) / 8) {
        req()->plcy = kSamplePlcy;
        req()->dst = kSampleDst;
        req()->num_aces = n;
    }
    ostrel_api_plcy_update_req_t *req() {
        return reinterpret_cast<ostrel_api_plcy_update_req_t *>(words.data());
    }
    Bytes bytes() const { return bytes_of(words.data(), words.size() * 8); }
    std::vector<uint64_t> words;
};
// The sample request: ACEs with every presence bit, and with none.
inline Request sample_request(bool decoded = false) {
    Request r(2);
    r.req()->aces[0] = sample_ace(1, 3);
    r.req()->aces[1] = sample_ace(decoded ? 0 : 0xfe, decoded ? 0 : ~3ull);
    if (decoded) { // what a decoder stores of an ACE without presence bits
        const ostrel_api_ace_t bare = r.req()->aces[1];
        std::memset(&r.req()->aces[1], 0, 64);
        r.req()->aces[1].fltr.fltr_tlv8 = bare.fltr.fltr_tlv8;
    }
    return r;
}

} // namespace ostrel_test
