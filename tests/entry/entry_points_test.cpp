// The interface-level add and delete entry points (spec Part 1.1), through
// the simulated platform: which interfaces are reprogrammed, in which order,
// with which install flag, and what the caller gets back.
#include "entry_support.h"

namespace entry_test {
namespace {

using EntryPoints = EntryTest;

constexpr uint32_t kVlan = 10;
constexpr uint32_t kA = 1, kB = 2, kC = 3; // added in this order: list C, B, A

// ---- deletes of what is not registered ----

struct MissingCase {
    const char *what;
    uint32_t vlan;
    uint32_t if_index;
    uint8_t tag;
    uint32_t qualifier;
};

TEST_F(EntryPoints, DeletingWhatIsNotRegisteredReturnsNoEntryAndSendsNothing) {
    given_added(kVlan, kA, 1, 7);
    const std::string before = vlan_registry();
    const MissingCase cases[] = {
        {"unregistered VLAN", 99, kA, 1, 7},
        {"interface not in the VLAN", kVlan, kB, 1, 7},
        {"ACE not on the interface", kVlan, kA, 2, 7},
        {"ACE differing only in the qualifier", kVlan, kA, 1, 8},
    };
    for (const MissingCase &c : cases) {
        mark();
        EXPECT_EQ(del(c.vlan, c.if_index, c.tag, c.qualifier),
                  OSTREL_STATUS_NO_ENTRY)
            << c.what;
        EXPECT_EQ(calls_since_mark(), 0u) << c.what;
        EXPECT_EQ(vlan_registry(), before) << c.what;
    }
    EXPECT_EQ(batch_buf, nullptr);
}

TEST_F(EntryPoints, DeletingFromAnEmptyRegistryReturnsNoEntry) {
    EXPECT_EQ(del(kVlan, kA, 1, 7), OSTREL_STATUS_NO_ENTRY);
    EXPECT_EQ(del_zero(kVlan, kA, 1, 7), OSTREL_STATUS_NO_ENTRY);
    EXPECT_TRUE(sim::calls().empty());
}

// ---- adds ----

TEST_F(EntryPoints,
       AnAllZeroAddOnANewVlanCreatesBothEntriesAndSendsOnlyThatInterface) {
    EXPECT_EQ(add_zero(kVlan, kA, 1, 7), 0u);
    EXPECT_EQ(vlan_registry(), "10{1[z1q7]}");
    EXPECT_EQ(sim::trace(), "if_type_get send");
    const std::vector<Batch> sent = batches();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_TRUE(sent[0].well_formed);
    EXPECT_EQ(sent[0].word0, 1u);
    EXPECT_EQ(sent[0].dsts(), "1:1");
    EXPECT_EQ(sent[0].copies[0].vlan, kVlan);
    EXPECT_EQ(sent[0].copies[0].num_aces,
              2u); // the all-zero ACE gets no record
    EXPECT_EQ(did_yarl_send, 1u);
    EXPECT_EQ(sim::pending_replies(), 1u); // left for the caller
}

TEST_F(EntryPoints, AnAllZeroAddReprogramsOnlyTheNamedInterfaceOfABusyVlan) {
    given_added(kVlan, kA, 1, 1);
    given_added(kVlan, kB, 2, 2);
    mark();
    EXPECT_EQ(add_zero(kVlan, kC, 3, 3), 0u);
    const std::vector<Batch> sent = batches();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].dsts(), "3:1");
    EXPECT_EQ(vlan_registry(), "10{3[z3q3] 2[a2q2] 1[a1q1]}");
}

