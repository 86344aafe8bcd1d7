// How the transport tap's events read in aclctl's output: every message
// sent (decoded), its acceptance or refusal, every reply, the library's
// retry sleeps and the payload captures. In brief mode only failed
// receives and failed captures are written.
#pragma once

#include <cstdint>
#include <string>
#include <unistd.h>

#include "yarl.h"

namespace ostrel::aclctl::out {

void report_send(const yarl_addr *dst, uint32_t opcode, const void *payload,
                 uint32_t length);
void report_accepted(uint32_t token);
void report_refused(int err);
void report_receive_failed(uint32_t token, int err);
// payload: the reply's 4-byte status word, or null.
void report_reply(uint32_t token, const void *payload);
void report_retry(useconds_t us, bool skipped);
// err: the error number when the capture failed.
void report_captured(const std::string &path, bool ok, int err);

} // namespace ostrel::aclctl::out
