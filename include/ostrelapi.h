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

/* ------------------------------------------------------------------ */
/* Message transport records (owned by the caller)                     */
/* ------------------------------------------------------------------ */

/** Transport handle: opaque, passed through unchanged. */
typedef uint32_t yarl_handle_t;

/** A message record whose storage the caller provides; opaque here. */
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

/** Head of the VLAN registry: `count` VLANs, the first one in `next`. */
OSTREL_API extern VlanNode brisel_handle;
/** Head of the port-channel registry: `count` port channels in `next`. */
OSTREL_API extern PcNode brisel_pchandle;

OSTREL_API void brisel_start(void);
OSTREL_API VlanNode *brisel_vlan_malloc(void);
OSTREL_API IntfNode *brisel_intf_malloc(void);
OSTREL_API AceNode *brisel_ace_malloc(void);
OSTREL_API AceNode *brisel_ace_alloc(const uint8_t *addr1,
                                     const uint8_t *addr2, uint32_t qualifier);
OSTREL_API int32_t brisel_ace_cmp(const void *ace, const AceKey *key);
OSTREL_API VlanNode *brisel_vlan_lookup(uint32_t vlan_id);
OSTREL_API IntfNode *brisel_intf_lookup(VlanNode *vlan, uint32_t if_index);
OSTREL_API AceNode *brisel_ace_lookup(IntfNode *intf, const AceKey *key);
OSTREL_API VlanNode *brisel_vlan_add(uint32_t vlan_id);
OSTREL_API IntfNode *brisel_intf_add(VlanNode *vlan, uint32_t if_index);
OSTREL_API AceNode *brisel_ace_add(IntfNode *intf, AceNode *ace);
OSTREL_API uint32_t brisel_vlan_del(VlanNode *vlan);
OSTREL_API uint32_t brisel_intf_del(VlanNode *vlan, IntfNode *intf);
OSTREL_API uint32_t brisel_ace_del(IntfNode *intf, const AceKey *key);
OSTREL_API IntfNode *brisel_intf_get_first(VlanNode *vlan);
OSTREL_API IntfNode *brisel_intf_get_next(VlanNode *vlan, IntfNode *intf);

OSTREL_API PcNode *brisel_pc_malloc(void);
OSTREL_API PcNode *brisel_pc_lookup(uint32_t pc_if_index);
OSTREL_API PcNode *brisel_pc_add(uint32_t pc_if_index);
OSTREL_API uint32_t brisel_pc_del(PcNode *pc);
OSTREL_API PoVlanNode *brisel_povlan_malloc(void);
OSTREL_API PoVlanNode *brisel_povlan_lookup(PcNode *pc, uint32_t vlan_id);
OSTREL_API PoVlanNode *brisel_povlan_add(PcNode *pc, uint32_t vlan_id);
OSTREL_API uint32_t brisel_povlan_del(PcNode *pc, PoVlanNode *povlan);
OSTREL_API AceNode *brisel_poace_lookup(PoVlanNode *povlan, const AceKey *key);
OSTREL_API AceNode *brisel_poace_add(PoVlanNode *povlan, AceNode *ace);
OSTREL_API uint32_t brisel_poace_del(PoVlanNode *povlan, const AceKey *key);

/* ------------------------------------------------------------------ */
/* ACL programming entry points                                        */
/* ------------------------------------------------------------------ */

/** Adds (add != 0) or deletes an ACE on an interface of a VLAN and
 *  reprograms every affected interface. On success the ACL service's reply
 *  is left for the caller to drain (did_yarl_send is 1). */
OSTREL_API OSTREL_NODISCARD uint32_t ostrel_api_program_acl(
    yarl_handle_t handle, const uint8_t *addr1, const uint8_t *addr2,
    uint32_t vlan_id, uint32_t if_index, uint32_t qualifier, yarl_msg *msg,
    uint32_t add);
OSTREL_API OSTREL_NODISCARD uint32_t ostrel_api_del_acl(
    yarl_handle_t handle, const uint8_t *addr1, const uint8_t *addr2,
    uint32_t vlan_id, uint32_t if_index, uint32_t qualifier, yarl_msg *msg);
