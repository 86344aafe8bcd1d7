// The worker against the simulated platform: random submissions give the
// statuses, registry and service table of one bulk call per submission;
// failed sends and restarts are recovered from on the worker's own clock;
// completions, the descriptor, the queue limit, cancelling and bad
// arguments behave as documented; producers on several threads at once.
#include <future>
#include <poll.h>
#include <random>
#include <thread>

#include "library_state.h"
#include "service_model.h"
#include "worker_support.h"

namespace ostrel_test {
namespace {

namespace sim = ostrel::sim;
using namespace worker_test;
using Change = ostrel_api_acl_change_t;
using Statuses = std::vector<uint32_t>;
constexpr uint32_t kPc = 200; // a port channel with members 3 and 4

Change change(uint32_t vlan, uint32_t intf, uint32_t tag, bool add = true) {
    Change c{};
    std::memcpy(c.addr1, addr1_of(tag).data(), 6);
    std::memcpy(c.addr2, addr2_of(tag).data(), 6);
    c.vlan_id = vlan, c.if_index = intf, c.qualifier = tag, c.add = add;
    return c;
}

// Submissions of one to three changes over VLANs 10 and 20: port-channel
// changes, all-zero first addresses, and deletes that mostly name an ACE
// added before (the others fail).
std::vector<std::vector<Change>> random_submissions(std::mt19937 &rng, int n) {
    auto pick = [&rng](uint32_t k) { return uint32_t(rng() % k); };
    std::vector<Change> added;
    std::vector<std::vector<Change>> out(n);
    for (auto &submission : out) {
        for (uint32_t k = 1 + pick(3); k-- > 0;) {
            const bool pc = pick(5) == 0;
            Change c = change(10 + 10 * pick(2), pc ? kPc : 1 + pick(4),
                              1 + pick(6), added.empty() || pick(3) != 0);
            c.on_port_channel = pc;
            if (pick(8) == 0)
                std::memset(c.addr1, 0, 6);
            if (!c.add && pick(5) != 0) {
                const size_t j = pick(uint32_t(added.size()));
                c = added[j], c.add = 0;
                added.erase(added.begin() + long(j));
            } else if (c.add) {
                added.push_back(c);
            }
            submission.push_back(c);
        }
    }
    return out;
}

class WorkerTest : public LibraryTest {
  protected:
    void SetUp() override {
        LibraryTest::SetUp();
        sim::set_pc_members(kPc, {3, 4});
        Gate::instance().open();
    }
    void TearDown() override {
        Gate::instance().open();
        w_.reset();
        LibraryTest::TearDown();
    }
    void start(uint32_t queue_limit = 0) {
        w_ = make_worker(clock_, queue_limit);
    }
    // Starts a worker held at its first call, so submissions pile up.
    void start_held(uint32_t queue_limit = 0) {
        Gate::instance().close();
        start(queue_limit);
        Gate::instance().wait_until_held();
    }
    int submit(const std::vector<Change> &c, uint64_t cookie = 0) {
        return ostrel_worker_submit(w_.get(), c.data(), uint32_t(c.size()),
                                    cookie);
    }
    struct Outcome {
        uint64_t cookie;
        uint32_t status;
        Statuses statuses;
        bool operator==(const Outcome &) const = default;
    };
    std::vector<Outcome> completions() {
        std::vector<Outcome> out;
        ostrel_worker_completion_t c;
        while (ostrel_worker_next(w_.get(), &c) == 1)
            out.push_back({c.cookie, c.status,
                           Statuses(c.statuses, c.statuses + c.count)});
        return out;
    }
    std::string table() const {
        ostrel::tools::ServiceModel model;
        for (const sim::Call &c : sim::calls())
            if (c.op == sim::Op::Send && c.result == 0)
                model.handle(c.opcode, c.payload.data(), c.payload.size(),
                             nullptr);
        return model.table();
    }
    ostrel_worker_stats_t stats() {
        ostrel_worker_stats_t s{};
        s.struct_size = sizeof s;
        EXPECT_EQ(ostrel_worker_stats(w_.get(), &s), 0);
        return s;
    }
    bool readable() {
        pollfd p{ostrel_worker_fd(w_.get()), POLLIN, 0};
        return poll(&p, 1, 0) == 1;
    }
    TestClock clock_;
    WorkerPtr w_;
};

TEST_F(WorkerTest, SubmissionsWaitingTogetherEndAsOneBulkCallEachWould) {
    std::mt19937 rng(11);
    uint64_t coalesced = 0, replayed = 0;
    for (int round = 0; round < 25; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        const auto submissions = random_submissions(rng, 8);
        std::vector<Outcome> expected;
        for (const auto &s : submissions) {
            Statuses statuses(s.size());
            const uint32_t status = ostrel_api_program_acl_bulk(
                kHandle, s.data(), uint32_t(s.size()), statuses.data(), &msg);
            EXPECT_EQ(did_yarl_send ? drain() : 0u, 0u);
            expected.push_back({expected.size(), status, statuses});
        }
        const std::string registry = vlan_registry() + "|" + pc_registry();
        const std::string service = table();

        reset_library();
        sim::set_pc_members(kPc, {3, 4});
        start_held();
        for (size_t i = 0; i < submissions.size(); ++i)
            ASSERT_EQ(submit(submissions[i], i), 0);
        Gate::instance().open();
        ASSERT_EQ(ostrel_worker_flush(w_.get(), -1), 0);
        EXPECT_EQ(completions(), expected);
        EXPECT_EQ(vlan_registry() + "|" + pc_registry(), registry);
        EXPECT_EQ(table(), service);
        EXPECT_EQ(sim::outstanding_records(), 0u); // every reply drained
        coalesced += stats().coalesced, replayed += stats().replayed;
        w_.reset();
        reset_library();
        sim::set_pc_members(kPc, {3, 4});
    }
    EXPECT_GT(coalesced, 0u);
    EXPECT_GT(replayed, 0u);
}

TEST_F(WorkerTest, AFailedSendKeepsTheChangesAndResyncsAfterDoublingWaits) {
    start();
    sim::fail_next_sends(4, ECONNREFUSED); // a send and its three retries
    ASSERT_EQ(submit({change(10, 1, 1)}, 7), 0);
    ASSERT_EQ(ostrel_worker_flush(w_.get(), -1), 0);
    const Outcome refused{7, OSTREL_STATUS_SEND_ERROR(ECONNREFUSED), {0}};
    EXPECT_EQ(completions(), std::vector<Outcome>{refused});
    EXPECT_EQ(vlan_registry(), "10{1[a1q1]}");
    const uint32_t waits[] = {100,  200,   400,   800,   1600, 3200,
                              6400, 12800, 25600, 30000, 30000};
    uint64_t resyncs = 0;
    for (uint32_t wait : waits) {
        if (resyncs + 1 < std::size(waits)) // the last one goes through
            sim::fail_next_sends(4, ECONNREFUSED);
        clock_.advance_ms(wait - 1, w_.get());
        ASSERT_EQ(ostrel_worker_flush(w_.get(), -1), 0);
        EXPECT_EQ(stats().resyncs, resyncs) << "early, before " << wait;
        clock_.advance_ms(1, w_.get());
        ASSERT_EQ(ostrel_worker_flush(w_.get(), -1), 0);
        EXPECT_EQ(stats().resyncs, ++resyncs) << "late at " << wait;
    }
    // The last resync went through, and no other is made.
    EXPECT_EQ(sim::outstanding_records(), 0u);
    EXPECT_NE(table(), ostrel::tools::ServiceModel().table());
    clock_.advance_ms(3600000, w_.get());
    ASSERT_EQ(ostrel_worker_flush(w_.get(), -1), 0);
    EXPECT_EQ(stats().resyncs, resyncs);
}

TEST_F(WorkerTest, ANewConnectionCountResyncsEveryVlanAtOnce) {
    start();
    ASSERT_EQ(submit({change(10, 1, 1), change(20, 2, 2)}), 0);
    ASSERT_EQ(ostrel_worker_flush(w_.get(), -1), 0);
    mark();
    Gate::instance().value += 1; // the service restarted
    ASSERT_EQ(submit({change(30, 3, 3)}), 0);
    ASSERT_EQ(ostrel_worker_flush(w_.get(), -1), 0);
    EXPECT_EQ(sent(), "1|3:1 / 0|3:1 2:1 1:1"); // the call, then the resync
    EXPECT_EQ(stats().restarts_seen, 1u);
    EXPECT_EQ(sim::outstanding_records(), 0u);
}

TEST_F(WorkerTest, ProducersOnSeveralThreadsGetEveryCompletionInTheirOrder) {
    constexpr int kThreads = 4, kEach = 150;
    start();
    std::vector<std::thread> producers;
    for (int t = 0; t < kThreads; ++t)
        producers.emplace_back([this, t] {
            for (uint32_t i = 0; i < kEach; ++i)
                EXPECT_EQ(submit({change(10 + t, 1 + i % 4, 1 + i)},
                                 uint64_t(t) << 32 | i),
                          0);
        });
    std::vector<uint32_t> next_of(kThreads, 0);
    uint64_t last_done = 0;
    for (int taken = 0; taken < kThreads * kEach;) {
        pollfd p{ostrel_worker_fd(w_.get()), POLLIN, 0};
        ASSERT_EQ(poll(&p, 1, -1), 1);
        ostrel_worker_completion_t c;
        for (; ostrel_worker_next(w_.get(), &c) == 1; ++taken) {
            EXPECT_EQ(uint32_t(c.cookie), next_of[c.cookie >> 32]++);
            EXPECT_EQ(c.status, 0u);
            EXPECT_LE(c.queued_ns, c.done_ns);
            EXPECT_LE(last_done, c.done_ns);
            last_done = c.done_ns;
        }
    }
    for (std::thread &t : producers)
        t.join();
    ASSERT_EQ(ostrel_worker_flush(w_.get(), -1), 0);
    EXPECT_EQ(stats().completions, uint64_t(kThreads * kEach));
    EXPECT_EQ(nodes(brisel_handle.next), kThreads * (1 + 4 + kEach));
}

TEST_F(WorkerTest, SubmitsGoOnWhileTheWorkerIsHeldInACall) {
    start();
    ASSERT_EQ(submit({change(10, 1, 1)}, 1), 0);
    ASSERT_EQ(ostrel_worker_flush(w_.get(), -1), 0);
    Gate::instance().close();
    ASSERT_EQ(submit({change(10, 1, 2)}, 2), 0);
    Gate::instance().wait_until_held(); // after the bulk call of cookie 2
    auto more = std::async(std::launch::async, [this] {
        return submit({change(10, 1, 3)}, 3) + submit({}, 4);
    });
    const bool quick =
        more.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
    if (!quick)
        Gate::instance().open();
    ASSERT_TRUE(quick) << "a submit waited for the worker's call";
    EXPECT_EQ(more.get(), 0);
    EXPECT_EQ(ostrel_worker_flush(w_.get(), 0), ETIMEDOUT);
    EXPECT_EQ(completions().size(), 1u); // cookie 1 only
    Gate::instance().open();
    ASSERT_EQ(ostrel_worker_flush(w_.get(), -1), 0);
    EXPECT_EQ(completions().size(), 3u);
}

TEST_F(WorkerTest, TheQueueLimitCountsTheChangesWaiting) {
    start_held(3);
    EXPECT_EQ(submit({change(10, 1, 1), change(10, 1, 2)}), 0);
    EXPECT_EQ(submit({change(10, 1, 3), change(10, 1, 4)}), EAGAIN);
    EXPECT_EQ(submit({change(10, 1, 3)}), 0);
    EXPECT_EQ(submit({}), 0);
    EXPECT_EQ(submit({change(10, 1, 4)}), EAGAIN);
    Gate::instance().open();
    ASSERT_EQ(ostrel_worker_flush(w_.get(), -1), 0);
    EXPECT_EQ(submit({change(10, 1, 4), change(10, 1, 5), change(10, 1, 6)}),
              0);
    ASSERT_EQ(ostrel_worker_flush(w_.get(), -1), 0);
    EXPECT_EQ(nodes(brisel_handle.next), 2 + 6);
}

TEST_F(WorkerTest, ShuttingDownCancelsWhatWaitsAndRefusesMore) {
    start_held();
    ASSERT_EQ(submit({change(10, 1, 1), change(10, 2, 2)}, 1), 0);
    ASSERT_EQ(submit({change(10, 1, 3)}, 2), 0);
    w_->request_stop();
    Gate::instance().open();
    ostrel_worker_shutdown(w_.get());
    const uint32_t x = OSTREL_STATUS_NOT_EXECUTED;
    EXPECT_TRUE(readable());
    EXPECT_EQ(completions(),
              (std::vector<Outcome>{{1, x, {x, x}}, {2, x, {x}}}));
    EXPECT_FALSE(readable());
    EXPECT_EQ(submit({change(10, 1, 4)}), ESHUTDOWN);
    EXPECT_EQ(ostrel_worker_flush(w_.get(), 0), 0);
    EXPECT_EQ(sim::count_of(sim::Op::Send), 0u);
    EXPECT_EQ(vlan_registry(), "");
}

TEST_F(WorkerTest, BadArgumentsAndASecondWorkerAreRefused) {
    start();
    ostrel_worker_t *other = nullptr;
    ostrel_worker_config_t config{};
    config.struct_size = sizeof config;
    EXPECT_EQ(ostrel_worker_create(&config, &other), EBUSY);
    w_.reset();
    EXPECT_EQ(ostrel_worker_create(nullptr, &other), EINVAL);
    EXPECT_EQ(ostrel_worker_create(&config, nullptr), EINVAL);
    config.struct_size = offsetof(ostrel_worker_config_t, generation);
    EXPECT_EQ(ostrel_worker_create(&config, &other), EINVAL);
    config.struct_size += sizeof config.generation; // an older config
    ASSERT_EQ(ostrel_worker_create(&config, &other), 0);
    w_.reset(other);
    ostrel_worker_completion_t c;
    EXPECT_EQ(ostrel_worker_submit(nullptr, nullptr, 0, 0), EINVAL);
    EXPECT_EQ(ostrel_worker_submit(other, nullptr, 1, 0), EINVAL);
    EXPECT_EQ(ostrel_worker_next(other, nullptr), EINVAL);
    EXPECT_EQ(ostrel_worker_next(nullptr, &c), EINVAL);
    EXPECT_EQ(ostrel_worker_next(other, &c), 0);
    EXPECT_EQ(ostrel_worker_fd(nullptr), -1);
    EXPECT_EQ(ostrel_worker_flush(nullptr, 0), EINVAL);
    ostrel_worker_stats_t s{};
    EXPECT_EQ(ostrel_worker_stats(other, &s), EINVAL);
    EXPECT_EQ(sim::count_of(sim::Op::Send), 0u);
}

} // namespace
} // namespace ostrel_test
