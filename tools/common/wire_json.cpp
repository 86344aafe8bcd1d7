// Decoded messages as JSON objects: every request head field, and every
// record with its role and the fields that role carries.
#include "wire_json.h"

#include "json_writer.h"

namespace ostrel::tools {

namespace {

void add_all_fields(const ostrel_api_ace_t &r, JsonObject *o) {
    const ostrel_api_ace_fltr_t &f = r.fltr;
    o->add("tlv8", f.fltr_tlv8)
        .add("flags", f.fltr_flags)
        .add("qual", f.fltr_qualifier)
        .add("addr1", format_mac(f.fltr_addr1))
        .add("fltr_addr2", format_mac(f.fltr_addr2))
        .add("fltr_addr3", format_mac(f.fltr_addr3))
        .add("fltr_addr4", format_mac(f.fltr_addr4))
        .add("actn_flags", r.actn.actn_flags)
        .add("actn_tlv10", r.actn.actn_tlv10)
        .add("actn_tlv11", r.actn.actn_tlv11);
}

// {"qual":Q,"intf":I,"by":"next record"|"closing record"}; intf only
// when known.
std::string note_json(const SlotNote &n) {
    JsonObject o;
    o.add("qual", n.qual);
    if (n.intf != 0)
        o.add("intf", n.intf);
    o.add("by", n.by_closing ? "closing record" : "next record");
    return o.str();
}

} // namespace

std::string record_json(const ostrel_api_ace_t &r, size_t slot,
                        const std::vector<SlotNote> &notes) {
    std::string_view role = record_role(r);
    JsonObject o;
    o.add("slot", slot).add("role", role);
    if (role == "ace")
        o.add("qual", r.fltr.fltr_qualifier)
            .add("addr1", format_mac(r.fltr.fltr_addr1))
            .add("addr2", format_mac(r.fltr.fltr_addr3));
    else if (role == "close")
        o.add("qual", r.fltr.fltr_qualifier);
    else if (role == "other")
        add_all_fields(r, &o);
    std::vector<std::string> replaced;
    for (const SlotNote &n : notes)
        if (n.slot == slot)
            replaced.push_back(note_json(n));
    if (!replaced.empty())
        o.raw("replaced", json_array(replaced));
    return o.str();
}

std::string request_json(const Request &r, bool ask_source) {
    std::vector<std::string> records;
    std::vector<SlotNote> notes = slot_notes(r, ask_source);
    for (size_t k = 0; k < r.aces.size(); ++k)
        records.push_back(record_json(r.aces[k], k, notes));
    return JsonObject()
        .add("op", r.plcy_op)
        .add("op_name", op_name(r.plcy_op))
        .add("vlan", r.vlan)
        .add("intf", r.if_index)
        .add("plcy_tlv2", r.plcy_tlv2)
        .add("dst_tlv4", r.dst_tlv4)
        .add("dst_tlv5", r.dst_tlv5)
        .add("num_aces", r.num_aces)
        .raw("records", json_array(records))
        .str();
}

std::string message_json(const uint8_t *bytes, size_t n) {
    JsonObject o;
    std::string err;
    Batch batch;
    Request request;
    if (read_batch(bytes, n, &batch, &err)) {
        std::vector<std::string> requests;
        for (const Request &r : batch.requests)
            requests.push_back(request_json(r));
        o.add("kind", "batch").add("length", n).add("word0", batch.word0);
        o.raw("requests", json_array(requests));
    } else if (classify(bytes, n) == MessageKind::PolicyUpdate &&
               read_plcy_update(bytes, n, &request, &err)) {
        o.add("kind", "policy_update").add("length", n);
        o.raw("request", request_json(request));
    } else {
        std::string text;
        (void)decode_message(bytes, n, &text, &err);
        o.add("kind", "malformed").add("length", n).add("reason", err);
    }
    return o.str();
}

} // namespace ostrel::tools
