// The counters and the event hook against what the simulated platform
// recorded: they tell what happened, and watching changes nothing.
#include <cerrno>
#include <cstddef>
#include <tuple>

#include "library_state.h"

namespace {

using ostrel::sim::Op;
using ostrel_test::addr1_of;
using ostrel_test::addr2_of;
using ostrel_test::kHandle;

ostrel_api_counters_t counters() {
    ostrel_api_counters_t c{};
    c.struct_size = sizeof c;
    ostrel_api_counters_get(&c);
    return c;
}

// Every event as "kind:status/error/bytes", the kinds as letters: a
// send attempt, s retry sleep, F failed send, d drain, R bulk rollback.
struct EventLog {
    std::string text;
    uint64_t waited = 0; // durations of the attempts, sleeps and drains

    static void record(const ostrel_api_event_t *e, void *context) {
        auto *log = static_cast<EventLog *>(context);
        static const char kKinds[] = "?asFdR";
        char line[64];
        std::snprintf(line, sizeof line, "%s%c:%x/%d/%llu",
                      log->text.empty() ? "" : " ", kKinds[e->kind % 6],
                      e->status, e->error,
                      static_cast<unsigned long long>(e->bytes));
        log->text += line;
        if (e->kind != OSTREL_EVENT_SEND_FAILED &&
            e->kind != OSTREL_EVENT_BULK_ROLLBACK)
            log->waited += e->duration_ns;
        errno = 0; // a careless hook: the library must not notice
    }
};

class Observe : public ostrel_test::LibraryTest {
  protected:
    void SetUp() override {
        LibraryTest::SetUp();
        ostrel_api_counters_reset();
    }
    void TearDown() override {
        ostrel_api_set_event_hook(nullptr, nullptr);
        ostrel_api_counters_set_timing(0);
        LibraryTest::TearDown();
    }
    uint32_t bulk(std::initializer_list<ostrel_api_acl_change_t> changes) {
        return ostrel_api_program_acl_bulk(
            kHandle, changes.begin(), uint32_t(changes.size()), nullptr, &msg);
    }
    static ostrel_api_acl_change_t change(uint32_t add, uint32_t vlan,
                                          uint32_t if_index, uint32_t tag) {
        ostrel_api_acl_change_t c{};
        std::memcpy(c.addr1, addr1_of(tag).data(), 6);
        std::memcpy(c.addr2, addr2_of(tag).data(), 6);
        c.vlan_id = vlan;
        c.if_index = if_index;
        c.add = add;
        return c;
    }

