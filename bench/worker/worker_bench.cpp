// The worker end to end, over the socket transport to aclsvc-sim:
//  - BM_WorkerSubmitWhileRetrying: the caller's time in
//    ostrel_worker_submit, 10,000 one-change submissions from 4 threads,
//    while the worker sits in the retry sleeps of a service that refuses
//    every send (p99 and max in microseconds);
//  - BM_WorkerCoalescedLoad: a table of 4 VLANs x 48 interfaces x 8 ACEs
//    as one-change submissions from 4 threads, until flushed, against the
//    same adds as single calls on one thread to a fresh daemon: the
//    speed-up, and the bytes sent against the final table's requests.
// Each runs once (its figures are ratios measured in that run).
#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "e2e/peer_process.h"
#include "ifsvc.h"
#include "ostrelapi/platform/socket_transport.h"
#include "ostrelapi/worker.h"
#include "socket_yarl.h"
#include "table_load.h"

extern "C" {
int if_index_get_type(uint32_t, uint8_t *type) {
    *type = 1; // a plain interface
    return 0;
}
int port_channel_info_get(PortChannelInfo *) {
    return -1;
}
} // extern "C"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kThreads = 4;
uint64_t bytes_sent = 0;

void note_send(uint32_t length) {
    bytes_sent += length;
}

// aclsvc-sim with extra options on a temporary socket, connected.
class Service {
  public:
    explicit Service(const std::vector<std::string> &options) {
        const std::string path = e2e::temporary_socket_path();
        up_ = daemon_.start_daemon(OSTREL_E2E_DAEMON, path, options) &&
              ostrel_socket_transport_connect(path.c_str()) == 0;
        ostrel::socket_transport::observe_sends(note_send);
    }
    ~Service() {
        ostrel::socket_transport::observe_sends(nullptr);
        ostrel_socket_transport_disconnect();
    }
    bool up() const { return up_; }

  private:
    e2e::PeerProcess daemon_;
    bool up_ = false;
};

ostrel_worker_t *start_worker() {
    ostrel_worker_config_t config{};
    config.struct_size = sizeof config;
    config.generation = ostrel_socket_generation;
    ostrel_worker_t *w = nullptr;
    return ostrel_worker_create(&config, &w) == 0 ? w : nullptr;
}

// Each thread submits changes[t], changes[t + 4], ... one at a time and
// notes how long each submit took, in nanoseconds.
std::vector<int64_t>
submit_from_threads(ostrel_worker_t *w,
                    const std::vector<ostrel_api_acl_change_t> &changes) {
    std::vector<std::vector<int64_t>> took(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            took[t].reserve(changes.size() / kThreads + 1);
            for (size_t i = t; i < changes.size(); i += kThreads) {
                const auto start = Clock::now();
                const int result = ostrel_worker_submit(w, &changes[i], 1, i);
                took[t].push_back((Clock::now() - start).count());
                if (result != 0)
                    took[t].back() = -1;
            }
        });
    std::vector<int64_t> all;
    for (int t = 0; t < kThreads; ++t) {
        threads[t].join();
        all.insert(all.end(), took[t].begin(), took[t].end());
    }
    return all;
}

void BM_WorkerSubmitWhileRetrying(benchmark::State &state) {
    for (auto _ : state) {
        Service service({"--fail-sends", "1000000000"});
        ostrel_worker_t *w = service.up() ? start_worker() : nullptr;
        if (w == nullptr) {
            state.SkipWithError("no daemon or no worker");
            return;
        }
        bench::TableLoad table({4, 48, 52}); // 9,984 adds, never applied
        std::vector<ostrel_api_acl_change_t> changes = table.changes();
        changes.resize(10000, changes.back());
        // The first one takes the worker into its send's retry sleeps.
        if (ostrel_worker_submit(w, &changes[0], 1, 0) != 0) {
            state.SkipWithError("submit failed");
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const auto start = Clock::now();
        std::vector<int64_t> took = submit_from_threads(w, changes);
        state.SetIterationTime(
            std::chrono::duration<double>(Clock::now() - start).count());
        ostrel_worker_stats_t stats{};
        stats.struct_size = sizeof stats;
        (void)ostrel_worker_stats(w, &stats);
        ostrel_worker_destroy(w); // ends the call in progress, cancels
        table.clear_registry();
        if (std::count(took.begin(), took.end(), -1) != 0 ||
            stats.completions != 0) {
            state.SkipWithError("a submit failed or the worker was not held");
            return;
        }
        std::sort(took.begin(), took.end());
        state.counters["submits"] = double(took.size());
        state.counters["p50_us"] = took[took.size() / 2] / 1e3;
        state.counters["p99_us"] = took[took.size() * 99 / 100] / 1e3;
        state.counters["max_us"] = took.back() / 1e3;
    }
}
BENCHMARK(BM_WorkerSubmitWhileRetrying)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

void BM_WorkerCoalescedLoad(benchmark::State &state) {
    const bench::TableShape shape{4, 48, 8};
    for (auto _ : state) {
        double single_s = 0, worker_s = 0;
        uint64_t single_bytes = 0, worker_bytes = 0, final_bytes = 0;
        uint64_t calls = 0;
        {
            Service service({});
            bench::TableLoad table(shape);
            bytes_sent = 0;
            const auto start = Clock::now();
            if (!service.up() || table.load_single(0) != 0) {
                state.SkipWithError("single calls failed");
                return;
            }
            single_s =
                std::chrono::duration<double>(Clock::now() - start).count();
            single_bytes = bytes_sent;
            table.clear_registry();
        }
        {
            Service service({});
            bench::TableLoad table(shape);
            ostrel_worker_t *w = service.up() ? start_worker() : nullptr;
            if (w == nullptr) {
                state.SkipWithError("no daemon or no worker");
                return;
            }
            bytes_sent = 0;
            const auto start = Clock::now();
            const std::vector<int64_t> took =
                submit_from_threads(w, table.changes());
            const int flushed = ostrel_worker_flush(w, -1);
            worker_s =
                std::chrono::duration<double>(Clock::now() - start).count();
            worker_bytes = bytes_sent;
            ostrel_worker_stats_t stats{};
            stats.struct_size = sizeof stats;
            (void)ostrel_worker_stats(w, &stats);
            calls = stats.bulk_calls;
            ostrel_worker_destroy(w);
            final_bytes = bench::TableLoad::final_request_bytes();
            table.clear_registry();
            if (flushed != 0 || std::count(took.begin(), took.end(), -1) != 0) {
                state.SkipWithError("a submit or the flush failed");
                return;
            }
        }
        state.SetIterationTime(worker_s);
        state.counters["aces"] = double(shape.ace_count());
        state.counters["single_ms"] = single_s * 1e3;
        state.counters["worker_ms"] = worker_s * 1e3;
        state.counters["speedup"] = single_s / worker_s;
        state.counters["bulk_calls"] = double(calls);
        state.counters["bytes_vs_final"] =
            double(worker_bytes) / double(final_bytes);
        state.counters["single_bytes_vs_final"] =
            double(single_bytes) / double(final_bytes);
    }
}
BENCHMARK(BM_WorkerCoalescedLoad)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
