// Without the wraps the simulated platform still links and works; plain
// allocations then bypass the counters.
#include <gtest/gtest.h>

#include <cstdlib>

#include "sim_platform.h"
#include "yarl.h"

TEST(WithoutSeams, TransportWorksAndAllocationsAreNotCounted) {
    sim::reset();
    yarl_msg msg{};
    yarl_send_opts opts{{1}};
    EXPECT_EQ(yarl_send(1, nullptr, 1, nullptr, 0, &msg, 0, &opts), 0);
    EXPECT_EQ(yarl_drop(1, &msg), 0);
    void *volatile p = malloc(16);
    free(p);
    EXPECT_EQ(sim::allocations_made(), 0);
    EXPECT_EQ(sim::outstanding_records(), 0);
}