TEST_F(EntryPoints,
       AnAddReprogramsTheOtherInterfacesNewestFirstThenTheNamedOne) {
    given_added(kVlan, kA, 1, 1);
    given_added(kVlan, kB, 2, 2);
    given_added(kVlan, kC, 3, 3);
    mark();
    EXPECT_EQ(add(kVlan, kB, 4, 4), 0u);

    // C and A deferred into the batch, then B, whose call sends it: one
    // message, one type query per copy and nothing drained.
    EXPECT_EQ(sends_and_drains(), "send");
    EXPECT_EQ(calls_since_mark(sim::Op::IfTypeGet).size(), 3u);
    const std::vector<Batch> sent = batches();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_TRUE(sent[0].well_formed);
    EXPECT_EQ(sent[0].word0,
              0u); // the batch was opened by the deferred call for C
    EXPECT_EQ(sent[0].count, 3u);
    EXPECT_EQ(sent[0].dsts(), "3:1 1:1 2:1");
    EXPECT_EQ(calls_since_mark(sim::Op::IfTypeGet)[0].arg, kC);
    // Every copy is built from the whole VLAN: they differ only in the
    // destination interface.
    for (const Copy &c : sent[0].copies) {
        EXPECT_EQ(c.vlan, kVlan);
        std::vector<uint8_t> same = c.bytes, first = sent[0].copies[0].bytes;
        std::memset(same.data() + 16, 0, 4);
        std::memset(first.data() + 16, 0, 4);
        EXPECT_EQ(same, first) << "copy for " << c.if_index;
    }
    EXPECT_EQ(sent[0].copies[2].record(0), "a4q4"); // the new ACE is sent
    EXPECT_EQ(vlan_registry(), "10{3[a3q3] 2[a4q4 a2q2] 1[a1q1]}");
    EXPECT_EQ(did_yarl_send, 1u);
}

TEST_F(EntryPoints, AnAddOnANewInterfaceOfAKnownVlanAddsItInFront) {
    given_added(kVlan, kA, 1, 1);
    mark();
    EXPECT_EQ(add(kVlan, kB, 2, 2), 0u);
    EXPECT_EQ(vlan_registry(), "10{2[a2q2] 1[a1q1]}");
    ASSERT_EQ(batches().size(), 1u);
    EXPECT_EQ(batches()[0].dsts(), "1:1 2:1");
}

TEST_F(EntryPoints, OnlyTheLow16BitsOfTheQualifierCount) {
    given_added(kVlan, kA, 1, 0xabcd0005u);
    EXPECT_EQ(vlan_registry(), "10{1[a1q5]}");
    EXPECT_EQ(del(kVlan, kA, 1, 0x00000005u), 0u);
    EXPECT_EQ(vlan_registry(), "");
}

TEST_F(EntryPoints, TheSameAceAddedTwiceAndDeletedOnceStaysOnce) {
    given_added(kVlan, kA, 1, 7);
    given_added(kVlan, kA, 1, 7);
    EXPECT_EQ(vlan_registry(), "10{1[a1q7 a1q7]}");
    mark();
    EXPECT_EQ(del(kVlan, kA, 1, 7), 0u);
    EXPECT_EQ(vlan_registry(), "10{1[a1q7]}");
    ASSERT_EQ(batches().size(), 1u);
    EXPECT_EQ(batches()[0].dsts(), "1:1"); // still installs
}

TEST_F(EntryPoints, AnAddWithANullMessageRecordKeepsTheAceAndReturnsInvalid) {
    EXPECT_EQ(ostrel_api_program_acl(kHandle, addr1_of(1).data(),
                                     addr2_of(1).data(), kVlan, kA, 7, nullptr,
                                     1),
              OSTREL_STATUS_INVALID);
    EXPECT_EQ(vlan_registry(), "10{1[a1q7]}");
    EXPECT_EQ(sim::count_of(sim::Op::Send), 0u);
}

TEST_F(EntryPoints,
       AFailedAceAllocationIsNotReportedAndTheInterfaceIsStillReprogrammed) {
    given_added(kVlan, kA, 1, 1);
    mark();
    sim::fail_allocation(1); // the AceNode: VLAN and interface already exist
    EXPECT_EQ(add(kVlan, kA, 2, 2), 0u);
    EXPECT_EQ(vlan_registry(), "10{1[a1q1]}");
    ASSERT_EQ(batches().size(), 1u);
    EXPECT_EQ(batches()[0].dsts(), "1:1");
}