/** Kept for compatibility: no effect, returns 0. */
OSTREL_API uint32_t ostrel_api_dump_memory(uint32_t arg1, uint32_t arg2);

/** Drops msg, then waits for and drops the reply to the send made with it.
 *  Returns 0, OSTREL_STATUS_NO_ENTRY (reply without payload) or the
 *  transport's error number of a failed receive. */
OSTREL_API uint32_t brisel_api_yarl_gobble(yarl_handle_t handle,
                                           yarl_msg *msg);
/** 1 after a successful batch send, until the next drain or deferred
 *  request build. */
OSTREL_API extern uint32_t did_yarl_send;

/** Adds or deletes an ACE on a port channel: recorded once, programmed on
 *  every member interface with a drain between members. */
OSTREL_API OSTREL_NODISCARD uint32_t ostrel_api_pc_program_acl(
    yarl_handle_t handle, const uint8_t *addr1, const uint8_t *addr2,
    uint32_t vlan_id, uint32_t pc_if_index, uint32_t qualifier,
    yarl_msg *msg, uint32_t add);
/** Re-sends, for every VLAN that holds if_index, its request addressed to
 *  the single interface `override`. */
OSTREL_API OSTREL_NODISCARD uint32_t ostrel_api_pc_program_acl_update(
    yarl_handle_t handle, uint32_t if_index, uint32_t override,
    yarl_msg *msg, uint32_t install);

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

typedef uint32_t (*tlvu_struct_to_tlv_fn)(const void *rec, uint32_t tlv_flags,
                                          uint8_t **tlv_buf, uint32_t *tlv_len,
                                          uint32_t *buf_owned);
typedef uint32_t (*tlvu_tlv_to_struct_fn)(void *rec, const uint8_t *tlv_array,
                                          uint32_t unused, uint32_t tlv_flags);
typedef uint32_t (*tlvu_get_tlv_data_sz_fn)(const void *rec);
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

OSTREL_API extern const tlvu_table_t ostrel_api_plcy_tbl;
OSTREL_API extern const tlvu_table_t ostrel_api_dst_tbl;
OSTREL_API extern const tlvu_table_t ostrel_api_ace_tbl;
OSTREL_API extern const tlvu_table_t ostrel_api_plcy_update_req_tbl;
OSTREL_API extern const tlvu_table_t ostrel_api_plcy_update_resp_tbl;

/* ------------------------------------------------------------------ */
/* ACE filter and action codecs                                        */
/* ------------------------------------------------------------------ */

OSTREL_API uint32_t ostrel_api_ace_fltr_get_tlv_data_sz(const void *rec);
OSTREL_API OSTREL_NODISCARD uint32_t ostrel_api_ace_fltr_struct_to_tlv(
    const void *rec, uint32_t tlv_flags, uint8_t **tlv_buf, uint32_t *tlv_len,
    uint32_t *buf_owned);
OSTREL_API OSTREL_NODISCARD uint32_t ostrel_api_ace_fltr_tlv_to_struct(
    void *rec, const uint8_t *tlv_array, uint32_t unused, uint32_t tlv_flags);
OSTREL_API uint32_t ostrel_api_ace_actn_get_tlv_data_sz(const void *rec);
OSTREL_API OSTREL_NODISCARD uint32_t ostrel_api_ace_actn_struct_to_tlv(
    const void *rec, uint32_t tlv_flags, uint8_t **tlv_buf, uint32_t *tlv_len,
    uint32_t *buf_owned);
OSTREL_API OSTREL_NODISCARD uint32_t ostrel_api_ace_actn_tlv_to_struct(
    void *rec, const uint8_t *tlv_array, uint32_t unused, uint32_t tlv_flags);

/* ------------------------------------------------------------------ */
/* Table-driven codec family: seven operations per record type          */
/* ------------------------------------------------------------------ */

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

/** Encodes req and sends it to the ACL service with msg. */
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