    // Retried and failed sends, drains that fail, a port channel, a bulk
    // rollback and a resync: 8 programming calls.
    void scenario() {
        ostrel::sim::set_pc_members(40, {5, 6});
        given(acl(1, 10, 1, 1, 3));
        given(acl(1, 10, 2, 2, 3)); // 2 requests
        ostrel::sim::fail_next_sends(2, EAGAIN);
        given(acl(0, 10, 2, 2, 3)); // 2 requests, 2 retries
        ostrel::sim::fail_next_sends(4, ECONNRESET);
        EXPECT_EQ(acl(1, 20, 3, 3, 4), OSTREL_STATUS_SEND_ERROR(ECONNRESET));
        given(pc(1, 30, 40, 4, 5)); // 2 members, one drained inside
        ASSERT_EQ(acl(1, 20, 3, 5, 4), 0u);
        ostrel::sim::fail_next_recv(ECONNRESET);
        EXPECT_EQ(drain(), uint32_t(ECONNRESET));
        EXPECT_EQ(bulk({change(1, 50, 7, 6), change(0, 50, 7, 9)}),
                  OSTREL_STATUS_NO_ENTRY);
        given(ostrel_api_resync(kHandle, nullptr, &msg));
    }
};

TEST_F(Observe, CountersTellWhatThePlatformSaw) {
    EventLog log;
    ostrel_api_set_event_hook(&EventLog::record, &log);
    scenario();
    const ostrel_api_counters_t c = counters();

    uint64_t accepted = 0, bytes = 0, failed_recvs = 0;
    for (const ostrel::sim::Call &s : ostrel::sim::calls_of(Op::Send))
        if (s.result == 0)
            ++accepted, bytes += s.length;
    for (const ostrel::sim::Call &r : ostrel::sim::calls_of(Op::Recv))
        failed_recvs += r.result != 0;
    EXPECT_EQ(
        std::tuple(c.send_attempts, c.messages_sent, c.bytes_sent,
                   c.send_retries, c.send_failures, c.drains, c.drain_failures),
        std::tuple(ostrel::sim::count_of(Op::Send), accepted, bytes,
                   ostrel::sim::sleeps().size(), ostrel::sim::perrors().size(),
                   ostrel::sim::count_of(Op::Recv), failed_recvs));
    EXPECT_EQ(
        std::tuple(c.calls, c.requests_built, c.bulk_rollbacks, c.resyncs),
        std::tuple(8u, 14u, 1u, 1u));
    EXPECT_EQ(std::tuple(c.vlans, c.interfaces, c.aces, c.port_channels),
              std::tuple(3u, 4u, 5u, 1u));
    EXPECT_GT(c.wait_ns, 0u);
    EXPECT_EQ(c.wait_ns, log.waited);

    // The third call: two refused attempts, each after a sleep but the
    // first; the fourth gives up after four.
    const std::string refused = "a:8104000b/11/", reset = "a:81040068/104/";
    EXPECT_NE(log.text.find(refused + "312 s:0/0/0 " + refused +
                            "312 s:0/0/0 a:0/0/312 d:0/0/0"),
              std::string::npos)
        << log.text;
    EXPECT_NE(log.text.find(reset + "160 s:0/0/0 " + reset + "160 s:0/0/0 " +
                            reset + "160 s:0/0/0 " + reset +
                            "160 F:81040068/104/160"),
              std::string::npos)
        << log.text;
    EXPECT_NE(log.text.find("d:68/104/0 R:41040002/0/0"), std::string::npos)
        << log.text;

    ostrel_api_counters_reset();
    const ostrel_api_counters_t after = counters();
    EXPECT_EQ(std::tuple(after.calls, after.wait_ns, after.drains, after.aces),
              std::tuple(0u, 0u, 0u, 5u));
}

TEST_F(Observe, AHookChangesNoPlatformCallNorAllocation) {
    std::vector<ostrel::sim::Call> runs[2];
    long allocations[2];
    EventLog log;
    for (int hooked = 0; hooked < 2; ++hooked) {
        ostrel_test::reset_library();
        ostrel_api_set_event_hook(hooked ? &EventLog::record : nullptr, &log);
        scenario();
        runs[hooked] = ostrel::sim::calls();
        allocations[hooked] = ostrel::sim::allocations_made();
    }
    EXPECT_FALSE(log.text.empty());
    EXPECT_EQ(allocations[0], allocations[1]);
    ASSERT_EQ(runs[0].size(), runs[1].size());
    for (size_t i = 0; i < runs[0].size(); ++i) {
        const ostrel::sim::Call &a = runs[0][i], &b = runs[1][i];
        EXPECT_EQ(std::tie(a.op, a.handle, a.length, a.payload, a.token, a.arg,
                           a.result, a.text),
                  std::tie(b.op, b.handle, b.length, b.payload, b.token, b.arg,
                           b.result, b.text))
            << "call " << i;
    }
}

TEST_F(Observe, WaitsAreTimedOnlyWhenAsked) {
    given(acl(1, 10, 1, 1, 3));
    EXPECT_EQ(counters().wait_ns, 0u);
    ostrel_api_counters_set_timing(1);
    ostrel::sim::fail_next_sends(1, EAGAIN); // and a retry sleep
    given(acl(1, 10, 1, 2, 3));
    EXPECT_GT(counters().wait_ns, 0u);
}

TEST_F(Observe, AFailedSendsPerrorLineNamesTheInjectedError) {
    ostrel::sim::fail_next_sends(4, ECONNREFUSED);
    errno = 0;
    EXPECT_EQ(acl(1, 10, 1, 1, 3), OSTREL_STATUS_SEND_ERROR(ECONNREFUSED));
    const std::vector<ostrel::sim::Call> lines =
        ostrel::sim::calls_of(Op::Perror);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].arg, uint32_t(ECONNREFUSED));
}

TEST_F(Observe, ACallerFillsOnlyTheFieldsItsStructHolds) {
    given(acl(1, 10, 1, 1, 3));
    ostrel_api_counters_t c;
    std::memset(&c, 0xee, sizeof c);
    // Ends inside the field after calls: that field is left alone.
    c.struct_size = offsetof(ostrel_api_counters_t, requests_built) + 4;
    ostrel_api_counters_get(&c);
    EXPECT_EQ(c.calls, 1u);
    EXPECT_EQ(c.requests_built, 0xeeeeeeeeeeeeeeeeu);
    EXPECT_EQ(c.port_channels, 0xeeeeeeeeeeeeeeeeu);

    // A newer caller's larger struct: the tail past ours is untouched.
    struct Grown {
        ostrel_api_counters_t known;
        uint64_t later;
    } g;
    std::memset(&g, 0xee, sizeof g);
    g.known.struct_size = sizeof g;
    ostrel_api_counters_get(&g.known);
    EXPECT_EQ(std::tuple(g.known.struct_size, g.known.aces, g.later),
              std::tuple(uint32_t(sizeof g), 1u, 0xeeeeeeeeeeeeeeeeu));
}

} // namespace