TEST_F(EntryPoints,
       AVlanOrInterfaceThatCannotBeCreatedGivesNoEntryAndSendsNothing) {
    sim::fail_allocation(1);
    EXPECT_EQ(add(kVlan, kA, 1, 1), OSTREL_STATUS_NO_ENTRY);
    EXPECT_EQ(vlan_registry(), "");
    sim::fail_allocation(2); // the interface; the VLAN stays, empty
    EXPECT_EQ(add(kVlan, kA, 1, 1), OSTREL_STATUS_NO_ENTRY);
    EXPECT_EQ(vlan_registry(), "10{}");
    EXPECT_TRUE(sim::calls().empty());
}

TEST_F(EntryPoints, EveryAllocationFailureLeavesAConsistentRegistryAndNoLeak) {
    // SQLite-style: fail the 1st, 2nd, ... allocation of an add on a busy
    // VLAN until the add goes through untouched.
    for (long nth = 1;; ++nth) {
        free_all(brisel_handle);
        clear_builder_state();
        sim::reset();
        given_added(kVlan, kA, 1, 1);
        given_added(kVlan, kB, 2, 2);
        const long before = sim::allocations_made();
        sim::fail_allocation(nth);
        const uint32_t status = add(kVlan, kC, 3, 3);
        ASSERT_TRUE(registries_consistent()) << nth;
        if (status == 0 && sim::allocations_made() - before < nth)
            break; // nothing failed
        EXPECT_TRUE(status == 0 || status == OSTREL_STATUS_NO_ENTRY ||
                    status == OSTREL_STATUS_INVALID)
            << std::hex << status;
        std::free(batch_buf); // a deferred batch may stay open after a failure
        batch_buf = nullptr;
        batch_len = 0;
        free_all(brisel_handle);
        EXPECT_EQ(sim::live_allocations(), 0) << "allocation " << nth;
        ASSERT_LT(nth, 50);
    }
}

// ---- deletes ----

TEST_F(EntryPoints,
       DeletingTheOnlyAllZeroAceRemovesBothEntriesAfterAnUninstall) {
    given_added_zero(kVlan, kA, 1, 7);
    mark();
    EXPECT_EQ(del_zero(kVlan, kA, 1, 7), 0u);
    const std::vector<Batch> sent = batches();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].dsts(), "1:2"); // install flag 0: operation 2
    EXPECT_EQ(sent[0].copies[0].num_aces, 2u);
    EXPECT_EQ(vlan_registry(), "");
    EXPECT_EQ(brisel_handle.count, 0u);
    EXPECT_EQ(sim::live_allocations(), 0); // nodes, request and batch all freed
}

TEST_F(EntryPoints, DeletingOneOfTwoAcesInstallsAndKeepsBothEntries) {
    given_added(kVlan, kA, 1, 1);
    given_added(kVlan, kA, 2, 2);
    mark();
    EXPECT_EQ(del(kVlan, kA, 2, 2), 0u);
    ASSERT_EQ(batches().size(), 1u);
    EXPECT_EQ(batches()[0].dsts(), "1:1");
    EXPECT_EQ(batches()[0].copies[0].aces(),
              ""); // one ACE: its record is closed over
    EXPECT_EQ(vlan_registry(), "10{1[a1q1]}");
}

TEST_F(EntryPoints,
       ADeleteReprogramsTheOthersWithInstallAndTheEmptiedOneWithout) {
    given_added(kVlan, kA, 1, 1);
    given_added(kVlan, kB, 2, 2);
    given_added(kVlan, kC, 3, 3);
    mark();
    EXPECT_EQ(del(kVlan, kB, 2, 2), 0u);
    ASSERT_EQ(batches().size(), 1u);
    EXPECT_EQ(sends_and_drains(), "send");
    EXPECT_EQ(batches()[0].dsts(), "3:1 1:1 2:2");
    // The interface node goes; the VLAN keeps its other interfaces.
    EXPECT_EQ(vlan_registry(), "10{3[a3q3] 1[a1q1]}");
}

TEST_F(EntryPoints, AnAllZeroDeleteReprogramsOnlyTheNamedInterface) {
    given_added(kVlan, kA, 1, 1);
    given_added_zero(kVlan, kB, 2, 2);
    given_added(kVlan, kB, 3, 3);
    mark();
    EXPECT_EQ(del_zero(kVlan, kB, 2, 2), 0u);
    ASSERT_EQ(batches().size(), 1u);
    EXPECT_EQ(batches()[0].dsts(), "2:1");
    EXPECT_EQ(vlan_registry(), "10{2[a3q3] 1[a1q1]}");
}

