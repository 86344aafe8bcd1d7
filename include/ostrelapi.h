/*
 * ostrelapi.h - client interface to the switch's ACL service.
 *
 * Two jobs live behind this header:
 *  - ACL programming: add or delete access-control entries (ACEs) on an
 *    interface or port channel of a VLAN. The library keeps a registry of what
 *    it programmed, rebuilds the full request of every affected interface and
 *    sends them to the ACL service in one batch message.
 *  - Policy message codecs: five record types convert between memory and a
 *    TLV encoding through constant table descriptors.
 *
 * Every call runs on the caller's thread and works on unguarded process-wide
 * state: a process makes one programming call at a time.
 *
 * Blocking: a programming call blocks in the transport. Each message it
 * sends may take up to four sends with three sleeps of 800 ms between them,
 * so 2.4 s plus four times the transport's own send time when the service
 * does not take it; a call that fills more than one batch sends each full
 * batch that way and also waits in the receive for the service's reply to
 * it, as a port-channel call does for each member's reply but the last. A
 * drain (brisel_api_yarl_gobble) waits in the receive until the
 * reply arrives, or as long as the transport lets a receive wait. The
 * codecs never block.
 *
 * Replies: a call that returns 0 with did_yarl_send at 1 leaves the ACL
 * service's reply waiting. Drain it with brisel_api_yarl_gobble (same
 * handle and msg) before the next programming call: the next send reuses
 * msg, and a reply not drained before then is never collected, so it stays
 * outstanding in the transport for good.
 *
 * Output: the library keeps no log. A send given up after its retries
 * prints one line through perror(3) on stderr, "Unable to send YARL
 * message" followed by errno's text; a failing codec conversion prints
 * through the TLV library's error print (tlv_error_print_switch.h). For
 * anything more, read the counters or set an event hook (below).
 *
 * Valid C99 and C++.
 */
#ifndef OSTRELAPI_H
#define OSTRELAPI_H

#include <stddef.h>
#include <stdint.h>

#if defined(OSTREL_STATIC_DEFINE)
#define OSTREL_API
#elif defined(OSTREL_BUILDING_LIBRARY)
#define OSTREL_API __attribute__((visibility("default")))
#else
#define OSTREL_API
#endif

#if defined(__GNUC__) || defined(__clang__)
#define OSTREL_NODISCARD __attribute__((warn_unused_result))
#else
#define OSTREL_NODISCARD
#endif

/* Version: OSTREL_VERSION_MAJOR, _MINOR, _PATCH and OSTREL_VERSION_STRING
 * of these headers; ostrel_version() gives the library's at run time. */
#include "ostrelapi_version.h"
#ifdef __cplusplus
extern "C"
#endif
OSTREL_API const char *ostrel_version(void);

