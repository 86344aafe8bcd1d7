// The table-driven operation family: seven thin operations per
// record type, each handing its arguments and the record type's descriptor
// to the TLV utility library. One macro defines the seven operations of a
// record type from its short name; the five expansions below differ only in
// the descriptor they pass and the names they print.
#include <cstdint>

#include "ostrelapi.h"
#include "tlvu.h"

namespace {

// Decoding, encoding and sizing from an encoding print a nonzero status
// under the operation's full name, so a refused message shows in the log.
uint32_t reported(const char *op_name, uint32_t status) {
    if (status != TLVU_STATUS_OK) {
        tlvu_error_print("%s: ERR 0x%x\n", op_name, status);
    }
    return status;
}

// Operation 4: the decoded record's size in bytes, or -1 (after the print)
// when the library refuses the encoding.
int32_t struct_size_of(const char *op_name, const void *tlv,
                       const tlvu_table_t *tbl) {
    uint32_t size = 0;
    const uint32_t status =
        tlvu_table_get_struct_size_from_tlv(&size, tlv, 0, tbl);
    if (reported(op_name, status) != TLVU_STATUS_OK) {
        return -1;
    }
    return static_cast<int32_t>(size);
}

} // namespace

#define OSTREL_OP_NAME(short_name, suffix) "ostrel_api_" #short_name #suffix

#define OSTREL_DEFINE_CODEC_FAMILY(short_name)                                 \
    uint32_t ostrel_api_##short_name##_to_struct(                              \
        const void *tlv, uint32_t tlv_len, void *rec, uint32_t rec_size) {     \
        return reported(                                                       \
            OSTREL_OP_NAME(short_name, _to_struct),                            \
            tlvu_table_convert_tlv_to_struct(                                  \
                tlv, tlv_len, rec, &ostrel_api_##short_name##_tbl, rec_size)); \
    }                                                                          \
    uint32_t ostrel_api_##short_name##_to_tlv(                                 \
        const void *rec, uint8_t **tlv_buf, uint32_t *tlv_len,                 \
        uint32_t tlv_flags, uint32_t *err_type, uint32_t max_len) {            \
        return reported(OSTREL_OP_NAME(short_name, _to_tlv),                   \
                        tlvu_table_convert_struct_to_tlv(                      \
                            tlv_buf, tlv_len, &ostrel_api_##short_name##_tbl,  \
                            rec, tlv_flags, err_type, max_len));               \
    }                                                                          \
    uint32_t ostrel_api_##short_name##_get_tlv_sz(const void *rec) {           \
        return tlvu_table_size(&ostrel_api_##short_name##_tbl, rec);           \
    }                                                                          \
    int32_t ostrel_api_##short_name##_get_struct_sz(const void *tlv) {         \
        return struct_size_of(OSTREL_OP_NAME(short_name, _get_struct_sz), tlv, \
                              &ostrel_api_##short_name##_tbl);                 \
    }                                                                          \
    uint32_t ostrel_api_##short_name##_get_field(                              \
        const void *tlv, uint32_t tlv_len, uint32_t tlv_type, void *out,       \
        uint32_t out_size) {                                                   \
        return tlvu_get_field(tlv, tlv_len, tlv_type, out, out_size,           \
                              &ostrel_api_##short_name##_tbl);                 \
    }                                                                          \
    uint32_t ostrel_api_##short_name##_field_itr_init(                         \
        tlvu_field_itr_t *itr, const void *tlv, uint32_t tlv_len,              \
        uint32_t type_filter, uint32_t flags) {                                \
        return tlvu_field_itr_init(itr, tlv, tlv_len,                          \
                                   &ostrel_api_##short_name##_tbl,             \
                                   type_filter, flags);                        \
    }                                                                          \
    uint32_t ostrel_api_##short_name##_field_get_next(                         \
        tlvu_field_itr_t *itr, const tlvu_field_t **field, const void **value, \
        uint32_t *value_len) {                                                 \
        return tlvu_field_itr_get_next(itr, field, value, value_len);          \
    }                                                                          \
    static_assert(true, "requires a semicolon")

OSTREL_DEFINE_CODEC_FAMILY(plcy);
OSTREL_DEFINE_CODEC_FAMILY(dst);
OSTREL_DEFINE_CODEC_FAMILY(ace);
OSTREL_DEFINE_CODEC_FAMILY(plcy_update_req);
OSTREL_DEFINE_CODEC_FAMILY(plcy_update_resp);

/** Number of ACE records behind the fixed part of the policy update request
 *  at rec: its num_aces, as stored. The get_count of the request
 *  descriptor's array entry (TLV 17). */
uint32_t ostrel_api_get_num_aces(const void *rec) {
    return static_cast<const ostrel_api_plcy_update_req_t *>(rec)->num_aces;
}
