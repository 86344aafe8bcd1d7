// The simulated ACL service's state: for every VLAN and interface the last
// request it was sent, from a programming batch or a policy update. A
// message is validated whole before any of it is applied.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>

#include "table_summary.h"
#include "wire_decode.h"

namespace ostrel::tools {

class ServiceModel {
  public:
    // Handles one message received under `opcode`. Returns the reply
    // status (service_protocol.h); *log (optional) gets the decoded
    // message or the reason it was refused.
    uint32_t handle(uint32_t opcode, const uint8_t *bytes, size_t n,
                    std::string *log);
    // The programmed table in readable form.
    std::string table() const;
    // The programmed table as a JSON array of {"source":..,"request":{..}}.
    std::string table_json() const;
    // The programmed table in numbers.
    TableSummary summary() const;
    // The answer to a table query (service_protocol.h: kQueryTable,
    // kQueryTableJson, kQueryTableSummary); empty for another query.
    std::string answer(uint32_t query) const;
    size_t size() const { return table_.size(); }
    // The entry of (vlan, if_index), if there is one.
    std::optional<Request> find(uint16_t vlan, uint32_t if_index) const;

  private:
    using Records = std::shared_ptr<const std::vector<ostrel_api_ace_t>>;
    // A request's head (its aces left empty) and its records, which the
    // entries of one batch share when they are equal.
    struct Entry {
        Request head;
        Records records;
        const char *source;
        Request full() const;
    };
    void apply(Request &&request, const char *source);
    void apply_batch(std::vector<RequestView> &&views);
    void store(Request &&head, Records records, const char *source);

    std::map<std::pair<uint16_t, uint32_t>, Entry> table_;
};

} // namespace ostrel::tools
