/*
 * Simulated switch platform: an in-process stand-in for the message
 * transport, heartbeat, interface service and port-channel service
 * (libostrel_sim, pkg-config module ostrelapi-sim). It records every call
 * with its arguments (and a copy of every payload sent) and can be
 * scripted to fail. These are its test controls, for C and C++; the C++
 * view of the recording is in sim_platform.hpp.
 *
 * Test binaries may also link the seams (CMake target ostrel_sim_seams of
 * this source tree) with
 *   -Wl,--wrap=usleep,--wrap=perror,--wrap=malloc,--wrap=calloc,--wrap=free
 * so that retry sleeps are instant and recorded, perror output is recorded
 * instead of printed, and allocations are counted and can be made to fail.
 * Without the seams, sleeps and perror are not recorded and the allocation
 * counters stay 0.
 *
 * One simulated platform per process, unguarded: drive it from one thread.
 *
 * Valid C99 and C++.
 */
#ifndef OSTREL_PLATFORM_SIM_PLATFORM_H
#define OSTREL_PLATFORM_SIM_PLATFORM_H

#include <stddef.h>
#include <stdint.h>

#include "ifsvc.h" /* OSTREL_IF_TYPE_PORT_CHANNEL, OSTREL_PC_MAX_MEMBERS */
#include "ostrelapi.h"

