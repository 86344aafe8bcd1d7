// The simulated ACL service's programmed table.
#include "service_model.h"

#include <cstring>
#include <utility>

#include "counted.h"
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

} // namespace

void ServiceModel::apply(Request &&request, const char *source) {
    auto records = std::make_shared<const std::vector<ostrel_api_ace_t>>(
        std::move(request.aces));
    request.aces.clear();
    store(std::move(request), std::move(records), source);
}

void ServiceModel::store(Request &&head, Records records, const char *source) {
    const std::pair<uint16_t, uint32_t> key{head.vlan, head.if_index};
    table_[key] = Entry{std::move(head), std::move(records), source};
}

// The requests of a batch usually carry the same records (those of the
// whole VLAN), so each run of equal records is copied once and shared: the
// service then costs little more than the library's own work.
void ServiceModel::apply_batch(std::vector<RequestView> &&views) {
    Records shared;
    const RequestView *previous = nullptr;
    for (RequestView &v : views) {
        const uint32_t count = v.head.num_aces;
        const bool same = previous != nullptr &&
                          previous->head.num_aces == count &&
                          std::memcmp(previous->records, v.records,
                                      sizeof(ostrel_api_ace_t) * count) == 0;
        if (!same) {
            auto records = std::make_shared<std::vector<ostrel_api_ace_t>>();
            copy_records(v.records, count, records.get());
            shared = std::move(records);
        }
        previous = &v;
        store(Request(v.head), shared, "batch");
    }
}

Request ServiceModel::Entry::full() const {
    Request r = head;
    r.aces = *records;
    return r;
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
                text = "policy update of " + counted(n, "byte") + ": " +
                       format_request(request, 0);
            apply(std::move(request), "policy update");
        } else {
            status = kReplyMalformed;
            text = "refused: " + err + "\n";
        }
    } else {
        uint32_t word0 = 0;
        std::vector<RequestView> views;
        if (view_batch(bytes, n, &word0, &views, &err)) {
            Batch batch;
            if (log != nullptr && read_batch(bytes, n, &batch, &err))
                text = format_batch(batch, n, 0);
            apply_batch(std::move(views));
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
        entries.push_back(JsonObject()
                              .add("source", entry.source)
                              .add("removed", removed(entry.head))
                              .raw("request", request_json(entry.full(), false))
                              .str());
    return json_array(entries);
}

TableSummary ServiceModel::summary() const {
    TableSummary s;
    std::set<uint16_t> vlans;
    std::set<uint32_t> interfaces;
    for (const auto &[key, entry] : table_) {
        if (removed(entry.head)) {
            ++s.removed;
            continue;
        }
        ++s.entries;
        vlans.insert(key.first);
        interfaces.insert(key.second);
    }
    s.vlans = vlans.size();
    s.interfaces = interfaces.size();
    return s;
}

std::string ServiceModel::answer(uint32_t query) const {
    switch (query) {
    case kQueryTable:
        return table();
    case kQueryTableJson:
        return table_json();
    case kQueryTableSummary:
        return summary_answer(summary());
    default:
        return "";
    }
}

std::optional<Request> ServiceModel::find(uint16_t vlan,
                                          uint32_t if_index) const {
    auto it = table_.find({vlan, if_index});
    if (it == table_.end())
        return std::nullopt;
    return it->second.full();
}

std::string ServiceModel::table() const {
    size_t gone = 0;
    for (const auto &[key, entry] : table_)
        gone += removed(entry.head);
    size_t programmed = table_.size() - gone;
    std::string out =
        "programmed table: " +
        (programmed == 0 ? std::string("empty")
                         : counted(programmed, "entry", "entries")) +
        (gone != 0 ? ", " + counted(gone, "interface") + " removed"
                   : std::string()) +
        "\n";
    for (const auto &[key, entry] : table_)
        out += std::string("  (") + entry.source + ") " +
               (removed(entry.head)
                    ? "removed: vlan " + std::to_string(key.first) + " intf " +
                          std::to_string(key.second) + "\n"
                    : format_request(entry.full(), 2, false).substr(2));
    return out;
}

} // namespace ostrel::tools
