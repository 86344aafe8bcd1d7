// Text, JSON and wire forms of the table summary.
#include "table_summary.h"

#include <charconv>

#include "counted.h"

namespace ostrel::tools {

std::string summary_text(const TableSummary &s) {
    std::string out = "programmed table: ";
    if (s.entries == 0)
        out += "empty";
    else
        out += counted(s.entries, "entry", "entries") + ", " +
               counted(s.interfaces, "interface") + ", " +
               counted(s.vlans, "VLAN");
    if (s.removed != 0)
        out += ", " + counted(s.removed, "interface") + " removed";
    return out + "\n";
}

JsonObject summary_event(const TableSummary &s) {
    JsonObject event;
    event.add("event", "table_summary")
        .add("entries", s.entries)
        .add("interfaces", s.interfaces)
        .add("vlans", s.vlans)
        .add("removed", s.removed);
    return event;
}

std::string summary_answer(const TableSummary &s) {
    return std::to_string(s.entries) + " " + std::to_string(s.interfaces) +
           " " + std::to_string(s.vlans) + " " + std::to_string(s.removed);
}

bool read_summary_answer(std::string_view answer, TableSummary *s) {
    const char *p = answer.data();
    const char *end = p + answer.size();
    for (uint64_t *field :
         {&s->entries, &s->interfaces, &s->vlans, &s->removed}) {
        if (field != &s->entries && (p == end || *p++ != ' '))
            return false;
        auto [next, ec] = std::from_chars(p, end, *field);
        if (ec != std::errc())
            return false;
        p = next;
    }
    return p == end;
}

} // namespace ostrel::tools
