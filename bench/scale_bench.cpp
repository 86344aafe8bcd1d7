// Loading a whole table of V VLANs × I interfaces × A ACEs through the
// simulated platform (payload copies off): as one bulk call, as one single
// call per ACE, and the resync of the loaded table. Only the load (or the
// resync) and the drain of its last reply are timed; emptying the registry
// and clearing the platform's call record between iterations are not.
//
// Counters: per_ace (seconds per ACE loaded or resent), sent_bytes (every
// byte handed to the transport, batch heads included), sends, and for the
// bulk load and the resync final_request_bytes: the requests that the
// final registry builds, one per interface, without batch heads.
#include <cstdint>

#include <benchmark/benchmark.h>

#include "manual_timer.h"
#include "sim_platform.hpp"
#include "table_load.h"
#include "vlan_scenario.h"

namespace {

using bench::RegionTimer;
using bench::TableLoad;
using bench::TableShape;
using bench::VlanScenario;

constexpr yarl_handle_t kHandle = 7;

enum class Mode { Bulk, Single };

TableShape shape_of(const benchmark::State &state) {
    return {static_cast<uint32_t>(state.range(0)),
            static_cast<uint32_t>(state.range(1)),
            static_cast<uint32_t>(state.range(2))};
}

// What the transport was handed since the last forget_calls().
struct Sent {
    uint64_t bytes = 0;
    uint64_t sends = 0;
};

Sent sent_since_reset() {
    Sent s;
    for (const ostrel::sim::Call &call : ostrel::sim::calls()) {
        if (call.op == ostrel::sim::Op::Send && call.result == 0) {
            s.bytes += call.length;
            ++s.sends;
        }
    }
    return s;
}

void set_counters(benchmark::State &state, const TableShape &shape,
                  const Sent &per_load) {
    using benchmark::Counter;
    state.counters["per_ace"] =
        Counter(static_cast<double>(shape.ace_count()),
                Counter::kIsIterationInvariantRate | Counter::kInvert);
    state.counters["aces"] = static_cast<double>(shape.ace_count());
    state.counters["sent_bytes"] = static_cast<double>(per_load.bytes);
    state.counters["sends"] = static_cast<double>(per_load.sends);
}

void BM_LoadTable(benchmark::State &state, Mode mode) {
    const TableShape shape = shape_of(state);
    TableLoad table(shape);
    RegionTimer timer;
    Sent sent;
    uint64_t final_bytes = 0;
    for (auto _ : state) {
        VlanScenario::forget_calls();
        timer.start();
        const uint32_t status = mode == Mode::Bulk ? table.load_bulk(kHandle)
                                                   : table.load_single(kHandle);
        state.SetIterationTime(timer.stop());
        sent = sent_since_reset();
        final_bytes = TableLoad::final_request_bytes();
        table.clear_registry();
        if (status != 0) {
            state.SkipWithError("the load failed");
            break;
        }
    }
    VlanScenario::forget_calls();
    set_counters(state, shape, sent);
    state.counters["final_request_bytes"] = static_cast<double>(final_bytes);
}

void BM_Resync(benchmark::State &state) {
    const TableShape shape = shape_of(state);
    TableLoad table(shape);
    VlanScenario::forget_calls();
    if (table.load_bulk(kHandle) != 0) {
        state.SkipWithError("the load failed");
        return;
    }
    RegionTimer timer;
    Sent sent;
    uint32_t status = 0;
    for (auto _ : state) {
        VlanScenario::forget_calls();
        timer.start();
        status |= table.resync(kHandle);
        state.SetIterationTime(timer.stop());
        sent = sent_since_reset();
    }
    VlanScenario::forget_calls();
    if (status != 0) {
        state.SkipWithError("the resync failed");
    }
    set_counters(state, shape, sent);
    state.counters["final_request_bytes"] =
        static_cast<double>(TableLoad::final_request_bytes());
}

void table(benchmark::internal::Benchmark *b, int64_t vlans) {
    b->ArgNames({"V", "I", "A"})->Args({vlans, 48, 8})->UseManualTime();
    b->Unit(benchmark::kMillisecond);
}
void table64(benchmark::internal::Benchmark *b) {
    table(b, 64);
}
void table4(benchmark::internal::Benchmark *b) {
    table(b, 4);
}

} // namespace

// The single calls send O(I × N²) bytes for N ACEs in a VLAN: seconds for
// four VLANs; the bulk load of the same four VLANs gives the same-table
// comparison beside the 64-VLAN one.
// (No spaces in "mode:bulk": the macro makes the name from the tokens.)
// clang-format off
BENCHMARK_CAPTURE(BM_LoadTable, mode:bulk, Mode::Bulk)->Apply(table64);
BENCHMARK_CAPTURE(BM_LoadTable, mode:bulk, Mode::Bulk)->Apply(table4);
BENCHMARK_CAPTURE(BM_LoadTable, mode:single, Mode::Single)->Apply(table4);
// clang-format on
BENCHMARK(BM_Resync)->Apply(table64);