TEST_F(EntryPoints, ALastDeleteThatFailsToSendStillRemovesTheEmptiedEntries) {
    given_added(kVlan, kA, 1, 1);
    sim::fail_next_sends(4, 0x1234);
    EXPECT_EQ(del(kVlan, kA, 1, 1), 0x81040234u);
    EXPECT_EQ(vlan_registry(), "");
    EXPECT_EQ(batch_buf, nullptr);
}

TEST_F(EntryPoints, AnAddThatFailsToSendKeepsTheAceAndReturnsTheSendStatus) {
    sim::fail_next_sends(4, 0x77);
    EXPECT_EQ(add(kVlan, kA, 1, 1), OSTREL_STATUS_SEND_ERROR(0x77));
    EXPECT_EQ(vlan_registry(), "10{1[a1q1]}");
    EXPECT_EQ(sim::count_of(sim::Op::Send), 4u);
    EXPECT_EQ(did_yarl_send, 0u);
}

// A VLAN whose oldest interface P is a port channel whose member query will
// fail: every deferred call that reaches P fails with 0x41040003.
class FailingDeferredCall : public EntryPoints {
  protected:
    static constexpr uint32_t kP = 50, kX = 4, kN = 5;
    void SetUp() override {
        EntryPoints::SetUp();
        sim::set_if_type(kP, kPortChannelType);
        sim::set_pc_members(kP, {31, 32});
        given_added(kVlan, kP, 1, 1);
        given_added(kVlan, kX, 2, 2);
        given_added(kVlan, kN, 3, 3);
        sim::fail_pc_queries(1, -5);
        mark();
    }
};

TEST_F(FailingDeferredCall,
       AnAddReturnsItsStatusAndLeavesTheNamedInterfaceUnprogrammed) {
    EXPECT_EQ(add(kVlan, kN, 4, 4), OSTREL_STATUS_INVALID);
    EXPECT_EQ(sends_and_drains(), "");
    EXPECT_EQ(vlan_registry(),
              "10{5[a4q4 a3q3] 4[a2q2] 50[a1q1]}"); // not rolled back
    // X, visited before P, waits in the open batch; the next send takes it
    // along in front of the new requests.
    ASSERT_NE(batch_buf, nullptr);
    EXPECT_EQ(did_yarl_send, 0u);
    EXPECT_EQ(add_zero(kVlan, kN, 6, 6), 0u);
    const std::vector<Batch> sent = batches();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].word0, 0u); // the batch was created by the failed call
    EXPECT_EQ(sent[0].dsts(), "4:1 5:1");
}

TEST_F(FailingDeferredCall, ADeleteKeepsTheEmptiedEntries) {
    EXPECT_EQ(del(kVlan, kN, 3, 3), OSTREL_STATUS_INVALID);
    EXPECT_EQ(sends_and_drains(), "");
    EXPECT_EQ(vlan_registry(), "10{5[] 4[a2q2] 50[a1q1]}");
    EXPECT_EQ(calls_since_mark(sim::Op::IfTypeGet).back().arg,
              kP); // N never built
}

// ---- the dispatching entry point ----

struct Outcome {
    uint32_t status;
    std::string trace;
    std::string registry;
    std::vector<std::vector<uint8_t>> payloads;
    bool operator==(const Outcome &) const = default;
};

class ProgramAcl : public EntryPoints {
  protected:
    // Runs op on a fresh VLAN with interfaces A (one ACE) and B (two).
    template <typename Op> Outcome run(Op op) {
        free_all(brisel_handle);
        clear_builder_state();
        sim::reset();
        given_added(kVlan, kA, 1, 1);
        given_added(kVlan, kB, 2, 2);
        given_added(kVlan, kB, 3, 3);
        mark();
        Outcome o;
        o.status = op();
        o.trace = sim::trace(); // the setup's calls are the same in every run
        o.registry = vlan_registry();
        for (const sim::Call &c : calls_since_mark(sim::Op::Send))
            o.payloads.push_back(c.payload);
        return o;
    }
};

