// A scenario command as the JSON event that opens its output: the library
// call it makes and the arguments it passes.
#pragma once

#include <string>

#include "scenario.h"

namespace ostrel::aclctl {

// The library (or simulated platform) call a command makes.
const char *call_name(Verb verb);
// {"event":"command","line":N,"text":"...","call":"...","args":{...}}
std::string command_json(const Command &command);

} // namespace ostrel::aclctl
