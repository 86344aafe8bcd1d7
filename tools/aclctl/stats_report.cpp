#include "stats_report.h"

#include <cstdint>
#include <string>

#include "ostrelapi.h"
#include "output_sink.h"

namespace ostrel::aclctl::stats {

namespace {

bool enabled = false;

struct Field {
    const char *name;
    uint64_t ostrel_api_counters_t::*value;
};

// In the struct's order; the text and the JSON event use the same names.
constexpr Field kFields[] = {
    {"calls", &ostrel_api_counters_t::calls},
    {"requests_built", &ostrel_api_counters_t::requests_built},
    {"messages_sent", &ostrel_api_counters_t::messages_sent},
    {"bytes_sent", &ostrel_api_counters_t::bytes_sent},
    {"send_attempts", &ostrel_api_counters_t::send_attempts},
    {"send_retries", &ostrel_api_counters_t::send_retries},
    {"send_failures", &ostrel_api_counters_t::send_failures},
    {"drains", &ostrel_api_counters_t::drains},
    {"drain_failures", &ostrel_api_counters_t::drain_failures},
    {"bulk_rollbacks", &ostrel_api_counters_t::bulk_rollbacks},
    {"resyncs", &ostrel_api_counters_t::resyncs},
    {"wait_ns", &ostrel_api_counters_t::wait_ns},
    {"vlans", &ostrel_api_counters_t::vlans},
    {"interfaces", &ostrel_api_counters_t::interfaces},
    {"aces", &ostrel_api_counters_t::aces},
    {"port_channels", &ostrel_api_counters_t::port_channels},
};

} // namespace

void set_enabled(bool on) {
    enabled = on;
    ostrel_api_counters_set_timing(on ? 1 : 0);
}

void report() {
    if (!enabled)
        return;
    ostrel_api_counters_t c{};
    c.struct_size = sizeof c;
    ostrel_api_counters_get(&c);
    std::string text = "stats:";
    tools::JsonObject event;
    event.add("event", "stats");
    for (const Field &f : kFields) {
        text += std::string(" ") + f.name + "=" + std::to_string(c.*f.value);
        event.add(f.name, c.*f.value);
    }
    out::emit(text + "\n", event);
}

} // namespace ostrel::aclctl::stats
