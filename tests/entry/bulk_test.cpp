// Bulk changes and resync, tested against the single calls: random change
// lists (duplicates, all-zero first addresses, port channels, deletes of
// absent ACEs) are applied one call at a time and as bulk calls, and the
// registries, the statuses and the embedded service's tables compared.
#include <random>

#include "library_state.h"
#include "service_model.h"

namespace ostrel_test {
namespace {

namespace sim = ostrel::sim;
namespace tools = ostrel::tools;
using Change = ostrel_api_acl_change_t;
constexpr uint32_t kPc = 200;        // port channel with members 3 and 4
constexpr uint32_t kPcInterface = 2; // a registry interface of port-channel
                                     // type: its requests go to 5 and 6

class BulkTest : public LibraryTest {
  protected:
    void SetUp() override {
        LibraryTest::SetUp();
        platform();
    }
    static void platform() {
        sim::set_pc_members(kPc, {3, 4});
        sim::set_if_type(kPcInterface, OSTREL_IF_TYPE_PORT_CHANNEL);
        sim::set_pc_members(kPcInterface, {5, 6});
    }
    void start_over() {
        reset_library();
        platform();
    }
    uint32_t single(const Change &c) {
        const uint32_t status =
            c.on_port_channel
                ? ostrel_api_pc_program_acl(kHandle, c.addr1, c.addr2,
                                            c.vlan_id, c.if_index, c.qualifier,
                                            &msg, c.add)
                : ostrel_api_program_acl(kHandle, c.addr1, c.addr2, c.vlan_id,
                                         c.if_index, c.qualifier, &msg, c.add);
        EXPECT_EQ(did_yarl_send ? drain() : 0u, 0u);
        return status;
    }
    uint32_t bulk(const Change *c, size_t n, uint32_t *statuses = nullptr) {
        const uint32_t status = ostrel_api_program_acl_bulk(
            kHandle, c, uint32_t(n), statuses, &msg);
        EXPECT_EQ(did_yarl_send ? drain() : 0u, 0u);
        return status;
    }
    // The service's table after the sends since the mark, fed to `model`.
    std::string table(tools::ServiceModel &model) const {
        for (size_t i = mark_; i < sim::calls().size(); ++i) {
            const sim::Call &c = sim::calls()[i];
            if (c.op == sim::Op::Send && c.result == 0)
                model.handle(c.opcode, c.payload.data(), c.payload.size(),
                             nullptr);
        }
        return model.table();
    }
    // Both registries, nodes by address: equal only for the same nodes.
    static std::vector<const void *> nodes_of_registries() {
        std::vector<const void *> v;
        auto walk = [&v](auto *top) {
            for (; top; top = top->next)
                for (auto *mid = top->first; v.push_back(top), mid;
                     mid = mid->next)
                    for (const AceNode *a = mid->first; v.push_back(mid), a;
                         a = a->next)
                        v.push_back(a);
        };
        walk(brisel_handle.next);
        walk(brisel_pchandle.next);
        return v;
    }
};

// Changes over VLANs 10 and 20, interfaces 1 to 4 and port channel 200.
// Deletes name an ACE added earlier in the list (at the same level), except
// about one in ten, which names a random one (usually absent).
std::vector<Change> random_changes(std::mt19937 &rng, size_t n, bool zeros) {
    std::vector<Change> added, out;
    auto pick = [&rng](uint32_t k) { return uint32_t(rng() % k); };
    for (size_t i = 0; i < n; ++i) {
        Change c{};
        c.vlan_id = 10 + 10 * pick(2);
        c.on_port_channel = pick(5) == 0;
        c.if_index = c.on_port_channel ? kPc : 1 + pick(4);
        const uint32_t tag = 1 + pick(5);
        std::memcpy(c.addr1, addr1_of(tag).data(), 6);
        if (zeros && pick(4) == 0)
            std::memset(c.addr1, 0, 6);
        std::memcpy(c.addr2, addr2_of(tag).data(), 6);
        c.qualifier = 0x10000 | tag; // only the low 16 bits count
        c.add = added.empty() || pick(3) != 0;
        if (!c.add && pick(10) != 0) {
            const size_t j = pick(uint32_t(added.size()));
            c = added[j];
            c.add = 0;
            added.erase(added.begin() + long(j));
        } else if (c.add) {
            added.push_back(c);
        }
        out.push_back(c);
    }
    return out;
}

// What the single calls make of one round's random changes, up to the
// first failing change.
struct Round {
    std::vector<Change> changes;
    bool zeros = false;     // some first addresses are all zero
    size_t ok = 0;          // changes before the first failing one
    uint32_t failure = 0;   // its status, 0 when none fails
    std::string registries; // both, after the single calls
    std::string table;      // the service's table after them
    std::string resynced;   // ...and after a resync as well
};

class BulkRounds : public BulkTest {
  protected:
    static constexpr int kRounds = 60;
    Round round(int n) {
        Round r;
        r.zeros = n % 2 != 0;
        r.changes = random_changes(rng_, 30, r.zeros);
        start_over();
        mark();
        size_t k = 0;
        for (; k < r.changes.size() && !r.failure; ++k)
            r.failure = single(r.changes[k]);
        r.ok = r.failure ? k - 1 : k;
        r.registries = registries();
        tools::ServiceModel model;
        r.table = table(model);
        mark();
        EXPECT_EQ(ostrel_api_resync(kHandle, nullptr, &msg), 0u);
        EXPECT_EQ(did_yarl_send ? drain() : 0u, 0u);
        r.resynced = table(model);
        return r;
    }
    static std::string registries() {
        return vlan_registry() + "|" + pc_registry();
    }
    std::mt19937 rng_{7};
};

// The round's successful changes as bulk calls: one, or two when every
// first address is nonzero (the second then reprograms interfaces that only
// the first named). Those leave the service as the single calls do; with
// all-zero ones a bulk call refreshes more interfaces. Either way every
// interface then holds what the final registry builds for it.
TEST_F(BulkRounds, LeaveTheRegistriesAndTheServiceAsTheSingleCallsDo) {
    for (int n = 0; n < kRounds; ++n) {
        SCOPED_TRACE("round " + std::to_string(n));
        const Round r = round(n);
        start_over();
        mark();
        const size_t split = r.zeros ? 0 : r.ok / 2;
        ASSERT_EQ(bulk(r.changes.data(), split), 0u);
        std::vector<uint32_t> statuses(r.ok - split, 1);
        ASSERT_EQ(bulk(&r.changes[split], r.ok - split, statuses.data()), 0u);
        EXPECT_EQ(statuses, std::vector<uint32_t>(r.ok - split, 0));
        EXPECT_EQ(registries(), r.registries);
        tools::ServiceModel model;
        const std::string bulk_table = table(model);
        EXPECT_EQ(bulk_table, r.resynced);
        if (!r.zeros) {
            EXPECT_EQ(bulk_table, r.table);
        }
    }
}

// A call that reaches the failing change keeps nothing of its own: the
// same nodes in the same order, nothing sent.
TEST_F(BulkRounds, TakeACallWithAFailingChangeBackWhole) {
    for (int n = 0; n < kRounds; ++n) {
        SCOPED_TRACE("round " + std::to_string(n));
        const Round r = round(n);
        if (!r.failure)
            continue;
        start_over();
        ASSERT_EQ(bulk(r.changes.data(), r.ok / 2), 0u);
        const std::string before = registries();
        const std::vector<const void *> nodes = nodes_of_registries();
        mark();
        std::vector<uint32_t> statuses(r.changes.size() - r.ok / 2, 0);
        EXPECT_EQ(bulk(&r.changes[r.ok / 2], statuses.size(), statuses.data()),
                  r.failure);
        for (size_t i = 0; i < statuses.size(); ++i)
            EXPECT_EQ(statuses[i], i == r.ok - r.ok / 2
                                       ? r.failure
                                       : OSTREL_STATUS_NOT_EXECUTED);
        EXPECT_EQ(registries(), before);
        EXPECT_EQ(nodes_of_registries(), nodes);
        EXPECT_EQ(sent(), "");
    }
}

TEST_F(BulkTest, SendsEachAffectedInterfaceOnceAndResyncsOneVlan) {
    const Change changes[] = {
        {{2, 0, 1}, {10, 0, 1}, 10, 1, 1, 1, 0},
        {{2, 0, 2}, {10, 0, 2}, 10, 3, 2, 1, 0},
        {{2, 0, 3}, {10, 0, 3}, 20, 4, 3, 1, 0},
        {{2, 0, 1}, {10, 0, 1}, 10, 1, 1, 0, 0}, // empties interface 1
    };
    mark();
    ASSERT_EQ(bulk(changes, 4), 0u);
    // One batch, opened by a deferred request (word 0 is 0). VLAN 10 first:
    // interface 3 installs, emptied 1 removes; then VLAN 20.
    EXPECT_EQ(sent(), "0|3:1 1:2 4:1");
    EXPECT_EQ(vlan_registry(), "20{4[a3q3]} 10{3[a2q2]}");
    const uint32_t vlan = 10, absent = 30;
    mark();
    ASSERT_EQ(ostrel_api_resync(kHandle, &vlan, &msg), 0u);
    EXPECT_EQ(did_yarl_send, 1u);
    EXPECT_EQ(drain(), 0u);
    EXPECT_EQ(ostrel_api_resync(kHandle, &absent, &msg),
              OSTREL_STATUS_NO_ENTRY);
    EXPECT_EQ(sent(), "1|3:1");
    // A failing member query takes the call back with the query's result.
    sim::fail_pc_queries(1, -5);
    Change pc_add = changes[1];
    pc_add.on_port_channel = 1;
    pc_add.if_index = kPc;
    const Change two[] = {changes[0], pc_add};
    EXPECT_EQ(bulk(two, 2), uint32_t(-5));
    EXPECT_EQ(vlan_registry() + "|" + pc_registry(),
              "20{4[a3q3]} 10{3[a2q2]}|");
}

} // namespace
} // namespace ostrel_test
