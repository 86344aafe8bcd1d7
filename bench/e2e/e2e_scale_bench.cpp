// End to end at scale: a table of V VLANs × I interfaces × A ACEs loaded
// from the library through the socket transport into aclsvc-sim in another
// process (one bulk call, or one single call per ACE), and the resync of
// the loaded table; against the floor of the bulk load's exchange done raw:
// a SOCK_SEQPACKET stream between two processes with the same message
// sizes in the same order, each answered as the daemon answers it (an
// Accept and a Reply) before the next goes.
//
// Only the load (or resync) and the drain of its last reply are timed;
// emptying the registry between iterations is not (the daemon keeps its
// table: every load replaces the same entries).
#include <cstdint>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "manual_timer.h"
#include "peer_process.h"
#include "ostrelapi/platform/socket_transport.h"
#include "socket_yarl.h"
#include "table_load.h"

namespace {

using bench::RegionTimer;
using bench::TableLoad;
using bench::TableShape;

constexpr yarl_handle_t kHandle = 7;

enum class Mode { Bulk, Single };

std::vector<uint32_t> send_lengths; // of the sends since the last clear

void note_send(uint32_t length) {
    send_lengths.push_back(length);
}

uint64_t bytes_of(const std::vector<uint32_t> &lengths) {
    uint64_t bytes = 0;
    for (const uint32_t n : lengths) {
        bytes += n;
    }
    return bytes;
}

TableShape shape_of(const benchmark::State &state) {
    return {static_cast<uint32_t>(state.range(0)),
            static_cast<uint32_t>(state.range(1)),
            static_cast<uint32_t>(state.range(2))};
}

// aclsvc-sim on a temporary socket, the transport connected to it and
// every send's length noted; stopped at the end of the scope.
class ConnectedDaemon {
  public:
    ConnectedDaemon() {
        const std::string path = e2e::temporary_socket_path();
        up_ = daemon_.start_daemon(OSTREL_E2E_DAEMON, path) &&
              ostrel_socket_transport_connect(path.c_str()) == 0;
        ostrel::socket_transport::observe_sends(note_send);
    }
    ~ConnectedDaemon() {
        ostrel::socket_transport::observe_sends(nullptr);
        ostrel_socket_transport_disconnect();
    }
    ConnectedDaemon(const ConnectedDaemon &) = delete;
    ConnectedDaemon &operator=(const ConnectedDaemon &) = delete;

    bool up() const { return up_; }

  private:
    e2e::PeerProcess daemon_;
    bool up_ = false;
};

void set_counters(benchmark::State &state, const TableShape &shape,
                  const std::vector<uint32_t> &lengths) {
    using benchmark::Counter;
    state.counters["per_ace"] =
        Counter(static_cast<double>(shape.ace_count()),
                Counter::kIsIterationInvariantRate | Counter::kInvert);
    state.counters["aces"] = static_cast<double>(shape.ace_count());
    state.counters["sent_bytes"] = static_cast<double>(bytes_of(lengths));
    state.counters["sends"] = static_cast<double>(lengths.size());
}

void BM_EndToEndLoadTable(benchmark::State &state, Mode mode) {
    ConnectedDaemon daemon;
    if (!daemon.up()) {
        state.SkipWithError("aclsvc-sim did not start");
        return;
    }
    const TableShape shape = shape_of(state);
    TableLoad table(shape);
    RegionTimer timer;
    for (auto _ : state) {
        send_lengths.clear();
        timer.start();
        const uint32_t status = mode == Mode::Bulk ? table.load_bulk(kHandle)
                                                   : table.load_single(kHandle);
        state.SetIterationTime(timer.stop());
        table.clear_registry();
        if (status != 0) {
            state.SkipWithError("the load failed");
            break;
        }
    }
    set_counters(state, shape, send_lengths);
}

void BM_EndToEndResync(benchmark::State &state) {
    ConnectedDaemon daemon;
    const TableShape shape = shape_of(state);
    TableLoad table(shape);
    if (!daemon.up() || table.load_bulk(kHandle) != 0) {
        state.SkipWithError("aclsvc-sim did not start or the load failed");
        return;
    }
    RegionTimer timer;
    uint32_t status = 0;
    for (auto _ : state) {
        send_lengths.clear();
        timer.start();
        status |= table.resync(kHandle);
        state.SetIterationTime(timer.stop());
    }
    if (status != 0) {
        state.SkipWithError("the resync failed");
    }
    set_counters(state, shape, send_lengths);
}

// The message lengths of one bulk load of the table, as the library sends
// them to the daemon (empty when the load fails).
std::vector<uint32_t> lengths_of_bulk_load(const TableShape &shape) {
    ConnectedDaemon daemon;
    TableLoad table(shape);
    send_lengths.clear();
    if (!daemon.up() || table.load_bulk(kHandle) != 0) {
        return {};
    }
    return send_lengths;
}

void BM_SeqpacketStream(benchmark::State &state) {
    const TableShape shape = shape_of(state);
    const std::vector<uint32_t> lengths = lengths_of_bulk_load(shape);
    e2e::RawClient raw;
    if (lengths.empty() || !raw.start()) {
        state.SkipWithError("no message lengths or no peer");
        return;
    }
    bool ok = true;
    for (auto _ : state) {
        ok &= raw.exchange(lengths);
    }
    if (!ok) {
        state.SkipWithError("the stream failed");
    }
    set_counters(state, shape, lengths);
}

void table(benchmark::internal::Benchmark *b, int64_t vlans) {
    b->ArgNames({"V", "I", "A"})->Args({vlans, 48, 8});
    b->Unit(benchmark::kMillisecond);
}
void table64(benchmark::internal::Benchmark *b) {
    table(b, 64);
    b->UseManualTime();
}
void table4(benchmark::internal::Benchmark *b) {
    table(b, 4);
    b->UseManualTime();
}
void raw64(benchmark::internal::Benchmark *b) {
    table(b, 64);
    b->UseRealTime();
}

} // namespace

// (No spaces in "mode:bulk": the macro makes the name from the tokens.)
// clang-format off
BENCHMARK_CAPTURE(BM_EndToEndLoadTable, mode:bulk, Mode::Bulk)->Apply(table64);
BENCHMARK_CAPTURE(BM_EndToEndLoadTable, mode:bulk, Mode::Bulk)->Apply(table4);
BENCHMARK_CAPTURE(BM_EndToEndLoadTable, mode:single, Mode::Single)->Apply(table4);
// clang-format on
BENCHMARK(BM_EndToEndResync)->Apply(table64);
BENCHMARK(BM_SeqpacketStream)->Apply(raw64);
