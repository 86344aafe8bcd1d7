// Slot notes from the library's own registry: which ACE, of which
// interface, each replaced record was.
#pragma once

#include <vector>

#include "wire_decode.h"

namespace ostrel::aclctl {

// Replays the request builder's slot rule over the VLAN's interfaces in
// the registry. False when the request's records are not the ones the
// registry gives now (another VLAN state, or not a builder request).
bool registry_slot_notes(const tools::Request &request,
                         std::vector<tools::SlotNote> *notes);

} // namespace ostrel::aclctl
