// Policy update requests of any size for the tests: the 24-byte fixed part
// followed by n ACE records, in 8-byte aligned storage.
#pragma once

#include <cstring>
#include <vector>

#include "ostrelapi.h"
#include "tlv_bytes.h"

namespace codec_test {

class Request {
  public:
    // A request with n ACEs; ACE i gets flag combination i % 8 (filter bit
    // from bit 2 of it, action bits from bits 0 and 1) unless given.
    explicit Request(uint32_t n)
        : words_((OSTREL_PLCY_UPDATE_REQ_SIZE(n) + 7) / 8) {
        req()->plcy.plcy_op = 1;
        req()->plcy.plcy_tlv2 = 0x22222222;
        req()->dst.dst_tlv4 = 0x44444444;
        req()->dst.dst_tlv5 = 0x5555;
        req()->dst.dst_vlan = 100;
        req()->dst.dst_if_index = 0x07000007;
        req()->num_aces = n;
        for (uint32_t i = 0; i < n; ++i) {
            const uint32_t combo = i % 8;
            req()->aces[i] =
                make_ace(combo >> 2, combo & 3, static_cast<uint8_t>(i + 1));
        }
    }
    // Zero-filled room for a request of `bytes` bytes.
    static Request zeroed(uint32_t bytes) {
        Request r(0);
        r.words_.assign((bytes + 7) / 8, 0);
        return r;
    }

    ostrel_api_plcy_update_req_t *req() {
        return reinterpret_cast<ostrel_api_plcy_update_req_t *>(words_.data());
    }
    const ostrel_api_plcy_update_req_t *req() const {
        return reinterpret_cast<const ostrel_api_plcy_update_req_t *>(
            words_.data());
    }
    uint32_t size() const {
        return OSTREL_PLCY_UPDATE_REQ_SIZE(req()->num_aces);
    }
    uint32_t capacity() const {
        return static_cast<uint32_t>(words_.size() * 8);
    }

  private:
    std::vector<uint64_t> words_;
};

// What decoding the encoding of ACE `src` into a zeroed record gives back:
// the fields that were encoded, with the presence bits that were encoded.
inline ostrel_api_ace_t decoded_ace(const ostrel_api_ace_t &src) {
    ostrel_api_ace_t out;
    std::memset(&out, 0, sizeof out);
    out.fltr.fltr_tlv8 = src.fltr.fltr_tlv8;
    if (src.fltr.fltr_flags & 1) {
        out.fltr.fltr_flags = 1;
        out.fltr.fltr_qualifier = src.fltr.fltr_qualifier;
        std::memcpy(out.fltr.fltr_addr1, src.fltr.fltr_addr1, 6);
        std::memcpy(out.fltr.fltr_addr2, src.fltr.fltr_addr2, 6);
        std::memcpy(out.fltr.fltr_addr3, src.fltr.fltr_addr3, 6);
        std::memcpy(out.fltr.fltr_addr4, src.fltr.fltr_addr4, 6);
    }
    out.actn.actn_flags = src.actn.actn_flags & 3;
    if (src.actn.actn_flags & 1) {
        out.actn.actn_tlv10 = src.actn.actn_tlv10;
    }
    if (src.actn.actn_flags & 2) {
        out.actn.actn_tlv11 = src.actn.actn_tlv11;
    }
    return out;
}

} // namespace codec_test
