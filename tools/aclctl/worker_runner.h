// aclctl --worker: a scenario's changes through libostrelapi-worker.
#pragma once

#include <vector>

#include "scenario.h"

namespace ostrel::aclctl {

// Submits every change outside a block, and every begin ... commit block,
// as one submission to a worker, and prints the completions (after the
// messages the worker's thread sent) at each `show`, platform setting and
// the end, then the worker's counts: how many bulk calls carried the
// submissions, how many shared a call, and how many were applied again on
// their own. `drain` does nothing (the worker drains every reply); resync,
// pc-update and plcy-update lines are skipped with a warning. Returns 0
// when every submission completed with status 0, 1 otherwise, 2 when the
// worker does not start.
int run_through_worker(const std::vector<Command> &commands);

} // namespace ostrel::aclctl
