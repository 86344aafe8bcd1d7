// Records built once per operation. An add or a delete rebuilds the
// request of every interface of one VLAN while the registry stays as it
// is, and every such request whose named interface holds ACEs carries the
// same records: only the header differs. Inside a RecordReuse scope the
// request builder therefore writes the records from the registry once and
// copies them from that earlier request in the open batch for every
// further interface (across a flush, from the batch just sent, which the
// builder keeps until the copy is made).
//
// The sizing sum over the VLAN's interfaces is kept the same way. Nothing
// is allocated for this: the earlier copy lies in a batch block, which the
// operation allocates anyway. Outside a scope (a direct call of the
// builder, with the registry free to change between calls) every request
// is built from the registry.
#pragma once

#include <cstdint>
#include <optional>

#include "ostrelapi.h"

namespace ostrel {

// Marks the operation on `vlan` during which its registry does not change.
// Scopes do not nest.
class RecordReuse {
  public:
    explicit RecordReuse(const VlanNode *vlan);
    ~RecordReuse();
    RecordReuse(const RecordReuse &) = delete;
    RecordReuse &operator=(const RecordReuse &) = delete;
};

// An earlier request of the open batch whose records the request of
// `intf` (size bytes) in `vlan` may take, or null.
const void *reusable_request(const VlanNode &vlan, const IntfNode &intf,
                             uint32_t size);

// Offers the request just written at `copy` in the open batch for reuse.
void offer_request(const VlanNode &vlan, const IntfNode &intf, const void *copy,
                   uint32_t size);

// The record count that sizes every request of `vlan` whose named
// interface holds ACEs, once remembered in the scope; it cannot change
// while the scope lasts.
std::optional<uint64_t> scoped_extra_records(const VlanNode &vlan);
void remember_extra_records(const VlanNode &vlan, uint64_t extra);

} // namespace ostrel