#ifdef __cplusplus
extern "C" {
#endif

/* ------------------------------------------------------------------ */
/* Status words                                                        */
/* ------------------------------------------------------------------ */

/** Success. */
#define OSTREL_STATUS_OK 0x00000000u
/** A registry entry is missing or cannot be created; an ACE encoder could
 *  not allocate; a drained reply carried no payload. */
#define OSTREL_STATUS_NO_ENTRY 0x41040002u
/** A required pointer is null; in the request builder, any failure other
 *  than a send (allocation, null message record, port-channel query). */
#define OSTREL_STATUS_INVALID 0x41040003u
/** A send failed; the low 12 bits carry the transport's error number. */
#define OSTREL_STATUS_SEND_FAILED 0x81040000u
/** Builds the status of a failed send from the transport's error number. */
#define OSTREL_STATUS_SEND_ERROR(err) \
    (OSTREL_STATUS_SEND_FAILED | ((uint32_t)(err)&0xfffu))
/** A change of a failed bulk call that was not kept: taken back or never
 *  applied (ostrel_api_program_acl_bulk). */
#define OSTREL_STATUS_NOT_EXECUTED 0x41040004u

/* Status names: for logs and messages, never for decisions (compare the
 * words themselves). */

/** Static name of a status word of this library or of the TLV library
 *  (TLVU_STATUS_* of ostrelapi/platform/tlvu.h): "ok", "no entry",
 *  "invalid argument", "not executed", "send failed" (whatever error
 *  number it carries), "TLV bad argument", "TLV malformed", "TLV output
 *  too small", "TLV out of memory", "TLV not found", "TLV bad table", "TLV
 *  value too large"; for the error number a failed drain returns as it is
 *  (a word from 1 to 0xfff), the error's symbolic name, "ECONNRESET" for
 *  0x68; or "unknown". Never null; the string is static and never
 *  changes. Thread-safe: it reads nothing that a call changes. */
OSTREL_API const char *ostrel_api_status_name(uint32_t status);
/** Writes the description of a status word to buf as snprintf does (at
 *  most size - 1 characters and a terminating NUL; nothing when size is 0,
 *  and buf may then be null) and returns the length of the whole
 *  description, so a result >= size means it was cut short. The
 *  description is the name, and for a failed send also its error number
 *  and the system's text for it: "send failed: errno 111 (Connection
 *  refused)", and for a drain's error number "receive failed: errno 104
 *  ECONNRESET (Connection reset by peer)". Thread-safe. */
OSTREL_API size_t ostrel_api_status_text(uint32_t status, char *buf,
                                         size_t size);

/* ------------------------------------------------------------------ */
/* Message transport records (owned by the caller)                     */
/* ------------------------------------------------------------------ */

/** Transport handle: passed to the transport unchanged, never read by this
 *  library. Its meaning is the transport's: with the switch's message
 *  transport, the handle the process was given when it opened it. The
 *  shipped stand-ins keep one connection per process and use the handle
 *  only as the key of the error number yarl_errno_get reports, so any
 *  value does: the simulated platform (libostrel_sim) needs nothing set
 *  up; the socket transport (libostrel_socket) needs
 *  ostrel_socket_transport_connect first. Pass the same handle to a call
 *  and to the drain of its reply. */
typedef uint32_t yarl_handle_t;

/** A message record whose storage the caller provides and owns; opaque
 *  here. Zero it before its first use (`yarl_msg msg = {0};`, or
 *  `yarl_msg msg{};` in C++): a transport tells the records it holds by
 *  what it wrote into them, and stack garbage could pass for one. A send
 *  fills it and the drain (brisel_api_yarl_gobble) releases it; it can
 *  then be used again as it is. */
typedef struct yarl_msg {
    uint64_t opaque[8];
} yarl_msg;

/** Destination of a message: node and service words. */
typedef struct yarl_addr {
    uint32_t node;
    uint32_t service;
} yarl_addr;

/** Send options, 56 bytes: word 0 is 1, the rest zero. */
typedef struct yarl_send_opts {
    uint32_t word[14];
} yarl_send_opts;

/** Receive options, 36 bytes: words 1, 0, 20, reply token, then zeros. */
typedef struct yarl_recv_opts {
    uint32_t word[9];
} yarl_recv_opts;

/* ------------------------------------------------------------------ */
/* Programming registry                                                */
/* ------------------------------------------------------------------ */

/** Identity of an ACE: two 6-byte addresses and a 16-bit qualifier. */
typedef struct AceKey {
    uint8_t addr1[6];
    uint8_t addr2[6];
    uint16_t qualifier;
} AceKey;

/** One programmed ACE; a pointer to it is also a pointer to its key. */
typedef struct AceNode {
    AceKey key;
    struct AceNode *next;
} AceNode;

/* Every list node above the ACEs has one layout: key, count of children,
 * first child, next sibling. */
#define OSTREL_REGISTRY_NODE(Name, key_field, Child) \
    typedef struct Name {                            \
        uint32_t key_field;                          \
        uint32_t count;                              \
        Child *first;                                \
        struct Name *next;                           \
    } Name

OSTREL_REGISTRY_NODE(IntfNode, if_index, AceNode);
OSTREL_REGISTRY_NODE(VlanNode, vlan_id, IntfNode);
OSTREL_REGISTRY_NODE(PoVlanNode, vlan_id, AceNode);
OSTREL_REGISTRY_NODE(PcNode, if_index, PoVlanNode);

/* Registry nodes are zeroed blocks from calloc, owned by the registry once
 * linked and released with free by the deletes. Lists run newest first;
 * a parent's `count` is the length of its list. Node arguments must be
 * valid, non-null nodes. None of these calls sends anything. */

/** Head of the VLAN registry: `count` VLANs, the first one in `next` (the
 *  key and `first` stay zero). Owned by the library. */
OSTREL_API extern VlanNode brisel_handle;
/** Head of the port-channel registry: `count` port channels, the first one
 *  in `next`. Owned by the library; brisel_start does not reset it. */
OSTREL_API extern PcNode brisel_pchandle;

/** Forgets every VLAN by zeroing brisel_handle, without freeing anything:
 *  call it once at start-up, before the first programming call. */
OSTREL_API void brisel_start(void);
/** A new zeroed VlanNode from calloc (the caller owns it until it is
 *  linked), or null when the allocation fails. */
OSTREL_API VlanNode *brisel_vlan_malloc(void);
/** A new zeroed IntfNode from calloc, or null; as brisel_vlan_malloc. */
OSTREL_API IntfNode *brisel_intf_malloc(void);
/** A new zeroed AceNode from calloc, or null; as brisel_vlan_malloc. */
OSTREL_API AceNode *brisel_ace_malloc(void);
/** A new unlinked AceNode holding copies of the six bytes at addr1 and at
 *  addr2 and the low 16 bits of qualifier, or null when the allocation
 *  fails. Both addresses must point to six readable bytes. The caller owns
 *  the node until it links it with brisel_ace_add or brisel_poace_add. */
OSTREL_API AceNode *brisel_ace_alloc(const uint8_t *addr1,
                                     const uint8_t *addr2, uint32_t qualifier);
/** 0 when the ACE identity at ace (an AceNode or a bare AceKey) equals
 *  key in both addresses and the qualifier, else -1 (never positive: ACEs
 *  have no order). */
OSTREL_API int32_t brisel_ace_cmp(const void *ace, const AceKey *key);
/** The registered VlanNode of vlan_id, or null. */
OSTREL_API VlanNode *brisel_vlan_lookup(uint32_t vlan_id);
/** The IntfNode of if_index in vlan, or null. */
OSTREL_API IntfNode *brisel_intf_lookup(VlanNode *vlan, uint32_t if_index);
/** The newest ACE of intf equal to key (brisel_ace_cmp), or null. */
OSTREL_API AceNode *brisel_ace_lookup(IntfNode *intf, const AceKey *key);
/** Links a new VlanNode for vlan_id at the head of the registry and
 *  returns it; null, with nothing changed, when the allocation fails. Does
 *  not look for an existing entry of vlan_id. */
OSTREL_API VlanNode *brisel_vlan_add(uint32_t vlan_id);
/** Links a new IntfNode for if_index at the head of vlan's list and returns
 *  it; null, with nothing changed, when the allocation fails. Does not look
 *  for an existing entry of if_index. */
OSTREL_API IntfNode *brisel_intf_add(VlanNode *vlan, uint32_t if_index);
/** Links the non-null ace at the head of intf's list, handing it to the
 *  registry; returns ace. */
OSTREL_API AceNode *brisel_ace_add(IntfNode *intf, AceNode *ace);
/** Unlinks and frees the registry's VlanNode with vlan's key unless vlan
 *  still has interfaces. Returns 0 either way. */
OSTREL_API uint32_t brisel_vlan_del(VlanNode *vlan);
/** Unlinks and frees vlan's IntfNode with intf's key unless intf still has
 *  ACEs. Returns 0 either way. */
OSTREL_API uint32_t brisel_intf_del(VlanNode *vlan, IntfNode *intf);
/** Unlinks and frees the newest ACE of intf equal to key, if any. Returns
 *  0 either way. */
OSTREL_API uint32_t brisel_ace_del(IntfNode *intf, const AceKey *key);
/** vlan's newest interface, or null when it has none. */
OSTREL_API IntfNode *brisel_intf_get_first(VlanNode *vlan);
/** The interface after intf in its VLAN's list, or null; vlan is not read. */
OSTREL_API IntfNode *brisel_intf_get_next(VlanNode *vlan, IntfNode *intf);

/** A new zeroed PcNode from calloc, or null; as brisel_vlan_malloc. */
OSTREL_API PcNode *brisel_pc_malloc(void);
/** The registered PcNode of port channel pc_if_index, or null. */
OSTREL_API PcNode *brisel_pc_lookup(uint32_t pc_if_index);
/** Links a new PcNode at the head of the port-channel registry and returns
 *  it; null, with nothing changed, when the allocation fails. */
OSTREL_API PcNode *brisel_pc_add(uint32_t pc_if_index);
/** Unlinks and frees the PcNode with pc's key unless pc still has VLAN
 *  entries; removing the last port channel also clears the head's `next`.
 *  Returns 0 either way. */
OSTREL_API uint32_t brisel_pc_del(PcNode *pc);
/** A new zeroed PoVlanNode from calloc, or null; as brisel_vlan_malloc. */
OSTREL_API PoVlanNode *brisel_povlan_malloc(void);
/** pc's PoVlanNode of vlan_id, or null. */
OSTREL_API PoVlanNode *brisel_povlan_lookup(PcNode *pc, uint32_t vlan_id);
/** Links a new PoVlanNode for vlan_id at the head of pc's list and returns
 *  it; null, with nothing changed, when the allocation fails. */
OSTREL_API PoVlanNode *brisel_povlan_add(PcNode *pc, uint32_t vlan_id);
/** Unlinks and frees pc's PoVlanNode with povlan's key unless povlan still
 *  has ACEs. Returns 0 either way. */
OSTREL_API uint32_t brisel_povlan_del(PcNode *pc, PoVlanNode *povlan);
/** The newest ACE of povlan equal to key, or null. */
OSTREL_API AceNode *brisel_poace_lookup(PoVlanNode *povlan, const AceKey *key);
/** Links the non-null ace at the head of povlan's list, handing it to the
 *  registry; returns ace. */
OSTREL_API AceNode *brisel_poace_add(PoVlanNode *povlan, AceNode *ace);
/** Unlinks and frees the newest ACE of povlan equal to key, if any.
 *  Returns 0 either way. */
OSTREL_API uint32_t brisel_poace_del(PoVlanNode *povlan, const AceKey *key);

/* ------------------------------------------------------------------ */
/* ACL programming entry points                                        */
/* ------------------------------------------------------------------ */

/** Size in bytes of the batch message that carries programming requests
 *  to the ACL service: an 8-byte head, then the requests back to back. */
#define OSTREL_BATCH_SIZE 130056u

/* The entry points below take the caller's transport handle and message
 * record (msg) and hand both to the transport unchanged; addr1 and addr2
 * point to six readable bytes each, and only the low 16 bits of qualifier
 * are part of an ACE's identity. A nonzero status of the request builder
 * or of the send is returned as it is. */

/** Adds (add != 0) or deletes an ACE on interface if_index of vlan_id:
 *  exactly ostrel_api_del_acl when deleting. Adding records the ACE
 *  (creating the VLAN and interface entries as needed) and rebuilds the
 *  complete request of every affected interface into one batch: the other
 *  interfaces of the VLAN first, then if_index, whose call sends the batch
 *  (an ACE whose addr1 is all zero is never sent, so then only if_index is
 *  rebuilt). Returns 0, OSTREL_STATUS_NO_ENTRY when an entry cannot be
 *  created (nothing sent), OSTREL_STATUS_INVALID for a null address
 *  (nothing changed), or the first failing rebuild's or send's status. On
 *  success the ACL service's reply is left for the caller to drain
 *  (did_yarl_send is 1). Registry changes are not rolled back. */
OSTREL_API OSTREL_NODISCARD uint32_t ostrel_api_program_acl(
    yarl_handle_t handle, const uint8_t *addr1, const uint8_t *addr2,
    uint32_t vlan_id, uint32_t if_index, uint32_t qualifier, yarl_msg *msg,
    uint32_t add);
/** Removes the newest equal ACE from if_index of vlan_id and reprograms
 *  the affected interfaces as ostrel_api_program_acl does; the last request
 *  installs when if_index still holds ACEs and removes when it holds none.
 *  Afterwards, whatever that last send returned, an emptied interface entry
 *  and then an emptied VLAN entry are freed. Returns 0,
 *  OSTREL_STATUS_NO_ENTRY when the VLAN, interface or ACE is not registered
 *  (nothing changed or sent), OSTREL_STATUS_INVALID for a null address, or
 *  the first failing rebuild's or send's status. */
OSTREL_API OSTREL_NODISCARD uint32_t ostrel_api_del_acl(
    yarl_handle_t handle, const uint8_t *addr1, const uint8_t *addr2,
    uint32_t vlan_id, uint32_t if_index, uint32_t qualifier, yarl_msg *msg);
/** Kept for compatibility: no effect, returns 0. */
OSTREL_API uint32_t ostrel_api_dump_memory(uint32_t arg1, uint32_t arg2);

/** Drains the ACL service's reply: releases msg, then waits for the reply
 *  to the send made with it and releases that too, and clears
 *  did_yarl_send. Returns 0, OSTREL_STATUS_NO_ENTRY for a reply without
 *  payload, or the transport's error number itself when the receive fails
 *  (nothing further is released then). */
OSTREL_API uint32_t brisel_api_yarl_gobble(yarl_handle_t handle,
                                           yarl_msg *msg);
/** 1 after a successful batch send, until the next drain or deferred
 *  request build; tells the caller that a reply waits to be drained.
 *  Owned by the library; read it, do not write it. */
OSTREL_API extern uint32_t did_yarl_send;

/** Adds (add != 0) or deletes an ACE on port channel pc_if_index of
 *  vlan_id: the ACE is recorded once in the port-channel registry and
 *  programmed on every member interface (at most six) through the
 *  interface entry points, draining the reply to one member before
 *  programming the next. A delete changes the port-channel registry only
 *  when every member succeeded. Returns 0, OSTREL_STATUS_NO_ENTRY when an
 *  entry cannot be created or is not recorded (nothing sent),
 *  OSTREL_STATUS_INVALID for a null address, the member query's result
 *  when the port channel has no member, or the first failing member's
 *  status (later members are not programmed). The last member's reply is
 *  left for the caller to drain. */
OSTREL_API OSTREL_NODISCARD uint32_t ostrel_api_pc_program_acl(
    yarl_handle_t handle, const uint8_t *addr1, const uint8_t *addr2,
    uint32_t vlan_id, uint32_t pc_if_index, uint32_t qualifier,
    yarl_msg *msg, uint32_t add);
/** For every VLAN, in registry order, that holds interface if_index:
 *  rebuilds and sends that interface's request (installing when install
 *  != 0) addressed to the single interface `override` instead of a port
 *  channel's members, then drains the reply. Returns 0, or the first
 *  failing re-send's status at once (not drained, later VLANs not sent). */
OSTREL_API OSTREL_NODISCARD uint32_t ostrel_api_pc_program_acl_update(
    yarl_handle_t handle, uint32_t if_index, uint32_t override,
    yarl_msg *msg, uint32_t install);

/* ------------------------------------------------------------------ */
/* Bulk changes and resync                                             */
/* ------------------------------------------------------------------ */

/** One change of a bulk call: the arguments of one single add or delete. */
typedef struct ostrel_api_acl_change_t {
    uint8_t addr1[6];         /* first address */
    uint8_t addr2[6];         /* second address */
    uint32_t vlan_id;         /* VLAN id */
    uint32_t if_index;        /* interface, or port channel (below) */
    uint32_t qualifier;       /* only the low 16 bits are used */
    uint32_t add;             /* nonzero: add; zero: delete */
    uint32_t on_port_channel; /* nonzero: if_index is a port channel, as
                                 ostrel_api_pc_program_acl; zero: an
                                 interface, as ostrel_api_program_acl */
} ostrel_api_acl_change_t;

/** Applies `count` changes as one call: what loading a table one
 *  ostrel_api_program_acl or ostrel_api_pc_program_acl call at a time
 *  does, at the cost of one request per affected interface instead of one
 *  per interface and change.
 *
 *  Registry: the changes are applied in array order with exactly the
 *  registry effects of the single calls (nodes created, linked and freed
 *  in the same order, equal ACEs kept twice, port-channel entries and the
 *  fan-out to the members the port-channel service reports).
 *
 *  All or none: when a change fails (a delete of an ACE that is not
 *  registered, a failed allocation, a port-channel member query that
 *  returns nonzero), every earlier change of the call is taken back, the
 *  registries are exactly as before the call (the same nodes), nothing is
 *  sent, and that change's status is returned: OSTREL_STATUS_NO_ENTRY, or
 *  the query's own result. OSTREL_STATUS_INVALID, with nothing changed,
 *  when changes is null with a nonzero count, msg is null, or the call's
 *  own bookkeeping cannot be allocated.
 *
 *  statuses, when not null, has room for count words and receives each
 *  change's status: all 0 once the changes are applied; after a failure,
 *  the failing change's status and OSTREL_STATUS_NOT_EXECUTED for every
 *  other change.
 *
 *  Sending: after the registry is updated, every interface that the
 *  single calls would have reprogrammed gets one request, built from the
 *  final registry: every interface of the VLAN for a change whose addr1 is
 *  not all zero, else the named interface (each member for a port
 *  channel). An interface that the changes left without ACEs, whose entry
 *  is gone, gets the remove request a delete sends (operation 2, no ACE
 *  records). Requests are batched as by the single calls (a full batch is
 *  sent and its reply drained; a port-channel interface's request goes to
 *  each member), VLAN by VLAN in the order the changes first name them.
 *  No more bytes are sent than one request per affected interface and the
 *  batch heads. Returns 0 with the last reply left for the caller to drain
 *  (did_yarl_send is 1), or the first failing build's or send's status:
 *  the registry then keeps the changes, as the intended state, and
 *  ostrel_api_resync brings the service to it later. A count of 0 sends
 *  nothing and returns 0.
 *
 *  Guarantee: when every change's addr1 is nonzero, the ACL service holds
 *  afterwards exactly what it would hold after the same changes made one
 *  call at a time. Changes whose addr1 is all zero reprogram only the
 *  named interface when made one at a time, so the other interfaces keep
 *  requests built before the change; a bulk call that also holds a change
 *  with a nonzero addr1 in the same VLAN refreshes them from the final
 *  registry, so it can send more up-to-date requests than the single calls
 *  would. In every case each affected interface ends up holding exactly
 *  the request that the final registry builds for it.
 *
 *  The call keeps nothing of changes or statuses: both may be freed or
 *  reused as soon as it returns. */
OSTREL_API OSTREL_NODISCARD uint32_t ostrel_api_program_acl_bulk(
    yarl_handle_t handle, const ostrel_api_acl_change_t *changes,
    uint32_t count, uint32_t *statuses, yarl_msg *msg);

/** Sends again the request of every interface of the VLAN registry, in
 *  registry order, or of VLAN *vlan_id only when vlan_id is not null: what
 *  a client calls after the ACL service restarted or a send failed. The
 *  requests are batched as by the single calls (full batches sent and
 *  drained, port-channel interfaces fanned out to their members); an
 *  interface entry without ACEs gets the remove request. The registry is
 *  not changed. Returns 0 with the last reply left for the caller to drain
 *  (did_yarl_send is 1; nothing is sent for an empty registry),
 *  OSTREL_STATUS_NO_ENTRY when *vlan_id is not registered,
 *  OSTREL_STATUS_INVALID for a null msg or a failed allocation (nothing
 *  sent), or the first failing build's or send's status. */
OSTREL_API OSTREL_NODISCARD uint32_t ostrel_api_resync(yarl_handle_t handle,
                                                       const uint32_t *vlan_id,
                                                       yarl_msg *msg);

/* ------------------------------------------------------------------ */
/* Counters and events                                                 */
/* ------------------------------------------------------------------ */

/* What the library did, for an engineer chasing an ACE that never took
 * effect. Counting is always on and costs a few increments per call;
 * timing the waits (wait_ns) costs clock readings and is on only when
 * asked for or while a hook is set. Neither changes anything that is sent,
 * returned, slept or allocated. The counters and the hook are process-wide and unguarded, like
 * the registries: read, reset and set them from the thread that programs. */

/** The counters since the library was loaded or last reset. */
typedef struct ostrel_api_counters_t {
    uint32_t struct_size;    /* set by the caller: sizeof the struct it has */
    uint32_t reserved;       /* written as 0 */
    uint64_t calls;          /* programming entry points called, bulk and
                                resync included; one per call however many
                                entry points it goes through */
    uint64_t requests_built; /* interface requests built into a batch */
    uint64_t messages_sent;  /* sends the transport accepted */
    uint64_t bytes_sent;     /* bytes of those sends */
    uint64_t send_attempts;  /* every send handed to the transport */
    uint64_t send_retries;   /* attempts after a failed one (each after a
                                retry sleep) */
    uint64_t send_failures;  /* sends that failed after every retry */
    uint64_t drains;         /* brisel_api_yarl_gobble calls, including the
                                library's own after a full batch */
    uint64_t drain_failures; /* drains that returned nonzero */
    uint64_t bulk_rollbacks; /* bulk calls whose changes were taken back */
    uint64_t resyncs;        /* ostrel_api_resync calls */
    uint64_t wait_ns;        /* nanoseconds spent in the transport's send
                                and receive and in the retry sleeps, while
                                waits are timed (see
                                ostrel_api_counters_set_timing) */
    /* The registries as they stand when read (not reset): */
    uint64_t vlans;          /* VLAN entries */
    uint64_t interfaces;     /* interface entries of every VLAN */
    uint64_t aces;           /* ACEs of every interface entry */
    uint64_t port_channels;  /* port-channel entries */
} ostrel_api_counters_t;

/** Fills *c up to c->struct_size bytes (whole fields only; a larger
 *  struct_size than this library knows leaves the rest untouched), so a
 *  program built against an older, shorter struct keeps working. Nothing
 *  for a null c. Set struct_size = sizeof *c before the call. */
OSTREL_API void ostrel_api_counters_get(ostrel_api_counters_t *c);
/** Sets every running counter back to 0; the registry figures stay what
 *  the registries hold. */
OSTREL_API void ostrel_api_counters_reset(void);
/** Times the waits into wait_ns when on is nonzero; off by default, as
 *  the two clock readings around each send and receive cost a small
 *  operation more than all its counting. While a hook is set the waits are
 *  timed whatever this says, with CLOCK_MONOTONIC. Otherwise, on x86, they
 *  are timed with the time stamp counter, a few nanoseconds to read, scaled
 *  to CLOCK_MONOTONIC nanoseconds when the counters are read (the scale is
 *  taken from the first timed wait on, so a read within a millisecond of it
 *  can be a percent off); elsewhere with CLOCK_MONOTONIC. */
OSTREL_API void ostrel_api_counters_set_timing(int on);

/** Kinds of event handed to the hook. */
typedef enum ostrel_api_event_kind_t {
    /** One send handed to the transport: status 0 when it was accepted,
     *  else OSTREL_STATUS_SEND_ERROR(error) with error the errno the
     *  transport left; bytes sent or offered; duration of the send. */
    OSTREL_EVENT_SEND_ATTEMPT = 1,
    /** The sleep before a retry, just ended: its duration. */
    OSTREL_EVENT_RETRY_SLEEP = 2,
    /** A send given up after its retries: the status the call returns,
     *  error the transport's error number, the bytes not sent, and the
     *  time spent on its attempts and sleeps. */
    OSTREL_EVENT_SEND_FAILED = 3,
    /** A drain: the status brisel_api_yarl_gobble returns, error the
     *  transport's error number when the receive failed (else 0), bytes 0,
     *  duration of the receive. */
    OSTREL_EVENT_DRAIN = 4,
    /** A bulk call's changes taken back: the status the call returns and
     *  the time the undo took; error and bytes 0. */
    OSTREL_EVENT_BULK_ROLLBACK = 5
} ostrel_api_event_kind_t;

/** One event; valid only during the hook call. */
typedef struct ostrel_api_event_t {
    uint32_t struct_size; /* sizeof the struct the library fills */
    uint32_t kind;        /* an ostrel_api_event_kind_t */
    uint32_t status;      /* a status word */
    int32_t error;        /* an error number, 0 for none */
    uint64_t bytes;
    uint64_t duration_ns; /* CLOCK_MONOTONIC nanoseconds */
} ostrel_api_event_t;

/** An event hook: called with the event and the context it was set with. */
typedef void (*ostrel_api_event_hook_t)(const ostrel_api_event_t *event,
                                        void *context);

/** Sets the hook called for each send attempt, retry sleep, failed send,
 *  drain and bulk rollback, or none for a null hook (there is none by
 *  default). The hook runs on the caller's thread, inside the call that
 *  made the event, before that call goes on: keep it short, since the
 *  call waits for it. A hook must not call back into the library (no
 *  entry point, drain, registry operation, counter read or hook change):
 *  the call under way holds the registries and the batch half-changed.
 *  errno after the hook is what it was before. */
OSTREL_API void ostrel_api_set_event_hook(ostrel_api_event_hook_t hook,
                                          void *context);

/* ------------------------------------------------------------------ */
/* Policy record types (host byte order, naturally aligned)            */
/* ------------------------------------------------------------------ */

typedef struct ostrel_api_plcy_t {
    uint32_t plcy_op;   /* TLV 1 */
    uint32_t plcy_tlv2; /* TLV 2 */
} ostrel_api_plcy_t;

typedef struct ostrel_api_dst_t {
    uint32_t dst_tlv4;     /* TLV 4 */
    uint16_t dst_tlv5;     /* TLV 5 */
    uint16_t dst_vlan;     /* TLV 6 */
    uint32_t dst_if_index; /* TLV 7 */
} ostrel_api_dst_t;

/** Bit 0 of fltr_flags: the qualifier and the four addresses are present. */
#define OSTREL_FLTR_FLAG_PRESENT 0x1u
/** Bits of actn_flags: actn_tlv10 present, actn_tlv11 present. */
#define OSTREL_ACTN_FLAG_TLV10 0x1u
#define OSTREL_ACTN_FLAG_TLV11 0x2u

typedef struct ostrel_api_ace_fltr_t {
    uint32_t fltr_tlv8; /* TLV 8, always encoded */
    uint8_t fltr_pad4[4];
    uint64_t fltr_flags __attribute__((aligned(8)));
    uint16_t fltr_qualifier; /* TLV 9 */
    uint8_t fltr_addr1[6];   /* TLV 19 */
    uint8_t fltr_addr2[6];   /* TLV 20 */
    uint8_t fltr_addr3[6];   /* TLV 21 */
    uint8_t fltr_addr4[6];   /* TLV 22 */
    uint8_t fltr_pad42[6];
} __attribute__((aligned(8))) ostrel_api_ace_fltr_t;

typedef struct ostrel_api_ace_actn_t {
    uint64_t actn_flags __attribute__((aligned(8)));
    uint32_t actn_tlv10; /* TLV 10 */
    uint32_t actn_tlv11; /* TLV 11 */
} __attribute__((aligned(8))) ostrel_api_ace_actn_t;

typedef struct ostrel_api_ace_t {
    ostrel_api_ace_fltr_t fltr; /* TLV 14 */
    ostrel_api_ace_actn_t actn; /* TLV 15 */
} __attribute__((aligned(8))) ostrel_api_ace_t;

/** 24-byte fixed part followed directly by num_aces ACE records. */
typedef struct ostrel_api_plcy_update_req_t {
    ostrel_api_plcy_t plcy; /* TLV 12 */
    ostrel_api_dst_t dst;   /* TLV 13 */
    uint32_t num_aces;      /* TLV 16 */
    ostrel_api_ace_t aces[]; /* TLV 17, one TLV per record */
} ostrel_api_plcy_update_req_t;

typedef struct ostrel_api_plcy_update_resp_t {
    uint32_t resp_tlv18; /* TLV 18 */
} ostrel_api_plcy_update_resp_t;

/** Size in bytes of a policy update request carrying n ACE records. */
#define OSTREL_PLCY_UPDATE_REQ_SIZE(n) (24u + 64u * (uint32_t)(n))

/* ------------------------------------------------------------------ */
/* Table descriptors                                                   */
/* ------------------------------------------------------------------ */

/** Field kinds of a descriptor entry. */
#define TLVU_KIND_END 0u
#define TLVU_KIND_PLAIN 1u
#define TLVU_KIND_ARRAY 5u
#define TLVU_KIND_CUSTOM 9u
#define TLVU_END_WORD 0xFFFFFFFFu

/** Custom encoder: encodes its part of the record at rec into a TLV array
 *  at *tlv_buf of *tlv_len bytes; *buf_owned 1 hands the buffer (from
 *  malloc) to the caller, who frees it. Returns 0 or a nonzero status. */
typedef uint32_t (*tlvu_struct_to_tlv_fn)(const void *rec, uint32_t tlv_flags,
                                          uint8_t **tlv_buf, uint32_t *tlv_len,
                                          uint32_t *buf_owned);
/** Custom decoder: decodes the TLV array at tlv_array, of which
 *  readable_len bytes may be read (0: trust the array header), into its
 *  part of the record at rec. Returns 0 or a nonzero status. */
typedef uint32_t (*tlvu_tlv_to_struct_fn)(void *rec, const uint8_t *tlv_array,
                                          uint32_t readable_len,
                                          uint32_t tlv_flags);
/** Size in bytes of the TLV array a custom encoder makes of rec. */
typedef uint32_t (*tlvu_get_tlv_data_sz_fn)(const void *rec);
/** Number of elements of an array field held by the record at rec. */
typedef uint32_t (*tlvu_get_count_fn)(const void *rec);

/** Descriptor header; the field entries follow it in the same object and
 *  end with an entry of kind TLVU_KIND_END. */
typedef struct tlvu_table_t {
    uint32_t struct_size;
    const char *name;
    uint32_t reserved8;
    uint32_t reserved12;
} tlvu_table_t;

typedef struct tlvu_field_t {
    uint32_t tlv_type;
    uint32_t size;
    uint32_t offset;
    uint32_t kind;
    tlvu_struct_to_tlv_fn struct_to_tlv;
    tlvu_tlv_to_struct_fn tlv_to_struct;
    tlvu_get_tlv_data_sz_fn get_tlv_data_sz;
    tlvu_get_count_fn get_count;
    uint32_t reserved32;  /* 0; end entry 0xFFFFFFFF */
    uint32_t value_size;  /* equal to size for kinds 1 and 9, 0 for arrays */
    uint32_t reserved40;  /* 0xFFFFFFFF */
    const struct tlvu_table_t *sub_table;
} tlvu_field_t;

/** Field iterator over one TLV encoding; fill with *_field_itr_init. */
typedef struct tlvu_field_itr_t {
    const uint8_t *next;       /* next TLV to visit */
    const uint8_t *end;        /* one past the array body */
    const tlvu_table_t *table; /* descriptor of the record */
    uint32_t type_filter;      /* 0: every field, else only this TLV type */
    uint32_t flags;
} tlvu_field_itr_t;

/* The constant descriptors of the five record types, run by the TLV
 * utility library; owned by the library, read-only. */

/** Descriptor of ostrel_api_plcy_t: TLVs 1 and 2. */
OSTREL_API extern const tlvu_table_t ostrel_api_plcy_tbl;
/** Descriptor of ostrel_api_dst_t: TLVs 4 to 7. */
OSTREL_API extern const tlvu_table_t ostrel_api_dst_tbl;
/** Descriptor of ostrel_api_ace_t: custom TLVs 14 (filter) and 15
 *  (action), run by the ACE filter and action codecs below. */
OSTREL_API extern const tlvu_table_t ostrel_api_ace_tbl;
/** Descriptor of ostrel_api_plcy_update_req_t: nested TLVs 12 and 13, TLV
 *  16, and one TLV 17 per ACE record (count from ostrel_api_get_num_aces). */
OSTREL_API extern const tlvu_table_t ostrel_api_plcy_update_req_tbl;
/** Descriptor of ostrel_api_plcy_update_resp_t: TLV 18. */
OSTREL_API extern const tlvu_table_t ostrel_api_plcy_update_resp_tbl;

/* ------------------------------------------------------------------ */
/* ACE filter and action codecs                                        */
/* ------------------------------------------------------------------ */

/* rec is always the address of a whole ostrel_api_ace_t. The encoders hand
 * over a new buffer from malloc (*buf_owned set to 1; the caller frees it);
 * on failure nothing is written through the outputs. The decoders write
 * only their own fields and flag bits, clear nothing first, and skip
 * unknown types and values whose length is not the field's width. */

/** Bytes of the filter's TLV array: TLV 8 always; TLV 9 and the four
 *  address TLVs 19 to 22 when OSTREL_FLTR_FLAG_PRESENT is set. */
OSTREL_API uint32_t ostrel_api_ace_fltr_get_tlv_data_sz(const void *rec);
/** Encodes rec's filter into a TLV array of
 *  ostrel_api_ace_fltr_get_tlv_data_sz bytes. Returns 0,
 *  OSTREL_STATUS_INVALID for a null output pointer, or
 *  OSTREL_STATUS_NO_ENTRY when the allocation fails. */
OSTREL_API OSTREL_NODISCARD uint32_t ostrel_api_ace_fltr_struct_to_tlv(
    const void *rec, uint32_t tlv_flags, uint8_t **tlv_buf, uint32_t *tlv_len,
    uint32_t *buf_owned);
/** Decodes a filter TLV array, of which readable_len bytes may be read (0:
 *  trust its header), into rec's filter; TLV 9 also sets
 *  OSTREL_FLTR_FLAG_PRESENT. Returns 0, or OSTREL_STATUS_INVALID for a
 *  null rec or tlv_array. */
OSTREL_API OSTREL_NODISCARD uint32_t
ostrel_api_ace_fltr_tlv_to_struct(void *rec, const uint8_t *tlv_array,
                                  uint32_t readable_len, uint32_t tlv_flags);
/** Bytes of the action's TLV array: 4, plus one 4-byte TLV for each of
 *  OSTREL_ACTN_FLAG_TLV10 and OSTREL_ACTN_FLAG_TLV11 that is set. */
OSTREL_API uint32_t ostrel_api_ace_actn_get_tlv_data_sz(const void *rec);
/** Encodes rec's action into a TLV array of
 *  ostrel_api_ace_actn_get_tlv_data_sz bytes. Returns as
 *  ostrel_api_ace_fltr_struct_to_tlv. */
OSTREL_API OSTREL_NODISCARD uint32_t ostrel_api_ace_actn_struct_to_tlv(
    const void *rec, uint32_t tlv_flags, uint8_t **tlv_buf, uint32_t *tlv_len,
    uint32_t *buf_owned);
/** Decodes an action TLV array, of which readable_len bytes may be read
 *  (0: trust its header), into rec's action; TLVs 10 and 11 set their flag
 *  bits. Returns as ostrel_api_ace_fltr_tlv_to_struct. */
OSTREL_API OSTREL_NODISCARD uint32_t
ostrel_api_ace_actn_tlv_to_struct(void *rec, const uint8_t *tlv_array,
                                  uint32_t readable_len, uint32_t tlv_flags);

/* ------------------------------------------------------------------ */
/* Table-driven codec family: seven operations per record type          */
/* ------------------------------------------------------------------ */

/* For each record type (plcy, dst, ace, plcy_update_req, plcy_update_resp)
 * seven operations run the TLV utility library with that type's descriptor
 * and return its status unchanged (TLVU_STATUS_* of the TLV library; the
 * first two also print a nonzero status under their own name through
 * tlvu_error_print, which our TLV library writes to stderr; turn it off
 * with tlvu_set_error_print_enabled(0) of the installed header
 * <ostrelapi/platform/tlv_error_print_switch.h>):
 *  - _to_struct: decodes the encoding at tlv (tlv_len readable bytes, 0:
 *    trust its header) into rec (rec_size writable bytes, 0: the record's
 *    size; a request needs 24 + 64 bytes per ACE TLV). Malformed input
 *    leaves rec unchanged.
 *  - _to_tlv: encodes rec into a new buffer from malloc handed to the
 *    caller, who frees it (*tlv_buf, *tlv_len; not written on failure).
 *    tlv_flags must be 0; max_len 0 means no limit; *err_type, when
 *    err_type is not null, names the TLV type of the field that failed.
 *  - _get_tlv_sz: the exact size of that encoding, 0 when none can be made.
 *  - _get_struct_sz: the bytes a record decoded from tlv needs (the array
 *    header is trusted), or -1 when the encoding is refused.
 *  - _get_field: copies the value of the first top-level TLV of type
 *    tlv_type into out (out_size bytes).
 *  - _field_itr_init and _field_get_next: visit the top-level TLVs, all of
 *    them (type_filter 0) or one type; the values point into tlv, which
 *    must outlive the iterator. */
#define OSTREL_DECLARE_CODEC_FAMILY(short_name)                               \
    OSTREL_API OSTREL_NODISCARD uint32_t ostrel_api_##short_name##_to_struct( \
        const void *tlv, uint32_t tlv_len, void *rec, uint32_t rec_size);     \
    OSTREL_API OSTREL_NODISCARD uint32_t ostrel_api_##short_name##_to_tlv(    \
        const void *rec, uint8_t **tlv_buf, uint32_t *tlv_len,                \
        uint32_t tlv_flags, uint32_t *err_type, uint32_t max_len);            \
    OSTREL_API uint32_t ostrel_api_##short_name##_get_tlv_sz(const void *rec); \
    OSTREL_API int32_t ostrel_api_##short_name##_get_struct_sz(               \
        const void *tlv);                                                     \
    OSTREL_API uint32_t ostrel_api_##short_name##_get_field(                  \
        const void *tlv, uint32_t tlv_len, uint32_t tlv_type, void *out,      \
        uint32_t out_size);                                                   \
    OSTREL_API uint32_t ostrel_api_##short_name##_field_itr_init(             \
        tlvu_field_itr_t *itr, const void *tlv, uint32_t tlv_len,             \
        uint32_t type_filter, uint32_t flags);                                \
    OSTREL_API uint32_t ostrel_api_##short_name##_field_get_next(             \
        tlvu_field_itr_t *itr, const tlvu_field_t **field,                    \
        const void **value, uint32_t *value_len)

