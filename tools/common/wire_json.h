// The decoded messages of wire_decode.h as JSON objects, for the tools'
// JSON Lines output (schema in tools/README.md).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "wire_decode.h"

namespace ostrel::tools {

// {"slot":K,"role":"ace"|"close"|"end"|"empty"|"other",...}, with
// "replaced":[{"qual","intf","by"}...] for the notes of that slot.
std::string record_json(const ostrel_api_ace_t &record, size_t slot,
                        const std::vector<SlotNote> &notes = {});
// {"op":..,"op_name":..,"vlan":..,"intf":..,...,"records":[...]}
// ask_source: as for slot_notes().
std::string request_json(const Request &request, bool ask_source = true);
// {"kind":"batch"|"policy_update"|"malformed","length":N,...}
std::string message_json(const uint8_t *bytes, size_t n);

} // namespace ostrel::tools