#ifdef __cplusplus
extern "C" {
#endif

/** The platform calls the simulation records. */
typedef enum ostrel_sim_op {
    OSTREL_SIM_OP_SEND,         /* yarl_send */
    OSTREL_SIM_OP_ERRNO_GET,    /* yarl_errno_get */
    OSTREL_SIM_OP_RR_TOKEN_GET, /* yarl_rr_token_get */
    OSTREL_SIM_OP_DROP,         /* yarl_drop */
    OSTREL_SIM_OP_RECV,         /* yarl_recv */
    OSTREL_SIM_OP_PAYLOAD_GET,  /* yarl_payload_get */
    OSTREL_SIM_OP_HEARTBEAT,    /* heartbeat_update_and_send */
    OSTREL_SIM_OP_IF_TYPE_GET,  /* if_index_get_type */
    OSTREL_SIM_OP_PC_INFO_GET,  /* port_channel_info_get */
    OSTREL_SIM_OP_SLEEP,        /* usleep (seams only) */
    OSTREL_SIM_OP_PERROR        /* perror (seams only) */
} ostrel_sim_op;

/** Token of the first successful send after ostrel_sim_reset; each further
 *  send gets the next integer. */
#define OSTREL_SIM_FIRST_TOKEN 1001u
/** Error number of a receive that finds no reply for its token (ENOMSG on
 *  Linux). */
#define OSTREL_SIM_NO_REPLY_ERRNO 42

/** Forgets every recorded call and scripted behaviour; releases every
 *  message record and queued reply; clears the interface and port-channel
 *  tables and the allocation counters. Tokens start again at
 *  OSTREL_SIM_FIRST_TOKEN. */
void ostrel_sim_reset(void);

/* ---- the recording ---- */

/** One recorded call, as ostrel_sim_call_at reports it. */
typedef struct ostrel_sim_call {
    ostrel_sim_op op;
    uint32_t handle; /* transport calls */
    uint32_t opcode; /* send */
    uint32_t length; /* send: the length argument */
    uint32_t token;  /* send: token given; rr_token_get: result; recv: token
                        asked for; drop: token of the record released */
    uint32_t arg;    /* heartbeat argument, interface index, port-channel
                        index, sleep microseconds, perror: errno when it
                        was called */
    int result;      /* what the call returned */
    const uint8_t *payload; /* send: copy of the bytes sent, else null */
    size_t payload_size;
    const char *text; /* perror: its message, else "" */
} ostrel_sim_call_t;

/** Number of calls recorded since ostrel_sim_reset. */
size_t ostrel_sim_call_count(void);
/** Number of recorded calls of one operation. */
size_t ostrel_sim_count_of(ostrel_sim_op op);
/** Fills *call with recorded call number index (0: the first since
 *  reset) and returns 0; -1 when there is no such call or call is null.
 *  The pointers in *call stay valid until the next platform call or reset. */
int ostrel_sim_call_at(size_t index, ostrel_sim_call_t *call);
/** Short lower-case name of an operation: "send", "errno_get",
 *  "rr_token_get", "drop", "recv", "payload_get", "heartbeat",
 *  "if_type_get", "pc_info_get", "sleep", "perror"; "?" for other values. */
const char *ostrel_sim_op_name(ostrel_sim_op op);

/* ---- transport ---- */

/** The next n sends fail, each leaving errno_value as the handle's error
 *  number (yarl_errno_get) and in errno, as a failed system call would. */
void ostrel_sim_fail_next_sends(int n, int errno_value);
/** The next `succeed` sends go through, then n fail as above: a failure
 *  partway through an operation. */
void ostrel_sim_fail_sends_after(int succeed, int n, int errno_value);
/** The next receive returns -1 with errno_value as the error number (and
 *  in errno). */
void ostrel_sim_fail_next_recv(int errno_value);
/** The next reply delivered has no payload. */
void ostrel_sim_next_reply_without_payload(void);
/** First 32-bit word of the payload of replies (default 0). */
void ostrel_sim_set_reply_word(uint32_t word);
/** Message records held by the transport and not yet dropped (sends not
 *  dropped plus received replies not dropped): 0 when a caller released
 *  everything. */
size_t ostrel_sim_outstanding_records(void);
/** Replies queued by successful sends and not yet received. */
size_t ostrel_sim_pending_replies(void);
/** Whether sends keep a copy of their payload bytes (default nonzero;
 *  ostrel_sim_reset restores it). Off, only the length is recorded. */
void ostrel_sim_set_copy_payloads(int copy);
/** Makes *msg a message record as a received policy update message would
 *  be, with a copy of the size bytes at payload (size 0: no payload).
 *  Release it with yarl_drop. Returns 0, or -1 for a null msg or a null
 *  payload with a nonzero size. */
int ostrel_sim_make_received_message(const void *payload, size_t size,
                                     yarl_msg *msg);

/* ---- interface service ---- */

/** Type byte if_index_get_type reports for if_index (indexes never set:
 *  1); OSTREL_IF_TYPE_PORT_CHANNEL marks a port channel. */
void ostrel_sim_set_if_type(uint32_t if_index, uint8_t type);
/** The next n type queries return result and do not write the type. */
void ostrel_sim_fail_if_type_queries(int n, int result);

/* ---- port-channel service ---- */

/** Sets the member interfaces of port channel pc_if_index to the count
 *  indexes at members (count 0: no member). A query fills at most
 *  OSTREL_PC_MAX_MEMBERS of them. */
void ostrel_sim_set_pc_members(uint32_t pc_if_index, const uint32_t *members,
                               size_t count);
/** Reports count as the member count of pc_if_index whatever its members
 *  are (to test counts above OSTREL_PC_MAX_MEMBERS). */
void ostrel_sim_set_pc_reported_count(uint32_t pc_if_index, uint32_t count);
/** The next n queries return result (nonzero) and fill nothing. */
void ostrel_sim_fail_pc_queries(int n, int result);

/* ---- seams (effective in binaries linked with the wraps) ---- */

/** Allocation number nth from now (1: the next one) returns null; 0
 *  disables. Counts malloc and calloc made by code linked with the wraps. */
void ostrel_sim_fail_allocation(long nth);
/** Every allocation from number nth from now on fails (0 disables). */
void ostrel_sim_fail_allocations_from(long nth);
/** Calls of malloc and calloc since reset, failed ones included. */
long ostrel_sim_allocations_made(void);
/** Blocks from malloc and calloc not yet released with free. */
long ostrel_sim_live_allocations(void);

#ifdef __cplusplus
}
#endif

#endif /* OSTREL_PLATFORM_SIM_PLATFORM_H */
