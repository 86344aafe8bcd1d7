// The seams: instant recorded sleeps, captured perror, counted and
// failable allocations.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#include "sim_platform.h"
#include "sim_state.h"

namespace {

struct Seams : ::testing::Test {
    void SetUp() override { sim::reset(); }
};

TEST_F(Seams, SleepsReturnAtOnceAndPerrorIsCaptured) {
    EXPECT_EQ(usleep(800000), 0);
    perror("Unable to send YARL message\n");
    EXPECT_EQ(sim::sleeps(), std::vector<uint32_t>{800000});
    EXPECT_EQ(sim::perrors(),
              std::vector<std::string>{"Unable to send YARL message\n"});
    EXPECT_EQ(sim::trace(), "sleep perror");
}

TEST_F(Seams, MallocAndCallocBlocksAreLiveUntilFreed) {
    std::vector<void *> blocks;
    for (int i = 0; i < 50; ++i)
        blocks.push_back(i % 2 ? malloc(static_cast<size_t>(i % 97))
                               : calloc(2, 8));
    EXPECT_EQ(sim::allocations_made(), 50);
    EXPECT_EQ(sim::live_allocations(), 50);
    for (size_t i = 0; i < blocks.size(); i += 2)
        free(blocks[i]);
    EXPECT_EQ(sim::live_allocations(), 25);
    for (size_t i = 1; i < blocks.size(); i += 2)
        free(blocks[i]);
    free(nullptr);
    EXPECT_EQ(sim::live_allocations(), 0);
}

TEST_F(Seams, TheLiveSetSurvivesCollidingKeysFreedInAnyOrder) {
    // Scattered fake addresses at 75% load collide often; freeing them in
    // a shuffled order must find every one.
    std::vector<uintptr_t> keys;
    uint64_t x = 88172645463325252ull;
    for (int i = 0; i < 49000; ++i) {
        x ^= x << 13, x ^= x >> 7, x ^= x << 17;
        keys.push_back(static_cast<uintptr_t>(x | 1u) << 4);
    }
    for (uintptr_t k : keys)
        sim::detail::track_block(reinterpret_cast<void *>(k));
    long live = sim::live_allocations();
    EXPECT_GT(live, 48900); // a few keys may repeat
    for (size_t i = 0; i < keys.size(); ++i)
        std::swap(keys[i], keys[(i * 7919) % keys.size()]);
    for (uintptr_t k : keys)
        sim::detail::untrack_block(reinterpret_cast<void *>(k));
    EXPECT_EQ(sim::live_allocations(), 0);
}

TEST_F(Seams, TheNthAllocationFromNowFailsOnce) {
    void *first = malloc(4);
    sim::fail_allocation(2);
    void *second = malloc(4);
    EXPECT_EQ(calloc(1, 4), nullptr);
    void *fourth = malloc(4);
    EXPECT_NE(fourth, nullptr);
    EXPECT_EQ(sim::allocations_made(), 4);
    EXPECT_EQ(sim::live_allocations(), 3);
    free(first);
    free(second);
    free(fourth);
}

TEST_F(Seams, EveryAllocationFromTheNthOnFailsUntilDisabled) {
    sim::fail_allocations_from(2);
    void *first = malloc(4);
    EXPECT_NE(first, nullptr);
    EXPECT_EQ(malloc(4), nullptr);
    EXPECT_EQ(calloc(2, 2), nullptr);
    sim::fail_allocations_from(0);
    void *again = malloc(4);
    EXPECT_NE(again, nullptr);
    free(first);
    free(again);
    EXPECT_EQ(sim::live_allocations(), 0);
}

TEST_F(Seams, ResetClearsCountersAndScriptsButNotTheSimsOwnMemory) {
    void *kept = malloc(4);
    sim::fail_allocations_from(1);
    sim::reset();
    std::vector<int> containers_are_not_counted(1000, 1);
    EXPECT_EQ(sim::allocations_made(), 0);
    EXPECT_EQ(sim::live_allocations(), 0);
    void *p = malloc(4);
    EXPECT_NE(p, nullptr);
    free(kept); // allocated before the reset: not counted either way
    EXPECT_EQ(sim::live_allocations(), 1);
    free(p);
}

} // namespace
