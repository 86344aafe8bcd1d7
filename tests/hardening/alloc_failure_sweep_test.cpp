// Allocation-failure sweep: each operation runs with its 1st, 2nd, 3rd ...
// allocation failing until it completes without a failure. After every run
// the status is one the operation may give, the registries are consistent,
// every live heap block is one the library still holds (counted from before
// the setup), every batch sent is well formed, and each scenario's own
// rules on what a status means hold. (Under the asan preset the same sweep
// proves that no failure path writes out of bounds.)
#include <functional>

#include "library_state.h"
#include "record_ops.h"
#include "tlvu.h"

namespace ostrel_test {
namespace {

constexpr uint32_t kOk = 0, kNoEntry = OSTREL_STATUS_NO_ENTRY,
                   kInvalid = OSTREL_STATUS_INVALID;
constexpr uint32_t kVlan = 10, kPc = 0x5000;

class AllocationSweep : public LibraryTest {
  protected:
    // setup runs without failures; op is swept; rules checks its outcome.
    void sweep(
        std::function<void()> setup, std::function<uint32_t()> op,
        std::vector<uint32_t> allowed,
        std::function<void(uint32_t)> rules = [](uint32_t) {}) {
        allowed.push_back(kOk);
        for (long k = 1;; ++k) {
            SCOPED_TRACE("allocation " + std::to_string(k) + " fails");
            reset_library();
            setup();
            ASSERT_FALSE(HasFatalFailure());
            mark();
            const long before = ostrel::sim::allocations_made();
            ostrel::sim::fail_allocation(k);
            const uint32_t status = op();
            ostrel::sim::fail_allocation(0);
            const bool failed = ostrel::sim::allocations_made() - before >= k;
            EXPECT_NE(std::find(allowed.begin(), allowed.end(), status),
                      allowed.end())
                << std::hex << status;
            EXPECT_TRUE(failed || status == kOk) << "all allocations made";
            rules(status); // before the count: it releases what it owns
            EXPECT_TRUE(registries_consistent());
            EXPECT_EQ(ostrel::sim::live_allocations(), held_blocks())
                << "leaked";
            for (size_t i = mark_; i < ostrel::sim::calls().size(); ++i)
                if (ostrel::sim::calls()[i].op == ostrel::sim::Op::Send &&
                    batches) {
                    EXPECT_EQ(batch_defect(ostrel::sim::calls()[i].payload),
                              "");
                }
            if (!failed || k > 100)
                break;
        }
    }
    bool on_intf(uint32_t if_index, uint32_t tag) {
        VlanNode *v = brisel_vlan_lookup(kVlan);
        IntfNode *i = v ? brisel_intf_lookup(v, if_index) : nullptr;
        const AceKey k = key_of(tag, uint16_t(tag));
        return i != nullptr && (tag == 0 || brisel_ace_lookup(i, &k));
    }
    bool batches = true;
};

TEST_F(AllocationSweep, InterfaceAddsWhetherTheyCreateTheVlanOrJoinOthers) {
    for (uint32_t others : {0u, 2u}) {
        sweep(
            [&] {
                for (uint32_t i = 1; i <= others; ++i)
                    given(acl(1, kVlan, i, i, i));
            },
            [&] { return acl(1, kVlan, 9, 9, 9); }, {kNoEntry, kInvalid},
            [&](uint32_t status) {
                EXPECT_EQ(did_yarl_send, status == kOk ? 1u : 0u);
                if (status == kNoEntry) { // an entry could not be created
                    EXPECT_TRUE(!on_intf(9, 0) && sent() == "");
                }
                if (status == kInvalid) {
                    EXPECT_TRUE(on_intf(9, 9)) << "changes are not undone";
                }
            });
    }
}

TEST_F(AllocationSweep, InterfaceDeletesFreeWhatTheyEmptyWhateverFails) {
    for (uint32_t others : {0u, 2u}) {
        sweep(
            [&] {
                for (uint32_t i = 1; i <= others + 1; ++i)
                    given(acl(1, kVlan, i, i, i));
            },
            [&] { return acl(0, kVlan, 1, 1, 1); }, {kInvalid},
            [&](uint32_t status) {
                EXPECT_EQ(did_yarl_send, status == kOk ? 1u : 0u);
                EXPECT_FALSE(on_intf(1, 1));
                if (others == 0) { // the last request goes, then the entries
                    EXPECT_EQ(vlan_registry(), "");
                }
            });
    }
}

TEST_F(AllocationSweep, PortChannelAddsAndDeletesOverTheirMembers) {
    const auto members = [] { ostrel::sim::set_pc_members(kPc, {21, 22, 23}); };
    const auto on_pc = [] {
        PcNode *p = brisel_pc_lookup(kPc);
        PoVlanNode *v = p ? brisel_povlan_lookup(p, kVlan) : nullptr;
        const AceKey k = key_of(5, 5);
        return v != nullptr && brisel_poace_lookup(v, &k) != nullptr;
    };
    sweep(
        members, [&] { return pc(1, kVlan, kPc, 5, 5); }, {kNoEntry, kInvalid},
        [&](uint32_t status) {
            EXPECT_EQ(did_yarl_send, status == kOk ? 1u : 0u);
            EXPECT_TRUE(on_pc() || status == kNoEntry);
            EXPECT_TRUE(status != kOk || on_intf(23, 0));
        });
    sweep(
        [&] {
            members();
            given(pc(1, kVlan, kPc, 5, 5));
        },
        [&] { return pc(0, kVlan, kPc, 5, 5); }, {kInvalid},
        [&](uint32_t status) {
            EXPECT_EQ(on_pc(), status != kOk) << "kept when a member fails";
            EXPECT_EQ(pc_registry() + vlan_registry() == "", status == kOk);
        });
}

// Interface 1 holds 1000 ACEs, so every request of the VLAN is 64088 bytes;
// two deferred ones leave too little room for a third, which flushes.
TEST_F(AllocationSweep, ABulkCallKeepsAllOrNoneOfItsChanges) {
    const auto setup = [this] {
        ostrel::sim::set_pc_members(kPc, {3, 4});
        given(acl(1, kVlan, 1, 1, 1));
        given(acl(1, kVlan, 2, 2, 2));
        given(pc(1, kVlan, kPc, 3, 3));
    };
    auto change = [](uint32_t vlan, uint32_t intf, uint32_t tag, uint32_t add,
                     uint32_t on_pc) {
        ostrel_api_acl_change_t c{{}, {}, vlan, intf, tag, add, on_pc};
        std::memcpy(c.addr1, addr1_of(tag).data(), 6);
        std::memcpy(c.addr2, addr2_of(tag).data(), 6);
        return c;
    };
    // A new VLAN and interface, an emptied interface, a port-channel add
    // and delete, an ACE joining an interface.
    const ostrel_api_acl_change_t changes[] = {
        change(20, 5, 4, 1, 0), change(kVlan, 1, 1, 0, 0),
        change(kVlan, kPc, 5, 1, 1), change(kVlan, kPc, 3, 0, 1),
        change(kVlan, 2, 6, 1, 0)};
    auto op = [&] {
        return ostrel_api_program_acl_bulk(kHandle, changes, 5, nullptr, &msg);
    };
    reset_library();
    setup();
    const std::string before = vlan_registry() + "|" + pc_registry();
    ASSERT_EQ(op(), kOk);
    const std::string after = vlan_registry() + "|" + pc_registry();
    sweep(setup, op, {kNoEntry, kInvalid}, [&](uint32_t status) {
        const std::string now = vlan_registry() + "|" + pc_registry();
        EXPECT_EQ(now, status == kOk || now != before ? after : before);
        EXPECT_TRUE(now != before || sent().empty()) << sent();
        EXPECT_EQ(did_yarl_send ? drain() : kOk, kOk);
    });
}

TEST_F(AllocationSweep, ARequestThatFlushesTheOpenBatch) {
    const auto setup = [&] {
        VlanNode *v = brisel_vlan_add(kVlan);
        IntfNode *big = brisel_intf_add(v, 1);
        brisel_ace_add(
            brisel_intf_add(v, 2),
            brisel_ace_alloc(addr1_of(0).data(), addr2_of(0).data(), 0));
        for (uint32_t tag = 1; tag <= 1000; ++tag)
            brisel_ace_add(big, brisel_ace_alloc(addr1_of(tag).data(),
                                                 addr2_of(tag).data(), tag));
        for (int i = 0; i < 2; ++i)
            ASSERT_EQ(ostrel_api_program_intf(kHandle, &msg, v, big, 1, 1), 0u);
    };
    sweep(
        setup,
        [&] {
            VlanNode *v = brisel_vlan_lookup(kVlan);
            return ostrel_api_program_intf(kHandle, &msg, v, v->first, 1, 0);
        },
        {kInvalid},
        [&](uint32_t status) {
            // A failed request leaves the batch as it was; a failed
            // batch after the flush leaves none open.
            EXPECT_EQ(ostrel::sim::count_of(ostrel::sim::Op::Send) +
                          (batch_buf != nullptr),
                      status == kOk ? 2u : 1u);
        });
}

TEST_F(AllocationSweep, EncodersHandOutAllOrNothingAndDecodersNeverAllocate) {
    batches = false;
    // Read as any record type, these bytes encode and decode unchanged.
    alignas(8) uint8_t rec[24 + 2 * 64] = {};
    auto *req = reinterpret_cast<ostrel_api_plcy_update_req_t *>(rec);
    req->dst.dst_tlv4 = 1; // an ACE's filter presence bit
    req->num_aces = 2;
    req->aces[0].fltr.fltr_flags = 1;
    req->aces[1].actn.actn_flags = 3;
    for (const RecordOps &ops : kRecords) {
        uint8_t *buf = nullptr;
        uint32_t len = 0, err_type = 0;
        std::vector<uint8_t> enc;
        sweep([] {},
              [&] {
                  testing::internal::CaptureStderr();
                  const uint32_t s =
                      ops.to_tlv(rec, &buf, &len, 0, &err_type, 0);
                  testing::internal::GetCapturedStderr();
                  return s;
              },
              {TLVU_STATUS_NO_MEMORY, kNoEntry},
              [&](uint32_t status) {
                  EXPECT_EQ(buf != nullptr, status == kOk) << ops.name;
                  enc.assign(buf, buf + (buf ? len : 0));
                  std::free(buf);
                  buf = nullptr;
              });
        alignas(8) uint8_t out[sizeof rec];
        sweep([] {},
              [&] {
                  std::memset(out, 0, sizeof out);
                  return ops.to_struct(enc.data(), uint32_t(enc.size()), out,
                                       sizeof out);
              },
              {},
              [](uint32_t) { EXPECT_EQ(ostrel::sim::allocations_made(), 0); });
        EXPECT_EQ(std::memcmp(out, rec, ops.tbl->struct_size), 0) << ops.name;
    }
    sweep([] {},
          [&] { return ostrel_api_send_plcy_update(kHandle, 0, req, &msg); },
          {TLVU_STATUS_NO_MEMORY, kNoEntry},
          [&](uint32_t status) {
              EXPECT_EQ(ostrel::sim::count_of(ostrel::sim::Op::Send),
                        status == kOk ? 1u : 0u);
          });
}

} // namespace
} // namespace ostrel_test
