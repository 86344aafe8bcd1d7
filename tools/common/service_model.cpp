// The simulated ACL service's programmed table.
#include "service_model.h"

#include <utility>

#include "json_writer.h"
#include "service_protocol.h"
#include "wire_json.h"
#include "yarl.h"

namespace ostrel::tools {

namespace {

// A remove request leaves nothing programmed on its interface.
bool removed(const Request &r) {
    return r.plcy_op == kOpRemove;
}

std::string count(size_t n, const char *one, const char *many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

} // namespace

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
                .add("removed", removed(entry.request))
                .raw("request", request_json(entry.request, false))
                .str());
    return json_array(entries);
}

const Request *ServiceModel::find(uint16_t vlan, uint32_t if_index) const {
    auto it = table_.find({vlan, if_index});
    return it == table_.end() ? nullptr : &it->second.request;
}

std::string ServiceModel::table() const {
    size_t gone = 0;
    for (const auto &[key, entry] : table_)
        gone += removed(entry.request);
    size_t programmed = table_.size() - gone;
    std::string out =
        "programmed table: " +
        (programmed == 0 ? std::string("empty")
                         : count(programmed, "entry", "entries")) +
        (gone != 0 ? ", " + count(gone, "interface", "interfaces") + " removed"
                   : std::string()) +
        "\n";
    for (const auto &[key, entry] : table_)
        out += std::string("  (") + entry.source + ") " +
               (removed(entry.request)
                    ? "removed: vlan " + std::to_string(key.first) + " intf " +
                          std::to_string(key.second) + "\n"
                    : format_request(entry.request, 2, false).substr(2));
    return out;
}

} // namespace ostrel::tools
