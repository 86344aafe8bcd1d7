// The worker over the socket transport to aclsvc-sim: a service that
// refuses every send, or accepts and never answers, holds the worker's
// thread but never a submitter; a service restarted in the middle of a
// stream ends up holding the registry's whole table without being asked.
#include <future>
#include <gtest/gtest.h>
#include <unistd.h>
#include <vector>

#include "ifsvc.h"
#include "ostrelapi/platform/socket_transport.h"
#include "process_runner.h"
#include "service_protocol.h"
#include "worker_support.h"

using namespace worker_test;

Gate sleep_gate;   // in the sender's retry sleeps
Gate receive_gate; // before the drain's receive

extern "C" {
int if_index_get_type(uint32_t, uint8_t *type) {
    *type = 1; // a plain interface
    return 0;
}
int port_channel_info_get(PortChannelInfo *) {
    return -1;
}
int __real_yarl_recv(yarl_handle_t, yarl_msg *, yarl_recv_opts *);
int __wrap_yarl_recv(yarl_handle_t handle, yarl_msg *msg,
                     yarl_recv_opts *opts) {
    receive_gate.pass();
    return __real_yarl_recv(handle, msg, opts);
}
int __wrap_usleep(useconds_t) {
    sleep_gate.pass();
    return 0;
}
} // extern "C"

namespace {

ostrel_api_acl_change_t add(uint32_t vlan, uint32_t intf, uint32_t tag) {
    ostrel_api_acl_change_t c{
        {2, 0, 0, 0, 0, uint8_t(tag)}, {4}, vlan, intf, tag, 1, 0};
    return c;
}

std::string table() {
    std::vector<uint8_t> answer;
    EXPECT_EQ(
        ostrel::socket_transport::query(ostrel::tools::kQueryTable, &answer),
        0);
    return std::string(answer.begin(), answer.end());
}

class WorkerSocketTest : public ::testing::Test {
  protected:
    void connect(const std::vector<std::string> &daemon_args) {
        daemon_ = std::make_unique<tools_test::Daemon>(daemon_args);
        ASSERT_TRUE(daemon_->ok());
        ostrel_socket_transport_set_timeout_ms(tools_test::scaled_ms(60000));
        ASSERT_EQ(ostrel_socket_transport_connect(daemon_->socket().c_str()),
                  0);
        w_ = make_worker(clock_, 0, ostrel_socket_generation);
    }
    void TearDown() override {
        sleep_gate.open();
        w_.reset();
        ostrel_socket_transport_disconnect();
    }
    int submit(uint32_t vlan, uint32_t intf, uint32_t tag) {
        const ostrel_api_acl_change_t c = add(vlan, intf, tag);
        return ostrel_worker_submit(w_.get(), &c, 1, tag);
    }
    // Submits n changes from another thread: true when every submit
    // returned 0 and none waited for the worker's thread.
    bool submit_quickly(uint32_t n) {
        auto more = std::async(std::launch::async, [this, n] {
            int result = 0;
            for (uint32_t i = 0; i < n; ++i)
                result |= submit(30, 1 + i % 4, 100 + i);
            return result;
        });
        const bool quick = more.wait_for(std::chrono::seconds(20)) ==
                           std::future_status::ready;
        if (!quick)
            daemon_->stop(), sleep_gate.open();
        return quick && more.get() == 0;
    }
    size_t taken() {
        size_t n = 0;
        for (ostrel_worker_completion_t c; ostrel_worker_next(w_.get(), &c);)
            ++n;
        return n;
    }
    ostrel_worker_stats_t stats() {
        ostrel_worker_stats_t s{};
        s.struct_size = sizeof s;
        EXPECT_EQ(ostrel_worker_stats(w_.get(), &s), 0);
        return s;
    }
    TestClock clock_;
    std::unique_ptr<tools_test::Daemon> daemon_;
    WorkerPtr w_;
};

TEST_F(WorkerSocketTest, ARefusingServiceHoldsOnlyTheWorkersThread) {
    connect({"--quiet", "--fail-sends", "1000000"});
    sleep_gate.close();
    ASSERT_EQ(submit(30, 1, 1), 0);
    sleep_gate.wait_until_held();
    ASSERT_TRUE(submit_quickly(200));
    EXPECT_EQ(taken(), 0u);
    sleep_gate.open();
    ASSERT_EQ(ostrel_worker_flush(w_.get(), -1), 0);
    EXPECT_EQ(taken(), 201u);
    EXPECT_EQ(stats().send_failures, 2u); // the first, then the others' call
}

TEST_F(WorkerSocketTest, AServiceThatNeverAnswersHoldsOnlyTheWorkersThread) {
    connect({"--quiet", "--drop-replies", "1000000"});
    ASSERT_EQ(submit(30, 1, 1), 0);
    receive_gate.wait_until_passed(1);
    ASSERT_TRUE(submit_quickly(200));
    EXPECT_EQ(taken(), 0u);
    EXPECT_EQ(daemon_->stop(), 0); // the receive fails at once
    ASSERT_EQ(ostrel_worker_flush(w_.get(), -1), 0);
    EXPECT_EQ(taken(), 201u);
    EXPECT_EQ(stats().drain_failures, 1u);
}

TEST_F(WorkerSocketTest, AServiceRestartedMidStreamGetsTheWholeTableBack) {
    connect({"--quiet", "--restart-after", "1"});
    std::vector<ostrel_api_acl_change_t> first;
    for (uint32_t vlan : {10, 11})
        for (uint32_t intf = 1; intf <= 4; ++intf)
            first.push_back(add(vlan, intf, intf));
    ASSERT_EQ(ostrel_worker_submit(w_.get(), first.data(), 8, 0), 0);
    ASSERT_EQ(ostrel_worker_flush(w_.get(), -1), 0); // then it restarts
    for (uint32_t tag = 1; tag <= 20; ++tag)
        ASSERT_EQ(submit(12, 1 + tag % 2, tag), 0);
    ASSERT_EQ(ostrel_worker_flush(w_.get(), -1), 0);
    EXPECT_EQ(stats().restarts_seen, 1u);
    const std::string converged = table();
    w_.reset();
    // A full resync made now changes nothing: the service was up to date.
    yarl_msg msg{};
    ASSERT_EQ(ostrel_api_resync(0, nullptr, &msg), 0u);
    ASSERT_EQ(brisel_api_yarl_gobble(0, &msg), 0u);
    EXPECT_EQ(table(), converged);
    EXPECT_NE(converged.find("vlan 10"), std::string::npos) << converged;
}

} // namespace
