// One policy update request with n ACE records, every presence bit set, as
// our record and as the equivalent protobuf-c message (plcy_update.proto),
// holding the same values.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "ostrelapi.h"
#include "ostrelapi.hpp"
#include "plcy_update.pb-c.h"

namespace bench {

class CodecFixture {
  public:
    explicit CodecFixture(uint32_t aces);
    CodecFixture(const CodecFixture &) = delete;
    CodecFixture &operator=(const CodecFixture &) = delete;

    uint32_t aces() const { return aces_; }
    uint32_t record_size() const { return OSTREL_PLCY_UPDATE_REQ_SIZE(aces_); }
    const ostrel_api_plcy_update_req_t *record() const { return record_.get(); }
    const Benchpb__PlcyUpdateReq *message() const { return &req_; }

    // Our TLV encoding of record() and its length.
    const uint8_t *tlv() const { return tlv_.get(); }
    uint32_t tlv_len() const { return tlv_len_; }
    // protobuf-c's encoding of message().
    const uint8_t *packed() const { return packed_.data(); }
    size_t packed_len() const { return packed_.size(); }

  private:
    void fill_record();
    void fill_message();

    uint32_t aces_;
    std::unique_ptr<ostrel_api_plcy_update_req_t, ostrel::free_deleter> record_;
    std::unique_ptr<uint8_t, ostrel::free_deleter> tlv_;
    uint32_t tlv_len_ = 0;

    Benchpb__Plcy plcy_ = BENCHPB__PLCY__INIT;
    Benchpb__Dst dst_ = BENCHPB__DST__INIT;
    std::vector<Benchpb__AceFltr> fltrs_;
    std::vector<Benchpb__AceActn> actns_;
    std::vector<Benchpb__Ace> ace_msgs_;
    std::vector<Benchpb__Ace *> ace_ptrs_;
    Benchpb__PlcyUpdateReq req_ = BENCHPB__PLCY_UPDATE_REQ__INIT;
    std::vector<uint8_t> packed_;
};

} // namespace bench
