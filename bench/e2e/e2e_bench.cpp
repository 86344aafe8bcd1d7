// End to end over real IPC: one ACE add and its drain from the library
// through the socket transport to the aclsvc-sim daemon in another process,
// against the floor of the same exchange done raw: a SOCK_SEQPACKET
// ping-pong between two processes with the same frames per operation
// (per batch a Send of the batch's size, then an Accept and a Reply of the
// daemon's sizes).
//
// The transport calls go to the socket transport (whose send lengths are
// noted for the ping-pong); this binary supplies the interface service
// itself: every interface is a plain one.
#include <cstdint>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "ifsvc.h"
#include "manual_timer.h"
#include "ostrelapi.h"
#include "peer_process.h"
#include "ostrelapi/platform/socket_transport.h"
#include "socket_yarl.h"
#include "vlan_teardown.h"
#include "yarl.h"

namespace {

std::vector<uint32_t> send_lengths; // of the sends since the last clear

void note_send(uint32_t length) {
    send_lengths.push_back(length);
}

} // namespace

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

using bench::RegionTimer;

constexpr yarl_handle_t kHandle = 7;
constexpr uint32_t kVlanId = 100;
constexpr uint32_t kNamedIfIndex = 1;
constexpr uint8_t kAddr1[6] = {0x02, 0xbe, 0x4c, 0x00, 0x00, 0x01};
constexpr uint8_t kAddr2[6] = {0x02, 0xbe, 0x4c, 0x00, 0x00, 0x02};

// I interfaces holding A ACEs each, entered into the registry directly
// (as a long-running client would hold them), and emptied again; the
// lengths of the sends made meanwhile are noted.
class Vlan {
  public:
    Vlan(uint32_t interfaces, uint32_t aces) {
        ostrel::socket_transport::observe_sends(note_send);
        VlanNode *vlan = brisel_vlan_add(kVlanId);
        for (uint32_t i = 0; i < interfaces; ++i) {
            IntfNode *intf = brisel_intf_add(vlan, kNamedIfIndex + i);
            for (uint32_t j = 0; j < aces; ++j) {
                const uint8_t a1[6] = {2,
                                       0,
                                       0,
                                       static_cast<uint8_t>(i),
                                       static_cast<uint8_t>(j >> 8),
                                       static_cast<uint8_t>(j)};
                (void)brisel_ace_add(intf, brisel_ace_alloc(a1, kAddr2, j));
            }
        }
    }
    ~Vlan() { bench::empty_vlan(kVlanId); }
    // The extra ACE added (or deleted) and its reply drained.
    uint32_t program(uint32_t add) {
        const uint32_t status =
            ostrel_api_program_acl(kHandle, kAddr1, kAddr2, kVlanId,
                                   kNamedIfIndex, 0xbeef, &msg_, add);
        return status != 0 ? status : brisel_api_yarl_gobble(kHandle, &msg_);
    }

  private:
    yarl_msg msg_{};
};

void BM_EndToEndAdd(benchmark::State &state) {
    e2e::PeerProcess daemon;
    const std::string path = e2e::temporary_socket_path();
    if (!daemon.start_daemon(OSTREL_E2E_DAEMON, path) ||
        ostrel_socket_transport_connect(path.c_str()) != 0) {
        state.SkipWithError("aclsvc-sim did not start");
        return;
    }
    Vlan vlan(static_cast<uint32_t>(state.range(0)),
              static_cast<uint32_t>(state.range(1)));
    send_lengths.clear();
    uint32_t status = 0;
    RegionTimer timer;
    for (auto _ : state) {
        timer.start();
        status |= vlan.program(1);
        state.SetIterationTime(timer.stop());
        status |= vlan.program(0);
        if (status != 0) {
            state.SkipWithError("programming failed (batch too large?)");
            break;
        }
    }
    state.counters["sends"] = static_cast<double>(send_lengths.size()) /
                              static_cast<double>(2 * state.iterations());
    state.SetItemsProcessed(state.iterations());
    ostrel_socket_transport_disconnect();
}

// The batch lengths of one add on the VLAN, as the library sends them.
std::vector<uint32_t> batches_of_one_add(uint32_t interfaces, uint32_t aces) {
    e2e::PeerProcess daemon;
    const std::string path = e2e::temporary_socket_path();
    std::vector<uint32_t> lengths;
    if (daemon.start_daemon(OSTREL_E2E_DAEMON, path) &&
        ostrel_socket_transport_connect(path.c_str()) == 0) {
        Vlan vlan(interfaces, aces);
        send_lengths.clear();
        if (vlan.program(1) == 0) {
            lengths = send_lengths;
        }
        (void)vlan.program(0);
        ostrel_socket_transport_disconnect();
    }
    return lengths;
}

void BM_SeqpacketPingPong(benchmark::State &state) {
    const std::vector<uint32_t> batches =
        batches_of_one_add(static_cast<uint32_t>(state.range(0)),
                           static_cast<uint32_t>(state.range(1)));
    e2e::RawClient raw;
    if (batches.empty() || !raw.start()) {
        state.SkipWithError("no batch lengths or no peer");
        return;
    }
    bool ok = true;
    for (auto _ : state) {
        ok &= raw.exchange(batches);
    }
    if (!ok) {
        state.SkipWithError("ping-pong failed");
    }
    state.counters["sends"] = static_cast<double>(batches.size());
    state.SetItemsProcessed(state.iterations());
}

void grid(benchmark::internal::Benchmark *b) {
    b->ArgNames({"I", "A"});
    b->ArgsProduct({{1, 8, 48}, {1, 16, 64}});
}

} // namespace

BENCHMARK(BM_EndToEndAdd)->Apply(grid)->UseManualTime();
BENCHMARK(BM_SeqpacketPingPong)->Apply(grid)->UseRealTime();
BENCHMARK_MAIN();