OSTREL_DECLARE_CODEC_FAMILY(plcy);
OSTREL_DECLARE_CODEC_FAMILY(dst);
OSTREL_DECLARE_CODEC_FAMILY(ace);
OSTREL_DECLARE_CODEC_FAMILY(plcy_update_req);
OSTREL_DECLARE_CODEC_FAMILY(plcy_update_resp);

/** Number of ACE records behind a policy update request's fixed part. */
OSTREL_API uint32_t ostrel_api_get_num_aces(const void *rec);

/* ------------------------------------------------------------------ */
/* Policy updates                                                      */
/* ------------------------------------------------------------------ */

/** Encodes req (ostrel_api_plcy_update_req_to_tlv) and sends it once, with
 *  msg, to the ACL service. Returns 0; OSTREL_STATUS_INVALID for a null req
 *  or msg (nothing encoded); the encoder's status when encoding fails
 *  (nothing sent); or OSTREL_STATUS_SEND_ERROR of the transport's error
 *  number. The encoding is freed before returning; the reply is left for
 *  the caller. The second argument is not used. */
OSTREL_API OSTREL_NODISCARD uint32_t ostrel_api_send_plcy_update(
    yarl_handle_t handle, uint32_t unused,
    const ostrel_api_plcy_update_req_t *req, yarl_msg *msg);
/** Hands back the payload of a received policy update message and returns
 *  its first 32-bit word; OSTREL_STATUS_INVALID for a null argument or a
 *  message without payload (then *payload_out is null). */
OSTREL_API uint32_t ostrel_api_parse_plcy_update(yarl_msg *msg,
                                                 void **payload_out);

#ifdef __cplusplus
}
#endif

#endif /* OSTRELAPI_H */
