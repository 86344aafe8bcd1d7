// ACE action codec: the action part of an ACE record (TLV 15,
// bytes 48 to 63 of the record) as a nested TLV array holding TLV 10 with
// bit 0 of actn_flags and TLV 11 with bit 1. The ACE descriptor names these
// three functions; the TLV utility library calls them with the address of
// the whole record.
#include "codec/ace_codec_util.h"

using namespace ostrel::codec;

namespace {

constexpr uint32_t kTlv10 = 10;
constexpr uint32_t kTlv11 = 11;
constexpr uint64_t kFlag10 = OSTREL_ACTN_FLAG_TLV10;
constexpr uint64_t kFlag11 = OSTREL_ACTN_FLAG_TLV11;

bool has(const ostrel_api_ace_actn_t &a, uint64_t flag) {
    return (a.actn_flags & flag) != 0;
}

// Stores one decoded u32 action value and sets its presence flag.
void store_u32(ostrel_api_ace_actn_t &a, uint64_t flag, uint32_t &field,
               uint16_t len, const uint8_t *value) {
    if (fits_field(len, value, sizeof field)) {
        a.actn_flags |= flag;
        field = read_value<uint32_t>(value);
    }
}

// Stores one decoded TLV of the action array.
void store(ostrel_api_ace_actn_t &a, uint16_t type, uint16_t len,
           const uint8_t *value) {
    if (type == kTlv10) {
        store_u32(a, kFlag10, a.actn_tlv10, len, value);
    } else if (type == kTlv11) {
        store_u32(a, kFlag11, a.actn_tlv11, len, value);
    }
}

} // namespace

/** Size in bytes of the action TLV array of the ACE record at rec: 4, plus
 *  S(4) for each of bits 0 and 1 of actn_flags that is set. */
uint32_t ostrel_api_ace_actn_get_tlv_data_sz(const void *rec) {
    const ostrel_api_ace_actn_t &a = ace_of(rec)->actn;
    uint32_t size = 4;
    if (has(a, kFlag10)) {
        size += tlv_size_get(4);
    }
    if (has(a, kFlag11)) {
        size += tlv_size_get(4);
    }
    return size;
}

/** Encodes the action part of the ACE record at rec into a new malloc'ed
 *  TLV array handed over through tlv_buf/tlv_len/buf_owned (set to 1); with
 *  neither flag set that is an empty 4-byte array. OSTREL_STATUS_INVALID
 *  for a null output pointer, OSTREL_STATUS_NO_ENTRY when the allocation
 *  fails; nothing is written through the outputs then. */
uint32_t ostrel_api_ace_actn_struct_to_tlv(const void *rec, uint32_t tlv_flags,
                                           uint8_t **tlv_buf, uint32_t *tlv_len,
                                           uint32_t *buf_owned) {
    if (tlv_buf == nullptr || tlv_len == nullptr || buf_owned == nullptr) {
        return kStatusNullArg;
    }
    const ostrel_api_ace_actn_t &a = ace_of(rec)->actn;
    const uint32_t size = ostrel_api_ace_actn_get_tlv_data_sz(rec);
    uint8_t *buf = new_empty_array(size);
    if (buf == nullptr) {
        return kStatusNoMemory;
    }
    if (has(a, kFlag10)) {
        const uint32_t tlv10 = a.actn_tlv10;
        (void)tlv_array_add_tlv(buf, size, kTlv10, sizeof tlv10, &tlv10,
                                tlv_flags);
    }
    if (has(a, kFlag11)) {
        const uint32_t tlv11 = a.actn_tlv11;
        (void)tlv_array_add_tlv(buf, size, kTlv11, sizeof tlv11, &tlv11,
                                tlv_flags);
    }
    return hand_over(buf, size, tlv_buf, tlv_len, buf_owned);
}

/** Decodes an action TLV array into the ACE record at rec: TLV 10 into
 *  actn_tlv10 (setting bit 0 of actn_flags), TLV 11 into actn_tlv11
 *  (setting bit 1); other types, and values that are not 4 bytes long, are
 *  skipped. Nothing is cleared first. The third argument is handed to
 *  tlv_array_get_num_tlvs as the readable length of tlv_array (0: trust its
 *  header). OSTREL_STATUS_INVALID for a null rec or tlv_array, else 0. */
uint32_t ostrel_api_ace_actn_tlv_to_struct(void *rec, const uint8_t *tlv_array,
                                           uint32_t readable_len,
                                           uint32_t tlv_flags) {
    if (tlv_array == nullptr || rec == nullptr) {
        return kStatusNullArg;
    }
    ostrel_api_ace_actn_t &a = ace_of(rec)->actn;
    for_each_tlv(tlv_array, tlv_flags, readable_len,
                 [&a](uint16_t type, uint16_t len, const uint8_t *value) {
                     store(a, type, len, value);
                 });
    return kStatusOk;
}
