// A table of V VLANs × I interfaces × A ACEs, every ACE with its own
// nonzero first address, loaded into the library three ways: one bulk
// call, one single call per ACE, and a resync of the loaded registry. Used
// by the in-process benchmarks (simulated platform) and the end-to-end
// ones (socket transport to aclsvc-sim) alike; the transport is whatever
// the program links.
#pragma once

#include <cstdint>
#include <vector>

#include "ostrelapi.h"

namespace bench {

struct TableShape {
    uint32_t vlans;
    uint32_t interfaces;
    uint32_t aces; // per interface

    uint64_t ace_count() const { return uint64_t{vlans} * interfaces * aces; }
};

class TableLoad {
  public:
    // The adds of the whole table, VLAN by VLAN, interface by interface.
    // The registry must hold none of the table's VLANs.
    explicit TableLoad(TableShape shape);
    // Empties the registry of the table's VLANs (nothing is sent).
    ~TableLoad();
    TableLoad(const TableLoad &) = delete;
    TableLoad &operator=(const TableLoad &) = delete;

    // The adds, in load order.
    const std::vector<ostrel_api_acl_change_t> &changes() const {
        return changes_;
    }
    // Each loads the whole table and drains the last reply: 0, or the
    // first failing status (the single calls stop there).
    uint32_t load_bulk(yarl_handle_t handle);
    uint32_t load_single(yarl_handle_t handle);
    // Sends the loaded registry again and drains the last reply.
    uint32_t resync(yarl_handle_t handle);

    // Empties the registry of the table's VLANs without sending anything,
    // ready for the next load.
    void clear_registry() const;

    // What the registry's final requests weigh: per interface entry, its
    // header and one 64-byte record per ACE slot, from the registry's
    // counts (every ACE here has a nonzero first address).
    static uint64_t final_request_bytes();

  private:
    uint32_t drain(uint32_t status, yarl_handle_t handle);

    TableShape shape_;
    std::vector<ostrel_api_acl_change_t> changes_;
    yarl_msg msg_{};
};

} // namespace bench
