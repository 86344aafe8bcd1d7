// The transport under aclctl. The library's transport calls are routed
// (link-time --wrap) through this tap, which reports every message sent
// and every reply (transport_report.h), captures and counts them, and
// hands the call to the chosen backend:
//  - embedded: the in-process simulated platform, with a service model
//    applying each message and choosing its reply status;
//  - socket: the socket transport to an aclsvc-sim daemon.
// The library's retry sleeps come here too: reported, and skipped when
// fast retries are asked for.
#pragma once

#include <string>

#include "service_model.h"

namespace ostrel::aclctl::tap {

// Selects the socket backend (default: embedded).
void use_socket_backend(bool on);
bool socket_backend();
void set_fast_retry(bool on);
// Writes the payload of every send to DIR/send-NNN.bin (NNN counts sends
// from 001); empty: no capture.
void set_capture_dir(const std::string &dir);
// Keep running the scenario when the service is gone (default: stop).
void set_keep_going(bool on);
// The error number (ECONNRESET, ENOTCONN, EPIPE, or ECONNREFUSED or ENOENT
// from connecting again) with which the socket transport reported the
// service gone, or 0. Once it is set, and unless keep-going was asked for,
// the library's retry sleeps are skipped: the scenario stops after the
// current command, unless a retry's send reached a service again (the
// transport reconnected after a restart), which clears it.
int service_gone();
void note_transport_error(int err);
// Connects the socket transport again at once when the service is gone;
// true (and the service no longer gone) when a connection is open.
bool reconnect();
// The socket transport's connection generation (0 for the embedded
// service): it goes up when the transport connected again.
uint32_t connection_generation();
// Counts the sends of one scenario command from here on.
void begin_command();
// Whether the command made sends and every one of them timed out: a
// service that accepts connections but never answers.
bool command_unanswered();
// Writes every frame, both directions, to a pcapng file (pcapng.h);
// false with *err set when the file cannot be created.
bool set_pcap_file(const std::string &path, std::string *err);
// The embedded service's programmed table.
const tools::ServiceModel &embedded_service();

// Messages sent so far (every try of every send) and their bytes.
unsigned long long messages_sent();
unsigned long long bytes_sent();

} // namespace ostrel::aclctl::tap
