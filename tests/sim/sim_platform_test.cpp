// The simulated platform's seams, which every leak and retry check relies
// on. (Its transport and services are exercised, call by call, by the
// builder and entry-point tests.)
#include <gtest/gtest.h>

#include <cstring>
#include <unistd.h>

#include "sim_platform.hpp"
#include "sim_state.h"

namespace {

struct Sim : ::testing::Test {
    void SetUp() override { ostrel::sim::reset(); }
};

TEST_F(Sim, SleepsAndPerrorAreRecordedAndAllocationsCountedAndFailed) {
    EXPECT_EQ(usleep(800000), 0);
    perror("text\n");
    EXPECT_EQ(ostrel::sim::sleeps(), std::vector<uint32_t>{800000});
    EXPECT_EQ(ostrel::sim::perrors(), std::vector<std::string>{"text\n"});
    void *a = malloc(4), *b = calloc(2, 8);
    ostrel::sim::fail_allocation(2); // the second from now on, once
    void *c = malloc(4);
    EXPECT_EQ(calloc(1, 4), nullptr);
    ostrel::sim::fail_allocations_from(2);
    void *d = malloc(4);
    EXPECT_EQ(malloc(4), nullptr);
    EXPECT_EQ(calloc(1, 1), nullptr);
    ostrel::sim::fail_allocations_from(0);
    void *e = malloc(4);
    EXPECT_TRUE(a && b && c && d && e);
    EXPECT_EQ(ostrel::sim::allocations_made(), 8);
    EXPECT_EQ(ostrel::sim::live_allocations(), 5);
    for (void *p : {a, b, c, d})
        free(p);
    ostrel::sim::reset(); // forgets the counters: e was allocated before
    free(e);
    EXPECT_EQ(ostrel::sim::live_allocations() + ostrel::sim::allocations_made(),
              0);
}

TEST_F(Sim, TheLiveSetFindsCollidingBlocksFreedInAnyOrder) {
    std::vector<uintptr_t> keys;
    for (uint64_t x = 88172645463325252ull; keys.size() < 49000;) {
        x ^= x << 13, x ^= x >> 7, x ^= x << 17;
        keys.push_back(static_cast<uintptr_t>(x | 1u) << 4);
    }
    for (uintptr_t k : keys)
        ostrel::sim::detail::track_block(reinterpret_cast<void *>(k));
    EXPECT_GT(ostrel::sim::live_allocations(), 48900); // a few keys may repeat
    for (size_t i = 0; i < keys.size(); ++i)
        std::swap(keys[i], keys[(i * 7919) % keys.size()]);
    for (uintptr_t k : keys)
        ostrel::sim::detail::untrack_block(reinterpret_cast<void *>(k));
    EXPECT_EQ(ostrel::sim::live_allocations(), 0);
}

} // namespace
