// One VLAN of `interfaces` interfaces holding `aces` ACEs each, programmed
// through the simulated platform with payload copies off, and the ACE that
// the programming benchmarks add and delete on it.
#pragma once

#include <cstdint>

#include "ostrelapi.h"

namespace bench {

// What one add or delete did: its status and the request bytes it sent.
struct OpResult {
    uint32_t status = 0;
    uint32_t drain_status = 0;
    uint64_t request_bytes = 0; // every request copy sent (batch heads not)
    uint32_t sends = 0;

    bool ok() const { return status == 0 && drain_status == 0; }
};

class VlanScenario {
  public:
    static constexpr uint32_t kVlanId = 100;
    static constexpr uint32_t kNamedIfIndex = 1;

    // Fills the registry directly (no messages). The registry must be empty.
    VlanScenario(uint32_t interfaces, uint32_t aces);
    // Empties the registry again.
    ~VlanScenario();
    VlanScenario(const VlanScenario &) = delete;
    VlanScenario &operator=(const VlanScenario &) = delete;

    // Adds (or deletes) the extra ACE on the named interface and drains the
    // reply. Call request_bytes_sent() afterwards, then forget_calls().
    uint32_t add_and_drain();
    uint32_t delete_and_drain();
    // The statuses of the last op together with what it sent.
    OpResult last_result() const;
    // Clears the simulated platform's call record (it grows with every
    // call) and keeps payload copies off.
    static void forget_calls();

    // The op as the benchmarks run it: add, or delete after an untimed add.
    OpResult probe_add();
    OpResult probe_delete();

  private:
    uint32_t program(uint32_t add);

    uint32_t interfaces_;
    uint32_t status_ = 0;
    uint32_t drain_status_ = 0;
    yarl_msg msg_{};
};

} // namespace bench
