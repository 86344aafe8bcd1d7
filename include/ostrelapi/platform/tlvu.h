/*
 * TLV utility library: TLV array operations and the table-driven
 * operations that run the codec descriptors. Supplied by the platform (our
 * stand-in lives in src/platform/tlv) at link time. Wire format:
 * docs/tlv-wire-format.md.
 */
#ifndef OSTREL_PLATFORM_TLVU_H
#define OSTREL_PLATFORM_TLVU_H

#include "ostrelapi.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Statuses of the TLV utility library (passed through by the codecs). */
#define TLVU_STATUS_OK 0u
#define TLVU_STATUS_BAD_ARG 0x41050001u   /* null pointer or bad flags */
#define TLVU_STATUS_MALFORMED 0x41050002u /* bytes are not a valid array */
#define TLVU_STATUS_TOO_SMALL 0x41050003u /* output does not fit */
#define TLVU_STATUS_NO_MEMORY 0x41050004u /* allocation failed */
#define TLVU_STATUS_NOT_FOUND 0x41050005u /* no such field / end of fields */
#define TLVU_STATUS_BAD_TABLE 0x41050006u /* descriptor cannot be run */
#define TLVU_STATUS_TOO_LARGE 0x41050007u /* a value over 0xFFFF bytes, or a
                                             size over 0xFFFFFFFF */

/* ---- TLV arrays ---- */

/** Bytes one TLV with a value of value_len bytes occupies in an array. */
uint32_t tlv_size_get(uint32_t value_len);
/** Appends one TLV behind those already in the array at buf, whose
 *  capacity is buf_size bytes (array header included). Refuses, changing
 *  nothing, when the TLV does not fit or the array is malformed. */
uint32_t tlv_array_add_tlv(uint8_t *buf, uint32_t buf_size, uint32_t tlv_type,
                           uint32_t value_len, const void *value,
                           uint32_t flags);
/** Number of TLVs in the array. arr_len is the number of readable bytes at
 *  arr (0: trust the array header); an array that is malformed or longer
 *  than arr_len counts 0 TLVs. */
uint32_t tlv_array_get_num_tlvs(const uint8_t *arr, uint32_t flags,
                                uint32_t arr_len);
/** Reads the TLV at byte offset *cursor of the array body (0 before the
 *  first call), stores its type, value length and value address, and
 *  advances *cursor. Never reads past the length in the array header;
 *  TLVU_STATUS_NOT_FOUND at the end, TLVU_STATUS_MALFORMED for a TLV that
 *  runs past it. */
uint32_t tlv_array_get_next_tlv(const uint8_t *arr, uint16_t *tlv_type,
                                uint16_t *value_len, const uint8_t **value,
                                uint32_t flags, uint32_t *cursor);

/* ---- Table operations ----
 * tbl: a descriptor header followed by its entries; a broken one is refused
 * with TLVU_STATUS_BAD_TABLE. tlv_len: readable bytes of an encoding (0:
 * trust its header). Flags words must be 0. Details and the statuses of
 * each: docs/tlv-wire-format.md. */

/** Decodes an encoding into rec (rec_size writable bytes, 0: struct_size).
 *  Writes only the fields present, never outside rec_size; input refused
 *  by the checks before writing leaves rec unchanged. */
uint32_t tlvu_table_convert_tlv_to_struct(const void *tlv, uint32_t tlv_len,
                                          void *rec, const tlvu_table_t *tbl,
                                          uint32_t rec_size);
/** Encodes rec into one new malloc'ed buffer, the caller's to free.
 *  max_len: 0 or the most bytes allowed. *err_type (optional): 0, or the
 *  TLV type of the field that failed. On failure nothing is handed out. */
uint32_t tlvu_table_convert_struct_to_tlv(uint8_t **tlv_buf, uint32_t *tlv_len,
                                          const tlvu_table_t *tbl,
                                          const void *rec, uint32_t tlv_flags,
                                          uint32_t *err_type, uint32_t max_len);
/** Exact size of rec's encoding; 0 when it cannot be encoded. */
uint32_t tlvu_table_size(const tlvu_table_t *tbl, const void *rec);
/** Bytes the decoded record needs: struct_size + one element per array
 *  TLV (a request: 24 + 64 x ACE TLVs). */
uint32_t tlvu_table_get_struct_size_from_tlv(uint32_t *size_out,
                                             const void *tlv, uint32_t tlv_len,
                                             const tlvu_table_t *tbl);
/** Copies the value of the first top-level TLV of tlv_type (raw nested
 *  array for nested, custom and array fields); TLVU_STATUS_NOT_FOUND when
 *  absent or not a field of tbl. */
uint32_t tlvu_get_field(const void *tlv, uint32_t tlv_len, uint32_t tlv_type,
                        void *out, uint32_t out_size, const tlvu_table_t *tbl);
/** Validates the top-level array and sets up itr over it (type_filter 0:
 *  every TLV); a non-null itr is left exhausted on failure. */
uint32_t tlvu_field_itr_init(tlvu_field_itr_t *itr, const void *tlv,
                             uint32_t tlv_len, const tlvu_table_t *tbl,
                             uint32_t type_filter, uint32_t flags);
/** Next top-level TLV with its table entry (null for an unknown type);
 *  TLVU_STATUS_NOT_FOUND at the end. */
uint32_t tlvu_field_itr_get_next(tlvu_field_itr_t *itr,
                                 const tlvu_field_t **field,
                                 const void **value, uint32_t *value_len);
/** printf-style output to stderr. */
void tlvu_error_print(const char *fmt, ...)
    __attribute__((format(printf, 1, 2)));

#ifdef __cplusplus
}
#endif

#endif
