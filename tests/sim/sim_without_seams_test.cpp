// Linked without the wraps, the simulated platform still links and plain
// allocations bypass its counters.
#include <gtest/gtest.h>

#include "sim_platform.hpp"

TEST(WithoutSeams, AllocationsAreNotCounted) {
    ostrel::sim::reset();
    void *volatile p = malloc(16);
    free(p);
    EXPECT_EQ(ostrel::sim::allocations_made(), 0);
}
