// The layout of a programming batch as the ACL service receives it, shared
// by the library that builds batches, the tools that decode them and the
// tests that check them. Every word is in host byte order.
//
//   offset 0  u32  word 0: 1 when the batch is its call's final send, else 0
//   offset 4  u32  number of requests
//   offset 8  ...  the requests back to back, each an
//                  ostrel_api_plcy_update_req_t: a 24-byte head, then
//                  num_aces 64-byte ACE records
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "ostrelapi.h"

namespace ostrel {

// Size in bytes of the batch block sent to the ACL service.
inline constexpr uint32_t kBatchSize = OSTREL_BATCH_SIZE;
inline constexpr uint32_t kBatchHeadSize = 8;
inline constexpr uint32_t kBatchWord0Offset = 0;
inline constexpr uint32_t kBatchCountOffset = 4;

inline constexpr uint32_t kRequestHeadSize =
    offsetof(ostrel_api_plcy_update_req_t, aces);
inline constexpr uint32_t kRequestIfIndexOffset =
    offsetof(ostrel_api_plcy_update_req_t, dst) +
    offsetof(ostrel_api_dst_t, dst_if_index);
inline constexpr uint32_t kRequestCountOffset =
    offsetof(ostrel_api_plcy_update_req_t, num_aces);
inline constexpr uint32_t kRecordSize = sizeof(ostrel_api_ace_t);
static_assert(OSTREL_PLCY_UPDATE_REQ_SIZE(1) == kRequestHeadSize + kRecordSize);

// The values a programming request's head carries, and the fltr_tlv8 of
// an ACE record, as the request builder writes them.
namespace request_values {
inline constexpr uint32_t kOpInstall = 1; // plcy_op: the interface has ACEs
inline constexpr uint32_t kOpRemove = 2;  // plcy_op: it has none left
inline constexpr uint32_t kPlcyTlv2 = 3;
inline constexpr uint32_t kDstTlv4 = 1;
inline constexpr uint16_t kDstTlv5 = 1;
inline constexpr uint32_t kFltrTlv8Ace = 3;
} // namespace request_values

// A host-order u32 at any address.
[[nodiscard]] inline uint32_t load_u32(const uint8_t *p) {
    uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// Walks the requests behind a batch's head, one at a time, checking each
// request's claimed length against the bytes there before it is used:
//
//   for (BatchCursor c(bytes, n); c.request_fits(); c.next()) ...
//
// A well-formed batch ends with at_end() true.
class BatchCursor {
  public:
    BatchCursor(const uint8_t *batch, size_t n) : batch_(batch), n_(n) {}

    // Offset of the current request (n when every request has been passed).
    size_t offset() const { return at_; }
    bool at_end() const { return at_ == n_; }
    // The current request's head lies inside the batch.
    bool head_fits() const { return at_ <= n_ && n_ - at_ >= kRequestHeadSize; }
    // ...and so do the records it claims.
    bool request_fits() const { return head_fits() && size() <= n_ - at_; }

    // The current request; its head must fit.
    const uint8_t *request() const { return batch_ + at_; }
    uint32_t if_index() const {
        return load_u32(request() + kRequestIfIndexOffset);
    }
    uint32_t num_aces() const {
        return load_u32(request() + kRequestCountOffset);
    }
    uint64_t size() const {
        return kRequestHeadSize + uint64_t{kRecordSize} * num_aces();
    }

    // Moves to the next request; the current one must fit.
    void next() { at_ += static_cast<size_t>(size()); }

  private:
    const uint8_t *batch_;
    size_t n_;
    size_t at_ = kBatchHeadSize;
};

} // namespace ostrel