TEST_F(ProgramAcl, WithAddZeroItIsExactlyTheDelete) {
    auto via_program = run([&] {
        return ostrel_api_program_acl(kHandle, addr1_of(2).data(),
                                      addr2_of(2).data(), kVlan, kB, 2, &msg,
                                      0);
    });
    auto via_del = run([&] { return del(kVlan, kB, 2, 2); });
    EXPECT_EQ(via_program, via_del);
    EXPECT_EQ(via_del.registry, "10{2[a3q3] 1[a1q1]}");
    // Also for a delete that finds nothing.
    auto missing_program = run([&] {
        return ostrel_api_program_acl(kHandle, addr1_of(9).data(),
                                      addr2_of(9).data(), kVlan, kB, 2, &msg,
                                      0);
    });
    auto missing_del = run([&] { return del(kVlan, kB, 9, 2); });
    EXPECT_EQ(missing_program, missing_del);
    EXPECT_EQ(missing_del.status, OSTREL_STATUS_NO_ENTRY);
}

TEST_F(ProgramAcl, WithAnyNonzeroAddItIsExactlyTheAdd) {
    auto via_add = run([&] {
        return ostrel_api_add_acl(kHandle, addr1_of(4).data(),
                                  addr2_of(4).data(), kVlan, kA, 4, &msg);
    });
    EXPECT_EQ(via_add.status, 0u);
    for (uint32_t flag : {1u, 2u, 0x80000000u, 0xffffffffu}) {
        auto via_program = run([&] {
            return ostrel_api_program_acl(kHandle, addr1_of(4).data(),
                                          addr2_of(4).data(), kVlan, kA, 4,
                                          &msg, flag);
        });
        EXPECT_EQ(via_program, via_add) << "add = " << flag;
    }
}

// ---- null addresses (our choice: rejected before anything happens) ----

TEST_F(EntryPoints, NullAddressesAreRejectedWithInvalidBeforeAnyChange) {
    given_added(kVlan, kA, 1, 1);
    const std::string before = vlan_registry();
    const Addr a1 = addr1_of(1), a2 = addr2_of(1);
    const uint8_t *a = a1.data();
    mark();
    for (uint32_t add_flag : {0u, 1u}) {
        EXPECT_EQ(ostrel_api_program_acl(kHandle, nullptr, a2.data(), kVlan, kA,
                                         1, &msg, add_flag),
                  OSTREL_STATUS_INVALID);
        EXPECT_EQ(ostrel_api_program_acl(kHandle, a, nullptr, kVlan, kA, 1,
                                         &msg, add_flag),
                  OSTREL_STATUS_INVALID);
    }
    EXPECT_EQ(ostrel_api_del_acl(kHandle, nullptr, nullptr, kVlan, kA, 1, &msg),
              OSTREL_STATUS_INVALID);
    EXPECT_EQ(calls_since_mark(), 0u);
    EXPECT_EQ(vlan_registry(), before);
}

// ---- the reply is the caller's ----

TEST_F(EntryPoints, AfterASuccessfulAddTheReplyWaitsForTheCallersDrain) {
    EXPECT_EQ(add(kVlan, kA, 1, 1), 0u);
    EXPECT_EQ(did_yarl_send, 1u);
    EXPECT_EQ(sim::count_of(sim::Op::Recv), 0u);
    EXPECT_EQ(drain(), 0u);
    EXPECT_EQ(did_yarl_send, 0u);
    EXPECT_EQ(sim::pending_replies(), 0u);
    EXPECT_EQ(sim::outstanding_records(), 0);
}

TEST_F(EntryPoints, DumpMemoryDoesNothingAndReturnsZero) {
    EXPECT_EQ(ostrel_api_dump_memory(0, 0), 0u);
    EXPECT_EQ(ostrel_api_dump_memory(0xffffffffu, 12345), 0u);
    EXPECT_TRUE(sim::calls().empty());
    EXPECT_EQ(sim::allocations_made(), 0);
}

} // namespace
} // namespace entry_test
