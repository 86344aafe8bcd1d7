// Names of the status words the tools print: the library's own, our TLV
// library's, and the simulated service's reply statuses.
#pragma once

#include <cstdint>
#include <string>

namespace ostrel::tools {

// "ok", "no entry", "TLV malformed", "malformed message", ..., or
// "unknown"; a failed send with its error number and the system's text:
// "send failed: errno 11 (Resource temporarily unavailable)".
std::string status_name(uint32_t status);
// The word in hex with its name: "0x41040002 (no entry)".
std::string status_text(uint32_t status);
// A 32-bit word as the tools print it: "0x" and eight hex digits.
std::string hex_word(uint32_t word);

} // namespace ostrel::tools
