// ProgramRequest: one interface's programming request, laid out as an
// ostrel_api_plcy_update_req_t followed by its 64-byte ACE records.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>

#include "ostrelapi.h"

namespace ostrel {

struct FreeDeleter {
    void operator()(void *block) const { std::free(block); }
};

// A heap block of exactly `size` bytes holding one request; freed when the
// owner goes out of scope, so every return of the builder releases it.
class ProgramRequest {
public:
    // Builds the request of `intf` in `vlan` from the registry. Returns an
    // empty request (see ok()) when the block cannot be allocated; then
    // nothing has been written. Reads the registry only (the walk functions
    // take a non-const VLAN node).
    static ProgramRequest build(VlanNode &vlan, const IntfNode &intf,
                                uint32_t install);

    bool ok() const { return block_ != nullptr; }
    uint32_t size() const { return size_; }
    const void *data() const { return block_.get(); }

    uint32_t dst_if_index() const { return header().dst.dst_if_index; }
    void set_dst_if_index(uint32_t if_index) { header().dst.dst_if_index = if_index; }

private:
    ProgramRequest() = default;
    ostrel_api_plcy_update_req_t &header() { return *block_; }
    const ostrel_api_plcy_update_req_t &header() const { return *block_; }

    std::unique_ptr<ostrel_api_plcy_update_req_t, FreeDeleter> block_;
    uint32_t size_ = 0;
};

} // namespace ostrel
