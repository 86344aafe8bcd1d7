// The programmed table in numbers, for one line of output instead of the
// whole table: the entries (VLAN and interface pairs holding ACEs), the
// interfaces and VLANs they cover, and the interfaces whose last request
// was a remove.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "json_writer.h"

namespace ostrel::tools {

struct TableSummary {
    uint64_t entries = 0;
    uint64_t interfaces = 0;
    uint64_t vlans = 0;
    uint64_t removed = 0;
};

// "programmed table: 96 entries, 48 interfaces, 8 VLANs" (", 1 interface
// removed" when there are), or "programmed table: empty".
std::string summary_text(const TableSummary &s);
// {"event":"table_summary","entries":..,"interfaces":..,"vlans":..,
// "removed":..}
JsonObject summary_event(const TableSummary &s);

// The daemon's answer to the summary query: the four numbers in the
// order above, separated by spaces.
std::string summary_answer(const TableSummary &s);
bool read_summary_answer(std::string_view answer, TableSummary *s);

} // namespace ostrel::tools
