// A test that starts on a fresh simulated platform and must end with every
// heap block it allocated freed.
#pragma once

#include <gtest/gtest.h>

#include "sim_platform.hpp"
#include "yarl.h"

namespace ostrel_test {

class HeapChecked : public ::testing::Test {
  protected:
    void SetUp() override { ostrel::sim::reset(); }
    void TearDown() override { EXPECT_EQ(ostrel::sim::live_allocations(), 0); }
    yarl_msg msg{};
};

} // namespace ostrel_test
