// ACE filter codec: the filter part of an ACE record (TLV 14) as
// a nested TLV array holding TLV 8 always and, with bit 0 of fltr_flags,
// TLV 9 and TLVs 19 to 22. The ACE descriptor names these three functions;
// the TLV utility library calls them with the address of the whole record.
#include <cstring>

#include "codec/ace_codec_util.h"

using namespace ostrel::codec;

namespace {

constexpr uint32_t kTlv8 = 8;
constexpr uint32_t kTlv9 = 9;
constexpr uint32_t kAddrWidth = 6;

bool filter_present(const ostrel_api_ace_fltr_t &f) {
    return (f.fltr_flags & uint64_t{OSTREL_FLTR_FLAG_PRESENT}) != 0;
}

// The 6-byte address that TLV type 19, 20, 21 or 22 names, else null.
uint8_t *addr_field(ostrel_api_ace_fltr_t &f, uint32_t tlv_type) {
    switch (tlv_type) {
    case 19:
        return f.fltr_addr1;
    case 20:
        return f.fltr_addr2;
    case 21:
        return f.fltr_addr3;
    case 22:
        return f.fltr_addr4;
    default:
        return nullptr;
    }
}

// Stores one decoded TLV of the filter array.
void store(ostrel_api_ace_fltr_t &f, uint16_t type, uint16_t len,
           const uint8_t *value) {
    if (type == kTlv8) {
        if (fits_field(len, value, sizeof f.fltr_tlv8)) {
            f.fltr_tlv8 = read_value<uint32_t>(value);
        }
    } else if (type == kTlv9) {
        if (fits_field(len, value, sizeof f.fltr_qualifier)) {
            f.fltr_flags |= uint64_t{OSTREL_FLTR_FLAG_PRESENT};
            f.fltr_qualifier = read_value<uint16_t>(value);
        }
    } else if (uint8_t *addr = addr_field(f, type)) {
        if (fits_field(len, value, kAddrWidth)) {
            std::memcpy(addr, value, kAddrWidth);
        }
    }
}

} // namespace

/** Size in bytes of the filter TLV array of the ACE record at rec:
 *  4 + S(4), plus S(2) + 4 x S(6) when bit 0 of fltr_flags is set. */
uint32_t ostrel_api_ace_fltr_get_tlv_data_sz(const void *rec) {
    uint32_t size = 4 + tlv_size_get(4);
    if (filter_present(ace_of(rec)->fltr)) {
        size += tlv_size_get(2);
        for (int i = 0; i < 4; ++i) {
            size += tlv_size_get(kAddrWidth);
        }
    }
    return size;
}

/** Encodes the filter part of the ACE record at rec into a new malloc'ed
 *  TLV array handed over through tlv_buf/tlv_len/buf_owned (set to 1).
 *  OSTREL_STATUS_INVALID for a null output pointer, OSTREL_STATUS_NO_ENTRY
 *  when the allocation fails; nothing is written through the outputs then. */
uint32_t ostrel_api_ace_fltr_struct_to_tlv(const void *rec, uint32_t tlv_flags,
                                           uint8_t **tlv_buf, uint32_t *tlv_len,
                                           uint32_t *buf_owned) {
    if (tlv_buf == nullptr || tlv_len == nullptr || buf_owned == nullptr) {
        return kStatusNullArg;
    }
    const ostrel_api_ace_fltr_t &f = ace_of(rec)->fltr;
    const uint32_t size = ostrel_api_ace_fltr_get_tlv_data_sz(rec);
    uint8_t *buf = new_empty_array(size);
    if (buf == nullptr) {
        return kStatusNoMemory;
    }
    const uint32_t tlv8 = f.fltr_tlv8;
    (void)tlv_array_add_tlv(buf, size, kTlv8, sizeof tlv8, &tlv8, tlv_flags);
    if (filter_present(f)) {
        const uint16_t tlv9 = f.fltr_qualifier;
        (void)tlv_array_add_tlv(buf, size, kTlv9, sizeof tlv9, &tlv9,
                                tlv_flags);
        (void)tlv_array_add_tlv(buf, size, 19, kAddrWidth, f.fltr_addr1, 0);
        (void)tlv_array_add_tlv(buf, size, 20, kAddrWidth, f.fltr_addr2, 0);
        (void)tlv_array_add_tlv(buf, size, 21, kAddrWidth, f.fltr_addr3, 0);
        (void)tlv_array_add_tlv(buf, size, 22, kAddrWidth, f.fltr_addr4, 0);
    }
    return hand_over(buf, size, tlv_buf, tlv_len, buf_owned);
}

/** Decodes a filter TLV array into the ACE record at rec: TLV 8 into
 *  fltr_tlv8, TLV 9 into fltr_qualifier (setting bit 0 of fltr_flags),
 *  TLVs 19 to 22 into the addresses; other types, and values whose length
 *  is not the field's width, are skipped. Nothing is cleared first. The
 *  third argument is handed to tlv_array_get_num_tlvs as the readable
 *  length of tlv_array (0: trust its header). OSTREL_STATUS_INVALID for a
 *  null rec or tlv_array, else 0. */
uint32_t ostrel_api_ace_fltr_tlv_to_struct(void *rec, const uint8_t *tlv_array,
                                           uint32_t readable_len,
                                           uint32_t tlv_flags) {
    if (tlv_array == nullptr || rec == nullptr) {
        return kStatusNullArg;
    }
    ostrel_api_ace_fltr_t &f = ace_of(rec)->fltr;
    for_each_tlv(tlv_array, tlv_flags, readable_len,
                 [&f](uint16_t type, uint16_t len, const uint8_t *value) {
                     store(f, type, len, value);
                 });
    return kStatusOk;
}
