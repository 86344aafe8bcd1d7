/*
 * Interface and port-channel services, as the library calls them. Supplied
 * by the platform (or a test double) at link time.
 */
#ifndef OSTREL_PLATFORM_IFSVC_H
#define OSTREL_PLATFORM_IFSVC_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/** Interface type byte that marks a port channel. */
#define OSTREL_IF_TYPE_PORT_CHANNEL 22u
/** Member entries that fit in a PortChannelInfo. */
#define OSTREL_PC_MAX_MEMBERS 6u

/** Writes the type byte of if_index to *type; nonzero result on failure. */
int if_index_get_type(uint32_t if_index, uint8_t *type);

/** One member entry: interface index and three bytes not read here. */
typedef struct __attribute__((packed)) PortChannelMember {
    uint32_t if_index;
    uint8_t rest[3];
} PortChannelMember;

/** 68-byte packed record of a port channel's members. The caller zeroes it
 *  and sets pc_if_index; the service fills the rest. */
typedef struct __attribute__((packed)) PortChannelInfo {
    uint8_t reserved0[6];
    uint32_t pc_if_index;
    uint8_t reserved10[8];
    uint32_t member_count;
    uint8_t reserved22[4];
    PortChannelMember members[OSTREL_PC_MAX_MEMBERS];
} PortChannelInfo;

/** Fills info for info->pc_if_index; nonzero result on failure. */
int port_channel_info_get(PortChannelInfo *info);

#ifdef __cplusplus
}
#endif

#ifdef __cplusplus
static_assert(sizeof(PortChannelInfo) == 68, "PortChannelInfo is 68 bytes");
static_assert(__builtin_offsetof(PortChannelInfo, pc_if_index) == 6, "");
static_assert(__builtin_offsetof(PortChannelInfo, member_count) == 18, "");
static_assert(__builtin_offsetof(PortChannelInfo, members) == 26, "");
#endif

#endif
