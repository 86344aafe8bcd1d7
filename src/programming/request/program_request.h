// ProgramRequest: one interface's programming request, laid out as an
// ostrel_api_plcy_update_req_t followed by its 64-byte ACE records.
//
// The request's bytes are written straight into the batch
// (write_request_into, write_request_reusing).
//
// The builder's allocation contract: every build allocates one heap block
// of exactly the request's size, once the size is known and before the
// message record is checked, the destination is queried or the batch is
// flushed, opened or appended to, and releases it before it returns. When
// that allocation fails the build returns OSTREL_STATUS_INVALID with the
// batch, the pending port-channel override and did_yarl_send unchanged. A
// ProgramRequest is that block; nothing is written into it.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>

#include "ostrelapi.h"
#include "ostrelapi.hpp"

namespace ostrel {

// Size in bytes of the request of `intf` in `vlan`: the header, one record
// per ACE slot and the two closing records. 0 when a u32 length cannot
// carry it. Reads the registry only.
uint32_t request_size(VlanNode &vlan, const IntfNode &intf);

// Writes the complete request of `intf` in `vlan` (exactly the bytes that
// request_size returned) at dst, whatever dst held before: every byte is
// written once.
void write_request_into(void *dst, VlanNode &vlan, const IntfNode &intf,
                        uint32_t install);

// Writes the request of `intf` at dst by taking the records from an
// earlier request `from` of the same VLAN and the same size whose named
// interface also held ACEs: within one operation those requests carry the
// same records and differ only in their header.
void write_request_reusing(void *dst, const void *from, uint32_t size,
                           VlanNode &vlan, const IntfNode &intf,
                           uint32_t install);

// dst_if_index of the request at `request`, and a new value for it.
uint32_t request_dst_if_index(const void *request);
void set_request_dst_if_index(void *request, uint32_t if_index);

// The request's heap block of exactly size() bytes (the allocation
// contract above); freed when the owner goes out of scope, so every return
// of the builder releases it.
class ProgramRequest {
  public:
    // Allocates the block for the request of `intf` in `vlan`. Returns an
    // empty request (see ok()) when it cannot be allocated.
    static ProgramRequest allocate(VlanNode &vlan, const IntfNode &intf);

    bool ok() const { return block_ != nullptr; }
    uint32_t size() const { return size_; }

  private:
    ProgramRequest() = default;

    std::unique_ptr<void, free_deleter> block_;
    uint32_t size_ = 0;
};

} // namespace ostrel
