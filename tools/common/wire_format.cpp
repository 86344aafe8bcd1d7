// Readable forms of requests and their 64-byte records. A record the
// request builder writes is named by its role (ace, close, end); any other
// record is shown field by field.
#include <cstdio>
#include <cstring>

#include "counted.h"
#include "wire_decode.h"

namespace ostrel::tools {

std::string format_mac(const uint8_t a[6]) {
    char buf[18];
    std::snprintf(buf, sizeof buf, "%02x:%02x:%02x:%02x:%02x:%02x", a[0], a[1],
                  a[2], a[3], a[4], a[5]);
    return buf;
}

namespace {

bool zero(const uint8_t *p, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (p[i] != 0)
            return false;
    return true;
}

bool pads_zero(const ostrel_api_ace_fltr_t &f) {
    return zero(f.fltr_pad4, sizeof f.fltr_pad4) &&
           zero(f.fltr_pad42, sizeof f.fltr_pad42);
}

// Action part as the builder writes it: flags 1, tlv10 as given, tlv11 0.
bool action_is(const ostrel_api_ace_actn_t &a, uint32_t tlv10) {
    return a.actn_flags == 1 && a.actn_tlv10 == tlv10 && a.actn_tlv11 == 0;
}

bool is_ace(const ostrel_api_ace_t &r) {
    const ostrel_api_ace_fltr_t &f = r.fltr;
    return f.fltr_tlv8 == 3 && f.fltr_flags == 1 && pads_zero(f) &&
           zero(f.fltr_addr2, 6) && zero(f.fltr_addr4, 6) &&
           action_is(r.actn, 1);
}

bool is_close(const ostrel_api_ace_t &r) {
    const ostrel_api_ace_fltr_t &f = r.fltr;
    return f.fltr_tlv8 == 3 && f.fltr_flags == 0 && pads_zero(f) &&
           zero(f.fltr_addr1, 24) && action_is(r.actn, 0);
}

bool is_end(const ostrel_api_ace_t &r) {
    const ostrel_api_ace_fltr_t &f = r.fltr;
    return f.fltr_tlv8 == 1 && f.fltr_flags == 0 && f.fltr_qualifier == 0 &&
           pads_zero(f) && zero(f.fltr_addr1, 24) && action_is(r.actn, 0);
}

std::string fields(const ostrel_api_ace_t &r) {
    const ostrel_api_ace_fltr_t &f = r.fltr;
    char buf[160];
    std::snprintf(buf, sizeof buf,
                  "record tlv8 %u flags 0x%llx qual %u addr1 %s addr2 %s "
                  "addr3 %s addr4 %s",
                  f.fltr_tlv8, static_cast<unsigned long long>(f.fltr_flags),
                  f.fltr_qualifier, format_mac(f.fltr_addr1).c_str(),
                  format_mac(f.fltr_addr2).c_str(),
                  format_mac(f.fltr_addr3).c_str(),
                  format_mac(f.fltr_addr4).c_str());
    char act[96];
    std::snprintf(act, sizeof act, " actn flags 0x%llx tlv10 %u tlv11 %u",
                  static_cast<unsigned long long>(r.actn.actn_flags),
                  r.actn.actn_tlv10, r.actn.actn_tlv11);
    return std::string(buf) + act;
}

} // namespace

std::string op_name(uint32_t op) {
    if (op == kOpInstall)
        return "install";
    if (op == kOpRemove)
        return "remove";
    return "op " + std::to_string(op);
}

namespace {

// The head words the builder always writes the same way; shown only when
// they differ.
std::string unusual_head(const Request &r) {
    if (r.plcy_tlv2 == 3 && r.dst_tlv4 == 1 && r.dst_tlv5 == 1)
        return "";
    char buf[64];
    std::snprintf(buf, sizeof buf, " (tlv2 %u tlv4 %u tlv5 %u)", r.plcy_tlv2,
                  r.dst_tlv4, r.dst_tlv5);
    return buf;
}

} // namespace

const char *record_role(const ostrel_api_ace_t &r) {
    if (is_ace(r))
        return "ace";
    if (is_close(r))
        return "close";
    if (is_end(r))
        return "end";
    if (zero(reinterpret_cast<const uint8_t *>(&r), sizeof r))
        return "empty";
    return "other";
}

std::string format_record(const ostrel_api_ace_t &r) {
    if (is_ace(r))
        return "ace qual " + std::to_string(r.fltr.fltr_qualifier) + " addr1 " +
               format_mac(r.fltr.fltr_addr1) + " addr2 " +
               format_mac(r.fltr.fltr_addr3);
    if (is_close(r))
        return "close qual " + std::to_string(r.fltr.fltr_qualifier);
    if (is_end(r))
        return "end";
    if (zero(reinterpret_cast<const uint8_t *>(&r), sizeof r))
        return "empty";
    return fields(r);
}

std::string format_request(const Request &r, int indent, bool ask_source) {
    std::string pad(static_cast<size_t>(indent), ' ');
    std::string out = pad + op_name(r.plcy_op) + " vlan " +
                      std::to_string(r.vlan) + " intf " +
                      std::to_string(r.if_index) + unusual_head(r) + ", " +
                      counted(r.aces.size(), "record") + "\n";
    std::vector<SlotNote> notes = slot_notes(r, ask_source);
    for (size_t k = 0; k < r.aces.size(); ++k) {
        out += pad + "  [" + std::to_string(k) + "] " +
               format_record(r.aces[k]) + "\n";
        std::vector<SlotNote> here;
        for (const SlotNote &n : notes)
            if (n.slot == k)
                here.push_back(n);
        if (!here.empty())
            out += pad + "      " + format_slot_notes(here) + "\n";
    }
    return out;
}

std::string format_batch(const Batch &b, size_t n, int indent) {
    std::string pad(static_cast<size_t>(indent), ' ');
    std::string out = pad + "batch of " + counted(n, "byte") + ", word0 " +
                      std::to_string(b.word0) + ", " +
                      counted(b.requests.size(), "request") + "\n";
    for (size_t i = 0; i < b.requests.size(); ++i)
        out += pad + "  request " + std::to_string(i + 1) + ": " +
               format_request(b.requests[i], indent + 2).substr(indent + 2);
    return out;
}

} // namespace ostrel::tools
