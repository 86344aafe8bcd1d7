// The programming path: one ACE add, and one delete, with a nonzero first
// address on the named interface of a VLAN of I interfaces holding A ACEs
// each, through the simulated platform with payload copies off, reply
// drained. Only the op and its drain are timed; the registry is put back
// (delete after add, add before delete) and the simulated platform's call
// record cleared outside the timed region.
//
// Beside each, a memcpy baseline writes the same request bytes in the same
// pattern: one request-sized copy per request into a batch-sized buffer,
// starting over when the buffer is full.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include <benchmark/benchmark.h>

#include "manual_timer.h"
#include "vlan_scenario.h"

namespace {

using bench::OpResult;
using bench::RegionTimer;
using bench::VlanScenario;

constexpr uint32_t kBatchSize = OSTREL_BATCH_SIZE;
constexpr uint32_t kBatchHead = 8;

enum class Op { Add, Delete };

std::string refusal(const OpResult &r) {
    char text[160];
    std::snprintf(text, sizeof text,
                  "refused: status 0x%08x (each request exceeds what one "
                  "batch holds)",
                  r.status != 0 ? r.status : r.drain_status);
    return text;
}

void run_programming(benchmark::State &state, Op op) {
    const auto interfaces = static_cast<uint32_t>(state.range(0));
    const auto aces = static_cast<uint32_t>(state.range(1));
    VlanScenario scenario(interfaces, aces);
    const OpResult probe =
        op == Op::Add ? scenario.probe_add() : scenario.probe_delete();
    if (!probe.ok()) {
        state.SkipWithError(refusal(probe).c_str());
        return;
    }

    RegionTimer timer;
    uint64_t bytes = 0;
    double region_cpu = 0;
    for (auto _ : state) {
        if (op == Op::Delete) {
            (void)scenario.add_and_drain();
            VlanScenario::forget_calls();
        }
        const double cpu_from = bench::thread_cpu_seconds();
        timer.start();
        const uint32_t status = op == Op::Add ? scenario.add_and_drain()
                                              : scenario.delete_and_drain();
        state.SetIterationTime(timer.stop());
        region_cpu += bench::thread_cpu_seconds() - cpu_from;
        const OpResult r = scenario.last_result();
        bytes += r.request_bytes;
        VlanScenario::forget_calls();
        if (op == Op::Add) {
            (void)scenario.delete_and_drain();
            VlanScenario::forget_calls();
        }
        if (status != 0) {
            state.SkipWithError("programming failed during the run");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
    state.counters["request_bytes"] = static_cast<double>(probe.request_bytes);
    state.counters["sends"] = probe.sends;
    // The region's processor time: on a busy machine the wall time also
    // holds the time other processes had the processor.
    state.counters["region_cpu_ns"] = benchmark::Counter(
        region_cpu * 1e9, benchmark::Counter::kAvgIterations);
}

void BM_ProgramAdd(benchmark::State &state) {
    run_programming(state, Op::Add);
}
void BM_ProgramDelete(benchmark::State &state) {
    run_programming(state, Op::Delete);
}

// Copies `requests` request-sized blocks into a batch-sized buffer the way
// the batch fills.
void copy_like_batches(uint8_t *batch, const uint8_t *request,
                       uint32_t request_size, uint32_t requests) {
    uint32_t used = kBatchHead;
    for (uint32_t i = 0; i < requests; ++i) {
        if (used + request_size >= kBatchSize) {
            used = kBatchHead;
        }
        std::memcpy(batch + used, request, request_size);
        used += request_size;
    }
    benchmark::ClobberMemory();
}

void run_memcpy_baseline(benchmark::State &state, Op op) {
    const auto interfaces = static_cast<uint32_t>(state.range(0));
    const auto aces = static_cast<uint32_t>(state.range(1));
    OpResult probe;
    {
        VlanScenario scenario(interfaces, aces);
        probe = op == Op::Add ? scenario.probe_add() : scenario.probe_delete();
    }
    if (!probe.ok()) {
        state.SkipWithError(refusal(probe).c_str());
        return;
    }
    // Every interface of the VLAN gets a request of the same size.
    const auto request_size =
        static_cast<uint32_t>(probe.request_bytes / interfaces);
    std::unique_ptr<uint8_t[]> batch(new uint8_t[kBatchSize]());
    std::unique_ptr<uint8_t[]> request(new uint8_t[request_size]);
    std::memset(request.get(), 0x5a, request_size);
    for (auto _ : state) {
        copy_like_batches(batch.get(), request.get(), request_size, interfaces);
        benchmark::DoNotOptimize(batch.get());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(probe.request_bytes));
    state.counters["request_bytes"] = static_cast<double>(probe.request_bytes);
}

void BM_MemcpyAdd(benchmark::State &state) {
    run_memcpy_baseline(state, Op::Add);
}
void BM_MemcpyDelete(benchmark::State &state) {
    run_memcpy_baseline(state, Op::Delete);
}

// Main-memory reference: one 64 MiB copy, far larger than the caches.
void BM_MemcpyDram(benchmark::State &state) {
    const auto size = static_cast<size_t>(state.range(0));
    std::unique_ptr<uint8_t[]> from(new uint8_t[size]);
    std::unique_ptr<uint8_t[]> to(new uint8_t[size]);
    std::memset(from.get(), 0x5a, size);
    std::memset(to.get(), 0, size);
    for (auto _ : state) {
        std::memcpy(to.get(), from.get(), size);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(size));
}

// I in {1, 8, 48} as asked, A in {1, 4, 16, 64, 256}: the extra A values
// show the growth between the grid points.
void grid(benchmark::internal::Benchmark *b) {
    b->ArgNames({"I", "A"});
    b->ArgsProduct({{1, 8, 48}, {1, 4, 16, 64, 256}});
}

} // namespace

BENCHMARK(BM_ProgramAdd)->Apply(grid)->UseManualTime();
BENCHMARK(BM_ProgramDelete)->Apply(grid)->UseManualTime();
BENCHMARK(BM_MemcpyAdd)->Apply(grid);
BENCHMARK(BM_MemcpyDelete)->Apply(grid);
BENCHMARK(BM_MemcpyDram)->Arg(64 << 20);
