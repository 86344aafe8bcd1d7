// Compile-time proof of the record layouts shared with the ACL service.
// Programming requests travel unencoded, so every offset below is part of
// the wire contract, on 32-bit and 64-bit builds alike.
#include <cstddef>

#include "ostrelapi.h"

#define OSTREL_EXPECT_AT(type, field, off)                                     \
    static_assert(offsetof(type, field) == (off), #type "." #field)

static_assert(sizeof(ostrel_api_plcy_t) == 8);
OSTREL_EXPECT_AT(ostrel_api_plcy_t, plcy_op, 0);
OSTREL_EXPECT_AT(ostrel_api_plcy_t, plcy_tlv2, 4);

static_assert(sizeof(ostrel_api_dst_t) == 12);
OSTREL_EXPECT_AT(ostrel_api_dst_t, dst_tlv4, 0);
OSTREL_EXPECT_AT(ostrel_api_dst_t, dst_tlv5, 4);
OSTREL_EXPECT_AT(ostrel_api_dst_t, dst_vlan, 6);
OSTREL_EXPECT_AT(ostrel_api_dst_t, dst_if_index, 8);

static_assert(sizeof(ostrel_api_ace_fltr_t) == 48);
OSTREL_EXPECT_AT(ostrel_api_ace_fltr_t, fltr_tlv8, 0);
OSTREL_EXPECT_AT(ostrel_api_ace_fltr_t, fltr_flags, 8);
OSTREL_EXPECT_AT(ostrel_api_ace_fltr_t, fltr_qualifier, 16);
OSTREL_EXPECT_AT(ostrel_api_ace_fltr_t, fltr_addr1, 18);
OSTREL_EXPECT_AT(ostrel_api_ace_fltr_t, fltr_addr2, 24);
OSTREL_EXPECT_AT(ostrel_api_ace_fltr_t, fltr_addr3, 30);
OSTREL_EXPECT_AT(ostrel_api_ace_fltr_t, fltr_addr4, 36);
OSTREL_EXPECT_AT(ostrel_api_ace_fltr_t, fltr_pad42, 42);

static_assert(sizeof(ostrel_api_ace_actn_t) == 16);
OSTREL_EXPECT_AT(ostrel_api_ace_actn_t, actn_flags, 0);
OSTREL_EXPECT_AT(ostrel_api_ace_actn_t, actn_tlv10, 8);
OSTREL_EXPECT_AT(ostrel_api_ace_actn_t, actn_tlv11, 12);

static_assert(sizeof(ostrel_api_ace_t) == 64);
static_assert(alignof(ostrel_api_ace_t) == 8);
OSTREL_EXPECT_AT(ostrel_api_ace_t, fltr, 0);
OSTREL_EXPECT_AT(ostrel_api_ace_t, actn, 48);
OSTREL_EXPECT_AT(ostrel_api_ace_t, actn.actn_tlv10, 56);
OSTREL_EXPECT_AT(ostrel_api_ace_t, actn.actn_tlv11, 60);

static_assert(sizeof(ostrel_api_plcy_update_req_t) == 24);
OSTREL_EXPECT_AT(ostrel_api_plcy_update_req_t, plcy, 0);
OSTREL_EXPECT_AT(ostrel_api_plcy_update_req_t, dst, 8);
OSTREL_EXPECT_AT(ostrel_api_plcy_update_req_t, num_aces, 20);
OSTREL_EXPECT_AT(ostrel_api_plcy_update_req_t, aces, 24);
static_assert(OSTREL_PLCY_UPDATE_REQ_SIZE(3) == 24 + 3 * 64);

static_assert(sizeof(ostrel_api_plcy_update_resp_t) == 4);
OSTREL_EXPECT_AT(ostrel_api_plcy_update_resp_t, resp_tlv18, 0);

// Registry nodes: key, count, first, next; an AceNode starts with its key.
static_assert(sizeof(AceKey) == 14);
OSTREL_EXPECT_AT(AceKey, addr2, 6);
OSTREL_EXPECT_AT(AceKey, qualifier, 12);
OSTREL_EXPECT_AT(AceNode, key, 0);
static_assert(sizeof(VlanNode) == 8 + 2 * sizeof(void *));
OSTREL_EXPECT_AT(VlanNode, count, 4);
OSTREL_EXPECT_AT(VlanNode, first, 8);
OSTREL_EXPECT_AT(VlanNode, next, 8 + sizeof(void *));
static_assert(sizeof(IntfNode) == sizeof(VlanNode));
static_assert(sizeof(PcNode) == sizeof(VlanNode));
static_assert(sizeof(PoVlanNode) == sizeof(VlanNode));

// Transport records.
static_assert(sizeof(yarl_send_opts) == 56);
static_assert(sizeof(yarl_recv_opts) == 36);
static_assert(sizeof(yarl_addr) == 8);

// Descriptors: 16-byte header and 48-byte entries with 32-bit pointers;
// the pointer fields widen on 64-bit builds.
static_assert(sizeof(void *) != 4 || sizeof(tlvu_table_t) == 16);
static_assert(sizeof(void *) != 4 || sizeof(tlvu_field_t) == 48);
OSTREL_EXPECT_AT(tlvu_field_t, struct_to_tlv, 16);
OSTREL_EXPECT_AT(tlvu_field_t, reserved32, 16 + 4 * sizeof(void *));

// With 32-bit pointers every word of the registry nodes and descriptors
// lies at its documented offset: nodes and heads 16 bytes, descriptor
// header 16 bytes, field entry 48 bytes.
#define OSTREL_EXPECT_AT_32(type, field, off)                                  \
    static_assert(sizeof(void *) != 4 || offsetof(type, field) == (off),       \
                  #type "." #field " (32-bit)")

static_assert(sizeof(void *) != 4 || sizeof(VlanNode) == 16);
static_assert(sizeof(void *) != 4 || sizeof(IntfNode) == 16);
static_assert(sizeof(void *) != 4 || sizeof(PcNode) == 16);
static_assert(sizeof(void *) != 4 || sizeof(PoVlanNode) == 16);
OSTREL_EXPECT_AT_32(VlanNode, next, 12);
OSTREL_EXPECT_AT_32(IntfNode, first, 8);
OSTREL_EXPECT_AT_32(IntfNode, next, 12);
OSTREL_EXPECT_AT_32(PcNode, next, 12);
OSTREL_EXPECT_AT_32(PoVlanNode, next, 12);
OSTREL_EXPECT_AT_32(AceNode, next, 16);
OSTREL_EXPECT_AT_32(tlvu_table_t, name, 4);
OSTREL_EXPECT_AT_32(tlvu_table_t, reserved8, 8);
OSTREL_EXPECT_AT_32(tlvu_table_t, reserved12, 12);
OSTREL_EXPECT_AT_32(tlvu_field_t, tlv_to_struct, 20);
OSTREL_EXPECT_AT_32(tlvu_field_t, get_tlv_data_sz, 24);
OSTREL_EXPECT_AT_32(tlvu_field_t, get_count, 28);
OSTREL_EXPECT_AT_32(tlvu_field_t, reserved32, 32);
OSTREL_EXPECT_AT_32(tlvu_field_t, value_size, 36);
OSTREL_EXPECT_AT_32(tlvu_field_t, reserved40, 40);
OSTREL_EXPECT_AT_32(tlvu_field_t, sub_table, 44);
