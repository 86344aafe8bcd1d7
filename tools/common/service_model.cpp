// The simulated ACL service's programmed table.
#include "service_model.h"

#include <utility>

#include "json_writer.h"
#include "service_protocol.h"
#include "wire_json.h"
#include "yarl.h"

namespace ostrel::tools {

void ServiceModel::apply(Request &&request, const char *source) {
    const std::pair<uint16_t, uint32_t> key{request.vlan, request.if_index};
    table_[key] = Entry{std::move(request), source};
}

uint32_t ServiceModel::handle(uint32_t opcode, const uint8_t *bytes, size_t n,
                              std::string *log) {
    std::string text;
    std::string err;
    uint32_t status = kReplyOk;
    if (opcode != OSTREL_ACL_OPCODE) {
        status = kReplyUnknownOpcode;
        text = "refused: unknown opcode " + std::to_string(opcode) + "\n";
    } else if (classify(bytes, n) == MessageKind::PolicyUpdate) {
        Request request;
        if (read_plcy_update(bytes, n, &request, &err)) {
            if (log !=
                nullptr) // formatting is most of the work: only on demand
                text = "policy update of " + std::to_string(n) +
                       " bytes: " + format_request(request, 0);
            apply(std::move(request), "policy update");
        } else {
            status = kReplyMalformed;
            text = "refused: " + err + "\n";
        }
    } else {
        Batch batch;
        if (read_batch(bytes, n, &batch, &err)) {
            if (log != nullptr)
                text = format_batch(batch, n, 0);
            for (Request &r : batch.requests)
                apply(std::move(r), "batch");
        } else {
            status = kReplyMalformed;
            text = "refused: " + err + "\n";
        }
    }
    if (log != nullptr)
        *log = std::move(text);
    return status;
}

std::string ServiceModel::table_json() const {
    std::vector<std::string> entries;
    for (const auto &[key, entry] : table_)
        entries.push_back(
            JsonObject()
                .add("source", entry.source)
                .raw("request", request_json(entry.request, false))
                .str());
    return json_array(entries);
}

const Request *ServiceModel::find(uint16_t vlan, uint32_t if_index) const {
    auto it = table_.find({vlan, if_index});
    return it == table_.end() ? nullptr : &it->second.request;
}

std::string ServiceModel::table() const {
    if (table_.empty())
        return "programmed table: empty\n";
    std::string out = "programmed table: " + std::to_string(table_.size()) +
                      (table_.size() == 1 ? " entry\n" : " entries\n");
    for (const auto &[key, entry] : table_)
        out += std::string("  (") + entry.source + ") " +
               format_request(entry.request, 2, false).substr(2);
    return out;
}

} // namespace ostrel::tools
