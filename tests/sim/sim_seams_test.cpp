// The seams: instant recorded sleeps, captured perror, counted and
// failable allocations.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#include "sim_platform.h"

namespace {

struct Seams : ::testing::Test {
    void SetUp() override { sim::reset(); }
    void TearDown() override { sim::reset(); }
};

TEST_F(Seams, SleepsReturnAtOnceAndAreRecorded) {
    EXPECT_EQ(usleep(800000), 0);
    EXPECT_EQ(usleep(5), 0);
    EXPECT_EQ(sim::sleeps(), (std::vector<uint32_t>{800000, 5}));
    EXPECT_EQ(sim::trace(), "sleep sleep");
}

TEST_F(Seams, PerrorTextIsCaptured) {
    perror("Unable to send YARL message\n");
    EXPECT_EQ(sim::perrors(),
              std::vector<std::string>{"Unable to send YARL message\n"});
}

TEST_F(Seams, AllocationsAreCountedAndLiveBlocksTracked) {
    void *a = malloc(10);
    void *b = calloc(3, 8);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(sim::allocations_made(), 2);
    EXPECT_EQ(sim::live_allocations(), 2);
    free(a);
    EXPECT_EQ(sim::live_allocations(), 1);
    free(b);
    free(nullptr);
    EXPECT_EQ(sim::live_allocations(), 0);
}

TEST_F(Seams, ManyLiveBlocksAreTrackedThroughInterleavedFrees) {
    std::vector<void *> blocks;
    for (int i = 0; i < 5000; ++i)
        blocks.push_back(malloc(static_cast<size_t>(i % 97) + 1));
    EXPECT_EQ(sim::live_allocations(), 5000);
    for (size_t i = 0; i < blocks.size(); i += 2)
        free(blocks[i]);
    EXPECT_EQ(sim::live_allocations(), 2500);
    for (size_t i = 1; i < blocks.size(); i += 2)
        free(blocks[i]);
    EXPECT_EQ(sim::live_allocations(), 0);
}

TEST_F(Seams, TheNthAllocationFailsOnce) {
    void *first = malloc(4);
    sim::fail_allocation(2); // counted from now
    void *second = malloc(4);
    void *third = calloc(1, 4);
    void *fourth = malloc(4);
    EXPECT_NE(second, nullptr);
    EXPECT_EQ(third, nullptr);
    EXPECT_NE(fourth, nullptr);
    EXPECT_EQ(sim::allocations_made(), 4);
    EXPECT_EQ(sim::live_allocations(), 3);
    free(first);
    free(second);
    free(fourth);
    EXPECT_EQ(sim::live_allocations(), 0);
}

TEST_F(Seams, EveryAllocationFromTheNthOnFails) {
    sim::fail_allocations_from(2);
    void *first = malloc(4);
    EXPECT_NE(first, nullptr);
    EXPECT_EQ(malloc(4), nullptr);
    EXPECT_EQ(calloc(2, 2), nullptr);
    EXPECT_EQ(malloc(4), nullptr);
    sim::fail_allocations_from(0);
    void *again = malloc(4);
    EXPECT_NE(again, nullptr);
    free(first);
    free(again);
    EXPECT_EQ(sim::live_allocations(), 0);
}

TEST_F(Seams, ResetClearsCountersAndScripts) {
    void *kept = malloc(4);
    sim::fail_allocations_from(1);
    sim::reset();
    EXPECT_EQ(sim::allocations_made(), 0);
    EXPECT_EQ(sim::live_allocations(), 0);
    void *p = malloc(4);
    EXPECT_NE(p, nullptr);
    free(kept); // allocated before the reset: not counted either way
    EXPECT_EQ(sim::live_allocations(), 1);
    free(p);
    EXPECT_EQ(sim::live_allocations(), 0);
}

TEST_F(Seams, ContainersOfTheSimAreNotCounted) {
    std::vector<int> v(1000, 1);
    EXPECT_EQ(sim::allocations_made(), 0);
}

} // namespace
