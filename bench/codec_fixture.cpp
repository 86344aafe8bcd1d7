#include "codec_fixture.h"

#include <cstdlib>
#include <cstring>

#include "programming/batch_layout.h"

namespace bench {

namespace {

// Values of ACE k: every field differs from one record to the next.
void fill_ace(ostrel_api_ace_t &ace, uint32_t k) {
    ostrel_api_ace_fltr_t &f = ace.fltr;
    f.fltr_tlv8 = ostrel::request_values::kFltrTlv8Ace;
    f.fltr_flags = OSTREL_FLTR_FLAG_PRESENT;
    f.fltr_qualifier = static_cast<uint16_t>(0x100 + k);
    const uint8_t hi = static_cast<uint8_t>(k >> 8);
    const uint8_t lo = static_cast<uint8_t>(k);
    const uint8_t a1[6] = {0x02, 0x01, 0, 0, hi, lo};
    const uint8_t a2[6] = {0x02, 0x02, 0, 0, hi, lo};
    const uint8_t a3[6] = {0x02, 0x03, 0, 0, hi, lo};
    const uint8_t a4[6] = {0x02, 0x04, 0, 0, hi, lo};
    std::memcpy(f.fltr_addr1, a1, 6);
    std::memcpy(f.fltr_addr2, a2, 6);
    std::memcpy(f.fltr_addr3, a3, 6);
    std::memcpy(f.fltr_addr4, a4, 6);
    ostrel_api_ace_actn_t &a = ace.actn;
    a.actn_flags = OSTREL_ACTN_FLAG_TLV10 | OSTREL_ACTN_FLAG_TLV11;
    a.actn_tlv10 = 1;
    a.actn_tlv11 = 0x10000 + k;
}

ProtobufCBinaryData bytes_of(const uint8_t (&addr)[6]) {
    ProtobufCBinaryData b;
    b.len = sizeof addr;
    b.data = const_cast<uint8_t *>(addr);
    return b;
}

} // namespace

CodecFixture::CodecFixture(uint32_t aces)
    : aces_(aces), record_(static_cast<ostrel_api_plcy_update_req_t *>(
                       std::calloc(1, OSTREL_PLCY_UPDATE_REQ_SIZE(aces)))) {
    if (!record_) {
        std::abort();
    }
    fill_record();
    fill_message();

    uint8_t *buf = nullptr;
    uint32_t err_type = 0;
    if (ostrel_api_plcy_update_req_to_tlv(record_.get(), &buf, &tlv_len_, 0,
                                          &err_type, 0) != 0) {
        std::abort();
    }
    tlv_.reset(buf);
    packed_.resize(benchpb__plcy_update_req__get_packed_size(&req_));
    if (benchpb__plcy_update_req__pack(&req_, packed_.data()) !=
        packed_.size()) {
        std::abort();
    }
}

void CodecFixture::fill_record() {
    ostrel_api_plcy_update_req_t &r = *record_;
    r.plcy.plcy_op = ostrel::request_values::kOpInstall;
    r.plcy.plcy_tlv2 = ostrel::request_values::kPlcyTlv2;
    r.dst.dst_tlv4 = ostrel::request_values::kDstTlv4;
    r.dst.dst_tlv5 = ostrel::request_values::kDstTlv5;
    r.dst.dst_vlan = 100;
    r.dst.dst_if_index = 0x01000007;
    r.num_aces = aces_;
    for (uint32_t k = 0; k < aces_; ++k) {
        fill_ace(r.aces[k], k);
    }
}

// The same values, read back from the record so that the two agree.
void CodecFixture::fill_message() {
    const ostrel_api_plcy_update_req_t &r = *record_;
    plcy_.has_plcy_op = plcy_.has_plcy_tlv2 = 1;
    plcy_.plcy_op = r.plcy.plcy_op;
    plcy_.plcy_tlv2 = r.plcy.plcy_tlv2;
    dst_.has_dst_tlv4 = dst_.has_dst_tlv5 = 1;
    dst_.has_dst_vlan = dst_.has_dst_if_index = 1;
    dst_.dst_tlv4 = r.dst.dst_tlv4;
    dst_.dst_tlv5 = r.dst.dst_tlv5;
    dst_.dst_vlan = r.dst.dst_vlan;
    dst_.dst_if_index = r.dst.dst_if_index;

    fltrs_.resize(aces_);
    actns_.resize(aces_);
    ace_msgs_.resize(aces_);
    ace_ptrs_.resize(aces_);
    for (uint32_t k = 0; k < aces_; ++k) {
        const ostrel_api_ace_t &ace = r.aces[k];
        Benchpb__AceFltr &f = fltrs_[k];
        benchpb__ace_fltr__init(&f);
        benchpb__ace_actn__init(&actns_[k]);
        benchpb__ace__init(&ace_msgs_[k]);
        f.has_fltr_tlv8 = f.has_fltr_qualifier = 1;
        f.fltr_tlv8 = ace.fltr.fltr_tlv8;
        f.fltr_qualifier = ace.fltr.fltr_qualifier;
        f.has_fltr_addr1 = f.has_fltr_addr2 = 1;
        f.has_fltr_addr3 = f.has_fltr_addr4 = 1;
        f.fltr_addr1 = bytes_of(ace.fltr.fltr_addr1);
        f.fltr_addr2 = bytes_of(ace.fltr.fltr_addr2);
        f.fltr_addr3 = bytes_of(ace.fltr.fltr_addr3);
        f.fltr_addr4 = bytes_of(ace.fltr.fltr_addr4);
        Benchpb__AceActn &a = actns_[k];
        a.has_actn_tlv10 = a.has_actn_tlv11 = 1;
        a.actn_tlv10 = ace.actn.actn_tlv10;
        a.actn_tlv11 = ace.actn.actn_tlv11;
        ace_msgs_[k].fltr = &f;
        ace_msgs_[k].actn = &a;
        ace_ptrs_[k] = &ace_msgs_[k];
    }
    req_.plcy = &plcy_;
    req_.dst = &dst_;
    req_.has_num_aces = 1;
    req_.num_aces = r.num_aces;
    req_.n_aces = aces_;
    req_.aces = ace_ptrs_.data();
}

} // namespace bench
