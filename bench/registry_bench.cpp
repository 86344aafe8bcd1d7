// The VLAN registry alone, filled to its full size: 4094 VLANs of 48
// interfaces each (196512 interface entries), one ACE each. Lookups walk
// the newest-first lists, so a key's cost grows with its age.
#include <cstdint>
#include <cstdlib>
#include <random>

#include <benchmark/benchmark.h>

#include "manual_timer.h"
#include "ostrelapi.h"

namespace {

using bench::RegionTimer;

constexpr uint32_t kVlans = 4094;
constexpr uint32_t kInterfaces = 48;

const uint8_t kAddr2[6] = {0x02, 0x11, 0x22, 0x33, 0x44, 0x55};

// VLAN ids 1..4094 and interface indexes 1..48, added in increasing order:
// VLAN 4094 and interface 48 are the newest (found first).
class FullRegistry {
  public:
    FullRegistry() {
        if (brisel_handle.count != 0) {
            std::abort();
        }
        for (uint32_t v = 1; v <= kVlans; ++v) {
            VlanNode *vlan = brisel_vlan_add(v);
            for (uint32_t i = 1; vlan != nullptr && i <= kInterfaces; ++i) {
                IntfNode *intf = brisel_intf_add(vlan, i);
                const uint8_t addr1[6] = {0x02,
                                          0,
                                          0,
                                          static_cast<uint8_t>(v),
                                          static_cast<uint8_t>(v >> 8),
                                          static_cast<uint8_t>(i)};
                AceNode *ace = brisel_ace_alloc(addr1, kAddr2, 1);
                if (intf == nullptr || ace == nullptr) {
                    std::abort();
                }
                (void)brisel_ace_add(intf, ace);
            }
            if (vlan == nullptr) {
                std::abort();
            }
        }
    }
    ~FullRegistry() {
        while (VlanNode *vlan = brisel_handle.next) {
            while (IntfNode *intf = vlan->first) {
                while (intf->first != nullptr) {
                    const AceKey key = intf->first->key;
                    (void)brisel_ace_del(intf, &key);
                }
                (void)brisel_intf_del(vlan, intf);
            }
            (void)brisel_vlan_del(vlan);
        }
    }
    FullRegistry(const FullRegistry &) = delete;
    FullRegistry &operator=(const FullRegistry &) = delete;
};

// range(0): VLAN id looked up (4094 newest, 1 oldest, 4095 absent).
void BM_RegistryVlanLookup(benchmark::State &state) {
    FullRegistry registry;
    const auto vlan_id = static_cast<uint32_t>(state.range(0));
    for (auto _ : state) {
        benchmark::DoNotOptimize(brisel_vlan_lookup(vlan_id));
    }
    state.SetItemsProcessed(state.iterations());
}

// The lookup pair of every programming call: VLAN, then interface, of a
// uniformly drawn (VLAN, interface).
void BM_RegistryIntfLookupRandom(benchmark::State &state) {
    FullRegistry registry;
    std::mt19937 rng(1);
    std::uniform_int_distribution<uint32_t> vlan_of(1, kVlans);
    std::uniform_int_distribution<uint32_t> intf_of(1, kInterfaces);
    for (auto _ : state) {
        const uint32_t v = vlan_of(rng);
        const uint32_t i = intf_of(rng);
        VlanNode *vlan = brisel_vlan_lookup(v);
        benchmark::DoNotOptimize(brisel_intf_lookup(vlan, i));
    }
    state.SetItemsProcessed(state.iterations());
}

// The registry half of an ACE add on a random (VLAN, interface): both
// lookups, the AceNode allocation and its link. The ACE is deleted again
// outside the timed region.
void BM_RegistryAceAddRandom(benchmark::State &state) {
    FullRegistry registry;
    std::mt19937 rng(2);
    std::uniform_int_distribution<uint32_t> vlan_of(1, kVlans);
    std::uniform_int_distribution<uint32_t> intf_of(1, kInterfaces);
    const uint8_t addr1[6] = {0x02, 0xbe, 0x4c, 0, 0, 1};
    const AceKey key = [&] {
        AceKey k{};
        for (int b = 0; b < 6; ++b) {
            k.addr1[b] = addr1[b];
            k.addr2[b] = kAddr2[b];
        }
        k.qualifier = 7;
        return k;
    }();
    RegionTimer timer;
    for (auto _ : state) {
        const uint32_t v = vlan_of(rng);
        const uint32_t i = intf_of(rng);
        timer.start();
        VlanNode *vlan = brisel_vlan_lookup(v);
        IntfNode *intf = brisel_intf_lookup(vlan, i);
        AceNode *ace = brisel_ace_alloc(addr1, kAddr2, key.qualifier);
        benchmark::DoNotOptimize(brisel_ace_add(intf, ace));
        state.SetIterationTime(timer.stop());
        (void)brisel_ace_del(intf, &key);
    }
    state.SetItemsProcessed(state.iterations());
}

// An add on a VLAN not registered yet: the lookup misses after walking all
// 4094 VLANs, then the VLAN and the interface entries are created. Removed
// again outside the timed region.
void BM_RegistryVlanAddMissing(benchmark::State &state) {
    FullRegistry registry;
    constexpr uint32_t kNewVlan = 4095;
    RegionTimer timer;
    for (auto _ : state) {
        timer.start();
        VlanNode *vlan = brisel_vlan_lookup(kNewVlan);
        if (vlan == nullptr) {
            vlan = brisel_vlan_add(kNewVlan);
        }
        IntfNode *intf = brisel_intf_lookup(vlan, 1);
        if (intf == nullptr) {
            intf = brisel_intf_add(vlan, 1);
        }
        benchmark::DoNotOptimize(intf);
        state.SetIterationTime(timer.stop());
        (void)brisel_intf_del(vlan, intf);
        (void)brisel_vlan_del(vlan);
    }
    state.SetItemsProcessed(state.iterations());
}

} // namespace

BENCHMARK(BM_RegistryVlanLookup)
    ->ArgName("vlan")
    ->Arg(kVlans)
    ->Arg(kVlans / 2)
    ->Arg(1)
    ->Arg(kVlans + 1);
BENCHMARK(BM_RegistryIntfLookupRandom);
BENCHMARK(BM_RegistryAceAddRandom)->UseManualTime();
BENCHMARK(BM_RegistryVlanAddMissing)->UseManualTime();
