// Which ACE records of a request were replaced, and how that reads.
#include <cstring>

#include "wire_decode.h"

namespace ostrel::tools {

namespace {

SlotNoteSource g_source = nullptr;

bool shows_ace_with(const Request &r, uint16_t qual) {
    for (const ostrel_api_ace_t &a : r.aces)
        if (std::strcmp(record_role(a), "ace") == 0 &&
            a.fltr.fltr_qualifier == qual)
            return true;
    return false;
}

} // namespace

void set_slot_note_source(SlotNoteSource source) {
    g_source = source;
}

std::vector<SlotNote> slot_notes(const Request &r, bool ask_source) {
    std::vector<SlotNote> notes;
    if (ask_source && g_source != nullptr && g_source(r, &notes))
        return notes;
    notes.clear();
    for (size_t k = 0; k < r.aces.size(); ++k) {
        const ostrel_api_ace_t &a = r.aces[k];
        if (std::strcmp(record_role(a), "close") != 0 ||
            a.fltr.fltr_qualifier == 0 ||
            shows_ace_with(r, a.fltr.fltr_qualifier))
            continue;
        notes.push_back({k, a.fltr.fltr_qualifier, 0, true});
    }
    return notes;
}

namespace {

std::string who(const SlotNote &n) {
    return "qual " + std::to_string(n.qual) +
           (n.intf != 0 ? " from intf " + std::to_string(n.intf) : "");
}

} // namespace

std::string format_slot_notes(const std::vector<SlotNote> &notes) {
    if (notes.empty())
        return "";
    const SlotNote &last = notes.back();
    std::string out =
        "slot " + std::to_string(last.slot) + ": " + who(notes[0]);
    for (size_t k = 1; k < notes.size(); ++k)
        out += ", then " + who(notes[k]);
    out += notes.size() > 1 ? ", each over the one before, the last replaced "
                              "by the "
                            : ", replaced by the ";
    return out + (last.by_closing
                      ? "closing record (only its qualifier is sent)"
                      : "next record (not sent)");
}

} // namespace ostrel::tools
