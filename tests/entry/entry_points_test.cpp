// The interface-level entry points: which interfaces are reprogrammed, in
// which order, with which install flag, and what the caller gets back.
#include <map>

#include "ifsvc.h"
#include "library_state.h"

namespace ostrel_test {
namespace {

constexpr uint32_t kVlan = 10;

// The request copies of the sends from call `from` on, by destination.
std::map<uint32_t, std::vector<uint8_t>> copies_sent(size_t from) {
    std::map<uint32_t, std::vector<uint8_t>> copies;
    for (const ostrel::sim::Call &c : ostrel::sim::calls()) {
        const std::vector<uint8_t> &p = c.payload;
        ostrel::BatchCursor r(p.data(), p.size());
        for (; &c >= &ostrel::sim::calls()[from] &&
               c.op == ostrel::sim::Op::Send && r.request_fits();
             r.next())
            copies[r.if_index()].assign(r.request(), r.request() + r.size());
    }
    return copies;
}

class EntryPoints : public LibraryTest {
  protected:
    // Interfaces 1, 2, 3 holding a1q1, a2q2, a3q3: list order 3 2 1.
    void given_three() {
        for (uint32_t i : {1, 2, 3})
            given(acl(1, kVlan, i, i, i));
        mark();
    }
    // Every copy sent since the mark is the request the builder makes of
    // its interface alone, straight from the registry.
    void expect_copies_built_alone(VlanNode *vlan) {
        const auto in_operation = copies_sent(mark_);
        mark();
        for (IntfNode *i = vlan->first; i != nullptr; i = i->next)
            given(ostrel_api_program_intf(kHandle, &msg, vlan, i, 1, 0));
        EXPECT_EQ(copies_sent(mark_), in_operation);
    }
};

TEST_F(EntryPoints, AnAddReprogramsTheOthersNewestFirstThenSendsTheNamedOne) {
    given_three();
    EXPECT_EQ(acl(0x80000000u, kVlan, 2, 4, 0xabcd0004u), 0u);
    EXPECT_EQ(vlan_registry(), "10{3[a3q3] 2[a4q4 a2q2] 1[a1q1]}");
    // 3 and 1 go deferred into the batch, then 2, whose call sends it.
    EXPECT_EQ(sends_and_drains(), "send");
    EXPECT_EQ(sent(), "0|3:1 1:1 2:1");
    // A copy: calls_of returns a temporary.
    const std::vector<uint8_t> batch =
        ostrel::sim::calls_of(ostrel::sim::Op::Send).back().payload;
    EXPECT_EQ(read<uint32_t>(batch, 8 + 20), 3u); // built after the update
    EXPECT_EQ(did_yarl_send, 1u);
    EXPECT_EQ(ostrel::sim::pending_replies(), 1u); // the reply is the caller's
    EXPECT_EQ(drain(), 0u);
    EXPECT_EQ(did_yarl_send, 0u);
}

TEST_F(EntryPoints, AllZeroAddsAndDeletesReprogramOnlyTheNamedInterface) {
    given_three();
    given(acl(1, 20, 7, 7, 7, true)); // a new VLAN
    given(acl(1, kVlan, 4, 5, 5, true));
    given(acl(1, kVlan, 2, 6, 6, true));
    EXPECT_EQ(acl(0, kVlan, 2, 6, 6, true), 0u);
    EXPECT_EQ(sent(), "1|7:1 / 1|4:1 / 1|2:1 / 1|2:1");
    EXPECT_EQ(vlan_registry(),
              "20{7[z7q7]} 10{4[z5q5] 3[a3q3] 2[a2q2] 1[a1q1]}");
}

TEST_F(EntryPoints, DeletesInstallTheOthersAndUninstallAndRemoveWhatEmptied) {
    given_three();
    given(acl(1, kVlan, 1, 1, 0x10001)); // equal to a1q1 in the low 16 bits
    given(acl(0, kVlan, 2, 2, 2));
    given(acl(0, kVlan, 3, 3, 3));
    given(ostrel_api_del_acl(kHandle, addr1_of(1).data(), addr2_of(1).data(),
                             kVlan, 1, 1, &msg)); // one of the two goes
    EXPECT_EQ(vlan_registry(), "10{1[a1q1]}");
    EXPECT_EQ(acl(0, kVlan, 1, 1, 1), 0u);
    EXPECT_EQ(sent(), "0|3:1 2:1 1:1 / 0|3:1 1:1 2:2 / 0|1:1 3:2 / 1|1:1 / "
                      "1|1:2");
    EXPECT_EQ(vlan_registry(), ""); // the emptied VLAN went too
}

TEST_F(EntryPoints, UnknownEntriesAndNullAddressesChangeAndSendNothing) {
    given(acl(1, kVlan, 1, 7, 7));
    given(pc(1, kVlan, 100, 7, 7)); // no members: nothing sent
    const std::string before = vlan_registry() + pc_registry();
    mark();
    const Addr a7 = addr1_of(7);
    const uint8_t *a = a7.data(), *z = nullptr;
    const uint32_t N = OSTREL_STATUS_NO_ENTRY, I = OSTREL_STATUS_INVALID;
    // Unknown VLAN, interface, ACE, qualifier; port channel, its VLAN, ACE.
    EXPECT_EQ(acl(0, 99, 1, 7, 7), N);
    EXPECT_EQ(acl(0, kVlan, 2, 7, 7), N);
    EXPECT_EQ(acl(0, kVlan, 1, 8, 7), N);
    EXPECT_EQ(acl(0, kVlan, 1, 7, 8), N);
    EXPECT_EQ(pc(0, kVlan, 101, 7, 7), N);
    EXPECT_EQ(pc(0, 11, 100, 7, 7), N);
    EXPECT_EQ(pc(0, kVlan, 100, 8, 7), N);
    EXPECT_EQ(pc(0, kVlan, 100, 7, 8), N);
    EXPECT_EQ(ostrel_api_program_acl(kHandle, z, a, 10, 1, 7, &msg, 1), I);
    EXPECT_EQ(ostrel_api_program_acl(kHandle, a, z, 10, 1, 7, &msg, 1), I);
    EXPECT_EQ(ostrel_api_del_acl(kHandle, z, a, 10, 1, 7, &msg), I);
    EXPECT_EQ(ostrel_api_del_acl(kHandle, a, z, 10, 1, 7, &msg), I);
    EXPECT_EQ(ostrel_api_pc_program_acl(kHandle, z, a, 10, 100, 7, &msg, 1), I);
    EXPECT_EQ(ostrel_api_pc_program_acl(kHandle, a, z, 10, 100, 7, &msg, 0), I);
    EXPECT_EQ(ostrel_api_dump_memory(1, 2), 0u);
    EXPECT_EQ((ostrel::sim::calls().size() - mark_), 0u);
    EXPECT_EQ(vlan_registry() + pc_registry(), before);
}

TEST_F(EntryPoints, FailedSendsAreReturnedAndTheRegistryChangesStay) {
    ostrel::sim::fail_next_sends(4, 0x77);
    EXPECT_EQ(acl(1, kVlan, 1, 1, 1), OSTREL_STATUS_SEND_ERROR(0x77));
    EXPECT_EQ(did_yarl_send, 0u);
    EXPECT_EQ(ostrel_api_program_acl(kHandle, addr1_of(2).data(),
                                     addr2_of(2).data(), kVlan, 1, 2, nullptr,
                                     1),
              OSTREL_STATUS_INVALID); // no message record
    EXPECT_EQ(vlan_registry(), "10{1[a2q2 a1q1]}");
    given(acl(0, kVlan, 1, 2, 2));
    ostrel::sim::fail_next_sends(4, 0x78);
    EXPECT_EQ(acl(0, kVlan, 1, 1, 1), OSTREL_STATUS_SEND_ERROR(0x78));
    EXPECT_EQ(vlan_registry(), ""); // emptied entries go whatever the send did
    EXPECT_EQ(batch_buf, nullptr);
}

TEST_F(EntryPoints, ALastDeleteFreesTheEmptiedEntriesWhenItsRequestFails) {
    given(acl(1, kVlan, 1, 1, 0x1234));
    ostrel::sim::fail_allocation(1); // the request of the named interface
    EXPECT_EQ(acl(0, kVlan, 1, 1, 0xab1234), OSTREL_STATUS_INVALID);
    EXPECT_EQ(vlan_registry(), "");
    EXPECT_EQ(ostrel::sim::live_allocations(), 0);
}

TEST_F(EntryPoints, AFailingDeferredCallStopsBeforeTheNamedInterface) {
    ostrel::sim::set_if_type(
        50,
        OSTREL_IF_TYPE_PORT_CHANNEL); // its member query will fail
    ostrel::sim::set_pc_members(50, {31, 32});
    for (uint32_t i : {50, 4, 5})
        given(acl(1, kVlan, i, i, i));
    mark();
    ostrel::sim::fail_pc_queries(2, -5);
    EXPECT_EQ(acl(0, kVlan, 5, 5, 5), OSTREL_STATUS_INVALID);
    EXPECT_EQ(vlan_registry(), "10{5[] 4[a4q4] 50[a50q50]}"); // entry kept
    EXPECT_EQ(acl(1, kVlan, 5, 6, 6), OSTREL_STATUS_INVALID);
    EXPECT_EQ(vlan_registry(), "10{5[a6q6] 4[a4q4] 50[a50q50]}");
    EXPECT_EQ(sends_and_drains(), "");
    EXPECT_EQ(did_yarl_send, 0u);
    // Interface 4's copies, deferred before the failures, wait in the batch.
    EXPECT_EQ(acl(1, kVlan, 5, 7, 7, true), 0u);
    EXPECT_EQ(sent(), "0|4:1 4:1 5:1");
}

// One operation's requests share their records. Every copy it sends (across
// a flush, to port-channel members, of an interface without ACEs whose
// request flushes the batch, with all-zero first addresses in the slots)
// must be the request the builder makes of that interface alone, straight
// from the registry.
TEST_F(EntryPoints, EveryCopyOfAnOperationIsTheRequestOfItsInterfaceAlone) {
    ostrel::sim::set_if_type(4, OSTREL_IF_TYPE_PORT_CHANNEL);
    ostrel::sim::set_pc_members(4, {5, 6});
    VlanNode *vlan = brisel_vlan_add(kVlan);
    ASSERT_NE(brisel_intf_add(vlan, 9), nullptr); // holds no ACEs
    for (uint32_t i = 1; i <= 4; ++i) {
        IntfNode *intf = brisel_intf_add(vlan, i);
        for (uint16_t j = 0; j < 254; ++j) { // 2 requests fill a batch
            const Addr a1 = j % 7 == i ? Addr{} : addr1_of(j);
            (void)brisel_ace_add(
                intf,
                brisel_ace_alloc(a1.data(), addr2_of(j).data(), i * 1000 + j));
        }
    }
    mark();
    given(acl(1, kVlan, 1, 200, 7));
    EXPECT_EQ(sent(), "0|5:1 6:1 / 0|3:1 2:1 / 0|9:1 1:1");
    expect_copies_built_alone(vlan);
}

// With one ACE an interface every request has the same size: one of an
// interface without ACEs, programmed first, must lend no records.
TEST_F(EntryPoints, AnInterfaceWithoutAcesLendsNoRecords) {
    VlanNode *vlan = brisel_vlan_add(kVlan);
    for (uint32_t i : {9, 1, 2, 8}) // list order 8 2 1 9; 8 stays empty
        ASSERT_NE(brisel_intf_add(vlan, i), nullptr);
    for (uint32_t i : {1, 2})
        brisel_ace_add(
            brisel_intf_lookup(vlan, i),
            brisel_ace_alloc(addr1_of(i).data(), addr2_of(i).data(), i));
    mark();
    given(acl(1, kVlan, 9, 9, 9));
    expect_copies_built_alone(vlan);
}

} // namespace
} // namespace ostrel_test
