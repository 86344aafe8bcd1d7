// Table-driven encoding: tlvu_table_size and tlvu_table_convert_struct_to_tlv.
//
// An encoding is made in two passes over the record and its descriptor: a
// measuring pass computes the exact size (stopping early once a limit is
// passed), then one buffer of exactly that size is allocated and a writing
// pass fills it. The writer checks every write against the buffer's
// capacity anyway, so callbacks that answer differently in the two passes
// are reported (TLVU_STATUS_BAD_TABLE) instead of overrunning the buffer.
// The record is trusted: it is the caller's memory, described by a
// descriptor compiled into the program.
#include <cstdlib>
#include <cstring>
#include <memory>

#include "ostrelapi.hpp"
#include "tlv/tlv_table.h"
#include "tlv/tlv_wire.h"
#include "tlvu.h"

namespace ostrel::tlv {
namespace {

using MallocBuffer = std::unique_ptr<uint8_t, free_deleter>;

const uint8_t *bytes_of(const void *rec) {
    return static_cast<const uint8_t *>(rec);
}

// ---- measuring pass ----

struct Measure {
    uint64_t limit;       // bytes the whole encoding may take
    uint32_t over_status; // status once the limit is passed
    uint32_t *err_type;   // type of the field that failed, may be null
    uint64_t total = 0;   // bytes counted so far, whole encoding

    // Blames f for status unless a field inside f was blamed already.
    [[nodiscard]] uint32_t fail(const tlvu_field_t &f, uint32_t status) {
        if (err_type != nullptr && *err_type == 0) {
            *err_type = f.tlv_type;
        }
        return status;
    }
    // Counts n more bytes; false once the limit is passed.
    [[nodiscard]] bool add(uint64_t n) {
        total += n;
        return total <= limit;
    }
};

uint32_t measure_record(Measure &m, const tlvu_table_t *tbl, const uint8_t *rec,
                        uint64_t *size);

// Counts one TLV whose value is a nested array measured by `measure_value`.
template <typename F>
uint32_t measure_nested(Measure &m, const tlvu_field_t &f, F &&measure_value) {
    if (!m.add(kTlvHeaderSize)) {
        return m.fail(f, m.over_status);
    }
    uint64_t value_size = 0;
    const uint32_t status = measure_value(&value_size);
    if (status != TLVU_STATUS_OK) {
        return m.fail(f, status);
    }
    if (value_size > kMaxValueLen) {
        return m.fail(f, TLVU_STATUS_TOO_LARGE);
    }
    return TLVU_STATUS_OK;
}

uint32_t measure_field(Measure &m, const tlvu_field_t &f, const uint8_t *rec) {
    switch (f.kind) {
    case TLVU_KIND_PLAIN:
        if (f.sub_table == nullptr) {
            return m.add(kTlvHeaderSize + uint64_t{f.size})
                       ? TLVU_STATUS_OK
                       : m.fail(f, m.over_status);
        }
        return measure_nested(m, f, [&](uint64_t *size) {
            return measure_record(m, f.sub_table, rec + f.offset, size);
        });
    case TLVU_KIND_CUSTOM:
        return measure_nested(m, f, [&](uint64_t *size) {
            *size = f.get_tlv_data_sz(rec);
            if (*size < kArrayHeaderSize) {
                return m.fail(f, TLVU_STATUS_BAD_TABLE);
            }
            return m.add(*size) ? TLVU_STATUS_OK : m.fail(f, m.over_status);
        });
    case TLVU_KIND_ARRAY: {
        const uint32_t count = f.get_count(rec);
        for (uint32_t i = 0; i < count; ++i) {
            const uint8_t *element = rec + f.offset + uint64_t{i} * f.size;
            const uint32_t status = measure_nested(m, f, [&](uint64_t *size) {
                return measure_record(m, f.sub_table, element, size);
            });
            if (status != TLVU_STATUS_OK) {
                return status;
            }
        }
        return TLVU_STATUS_OK;
    }
    default:
        return m.fail(f, TLVU_STATUS_BAD_TABLE); // refused by validate_table
    }
}

// Size of the array encoding the record at rec, header included, in *size;
// the bytes are also counted in m.total.
uint32_t measure_record(Measure &m, const tlvu_table_t *tbl, const uint8_t *rec,
                        uint64_t *size) {
    const uint64_t start = m.total;
    if (!m.add(kArrayHeaderSize)) {
        return m.over_status;
    }
    for (const tlvu_field_t *f = fields_of(tbl); !is_end(*f); ++f) {
        const uint32_t status = measure_field(m, *f, rec);
        if (status != TLVU_STATUS_OK) {
            return status;
        }
    }
    *size = m.total - start;
    return TLVU_STATUS_OK;
}

// ---- writing pass ----

struct Writer {
    uint8_t *buf;
    uint32_t cap;
    uint32_t *err_type;
    uint32_t pos = 0;

    // Blames f for status unless a field inside f was blamed already.
    [[nodiscard]] uint32_t fail(const tlvu_field_t &f, uint32_t status) {
        if (err_type != nullptr && *err_type == 0) {
            *err_type = f.tlv_type;
        }
        return status;
    }
    // Reserves n bytes at the write position; null when they do not fit.
    [[nodiscard]] uint8_t *reserve(uint32_t n) {
        if (n > cap - pos) {
            return nullptr;
        }
        uint8_t *p = buf + pos;
        pos += n;
        return p;
    }
};

uint32_t write_record(Writer &w, const tlvu_table_t *tbl, const uint8_t *rec);

// Writes one TLV of type f.tlv_type whose value `write_value` writes, then
// fills in the value length from what was written.
template <typename F>
uint32_t write_tlv(Writer &w, const tlvu_field_t &f, F &&write_value) {
    const uint32_t header_at = w.pos;
    if (w.reserve(kTlvHeaderSize) == nullptr) {
        return w.fail(f, TLVU_STATUS_BAD_TABLE);
    }
    const uint32_t status = write_value();
    if (status != TLVU_STATUS_OK) {
        return w.fail(f, status);
    }
    const uint32_t value_len = w.pos - header_at - kTlvHeaderSize;
    if (value_len > kMaxValueLen) {
        return w.fail(f, TLVU_STATUS_TOO_LARGE);
    }
    store_tlv_header(w.buf + header_at, f.tlv_type, value_len);
    return TLVU_STATUS_OK;
}

uint32_t write_bytes(Writer &w, const tlvu_field_t &f, const void *src,
                     uint32_t n) {
    uint8_t *p = w.reserve(n);
    if (p == nullptr) {
        return w.fail(f, TLVU_STATUS_BAD_TABLE);
    }
    if (n != 0) {
        std::memcpy(p, src, n);
    }
    return TLVU_STATUS_OK;
}

// The custom encoder of f makes its array; it is copied in as the value and
// released (when handed over) on every path.
uint32_t write_custom(Writer &w, const tlvu_field_t &f, const uint8_t *rec) {
    uint8_t *sub = nullptr;
    uint32_t sub_len = 0;
    uint32_t owned = 0;
    const uint32_t status = f.struct_to_tlv(rec, 0, &sub, &sub_len, &owned);
    MallocBuffer release(owned != 0 ? sub : nullptr);
    if (status != TLVU_STATUS_OK) {
        return w.fail(f, status);
    }
    if ((sub == nullptr && sub_len != 0) || sub_len != f.get_tlv_data_sz(rec)) {
        return w.fail(f, TLVU_STATUS_BAD_TABLE); // disagrees with its size
    }
    return write_bytes(w, f, sub, sub_len);
}

uint32_t write_field(Writer &w, const tlvu_field_t &f, const uint8_t *rec) {
    switch (f.kind) {
    case TLVU_KIND_PLAIN:
        return write_tlv(w, f, [&] {
            return f.sub_table == nullptr
                       ? write_bytes(w, f, rec + f.offset, f.size)
                       : write_record(w, f.sub_table, rec + f.offset);
        });
    case TLVU_KIND_CUSTOM:
        return write_tlv(w, f, [&] { return write_custom(w, f, rec); });
    case TLVU_KIND_ARRAY: {
        const uint32_t count = f.get_count(rec);
        for (uint32_t i = 0; i < count; ++i) {
            const uint8_t *element = rec + f.offset + uint64_t{i} * f.size;
            const uint32_t status = write_tlv(
                w, f, [&] { return write_record(w, f.sub_table, element); });
            if (status != TLVU_STATUS_OK) {
                return status;
            }
        }
        return TLVU_STATUS_OK;
    }
    default:
        return w.fail(f, TLVU_STATUS_BAD_TABLE);
    }
}

// Writes the array encoding the record at rec: header, then one TLV per
// field (per element for arrays) in table order.
uint32_t write_record(Writer &w, const tlvu_table_t *tbl, const uint8_t *rec) {
    const uint32_t header_at = w.pos;
    if (w.reserve(kArrayHeaderSize) == nullptr) {
        return TLVU_STATUS_BAD_TABLE;
    }
    for (const tlvu_field_t *f = fields_of(tbl); !is_end(*f); ++f) {
        const uint32_t status = write_field(w, *f, rec);
        if (status != TLVU_STATUS_OK) {
            return status;
        }
    }
    store_be32(w.buf + header_at, w.pos - header_at - kArrayHeaderSize);
    return TLVU_STATUS_OK;
}

// Measures the encoding of rec against `limit`.
uint32_t measure(const tlvu_table_t *tbl, const void *rec, uint64_t limit,
                 uint32_t over_status, uint32_t *err_type, uint32_t *size) {
    Measure m{limit, over_status, err_type};
    uint64_t total = 0;
    const uint32_t status = measure_record(m, tbl, bytes_of(rec), &total);
    if (status == TLVU_STATUS_OK) {
        *size = static_cast<uint32_t>(total); // total <= limit <= UINT32_MAX
    }
    return status;
}

} // namespace
} // namespace ostrel::tlv

using namespace ostrel::tlv;

/** Exact size in bytes of the encoding tlvu_table_convert_struct_to_tlv
 *  makes of rec (custom fields counted with their get_tlv_data_sz). 0 when
 *  tbl or rec is null, the descriptor cannot be run, or the encoding could
 *  not be made (a value over 0xFFFF bytes, a size over 0xFFFFFFFF); every
 *  encoding has at least its 4-byte header, so 0 is never a size. */
uint32_t tlvu_table_size(const tlvu_table_t *tbl, const void *rec) {
    if (rec == nullptr || validate_table(tbl) != TLVU_STATUS_OK) {
        return 0;
    }
    uint32_t size = 0;
    if (measure(tbl, rec, UINT32_MAX, TLVU_STATUS_TOO_LARGE, nullptr, &size) !=
        TLVU_STATUS_OK) {
        return 0;
    }
    return size;
}

/** Encodes the record at rec as described by tbl into one new buffer from
 *  malloc, of exactly tlvu_table_size bytes, handed to the caller (release
 *  it with free) through *tlv_buf and *tlv_len. tlv_flags must be 0 (the
 *  custom encoders are handed 0). max_len: 0 for no limit, else the most
 *  bytes the encoding may take. err_type, when not null, receives 0 on
 *  success and the TLV type of the field that failed otherwise (the
 *  innermost one for a field of a nested record or array element; 0 when
 *  no field is to blame).
 *  Statuses: TLVU_STATUS_BAD_ARG (null tlv_buf, tlv_len, tbl or rec;
 *  nonzero tlv_flags), TLVU_STATUS_BAD_TABLE, TLVU_STATUS_TOO_SMALL (longer
 *  than max_len), TLVU_STATUS_TOO_LARGE, TLVU_STATUS_NO_MEMORY, or a custom
 *  encoder's own nonzero status unchanged. On failure *tlv_buf and
 *  *tlv_len are not written and nothing stays allocated. */
uint32_t tlvu_table_convert_struct_to_tlv(uint8_t **tlv_buf, uint32_t *tlv_len,
                                          const tlvu_table_t *tbl,
                                          const void *rec, uint32_t tlv_flags,
                                          uint32_t *err_type,
                                          uint32_t max_len) {
    if (err_type != nullptr) {
        *err_type = 0;
    }
    if (tlv_buf == nullptr || tlv_len == nullptr || rec == nullptr ||
        tbl == nullptr || tlv_flags != 0) {
        return TLVU_STATUS_BAD_ARG;
    }
    uint32_t status = validate_table(tbl);
    if (status != TLVU_STATUS_OK) {
        return status;
    }
    uint32_t size = 0;
    status = max_len != 0 ? measure(tbl, rec, max_len, TLVU_STATUS_TOO_SMALL,
                                    err_type, &size)
                          : measure(tbl, rec, UINT32_MAX, TLVU_STATUS_TOO_LARGE,
                                    err_type, &size);
    if (status != TLVU_STATUS_OK) {
        return status;
    }
    MallocBuffer buf(static_cast<uint8_t *>(std::malloc(size)));
    if (!buf) {
        return TLVU_STATUS_NO_MEMORY;
    }
    // Not zeroed: a successful writing pass writes every byte (w.pos must
    // reach size), and a failed one frees the buffer.
    Writer w{buf.get(), size, err_type};
    status = write_record(w, tbl, bytes_of(rec));
    if (status == TLVU_STATUS_OK && w.pos != size) {
        status = TLVU_STATUS_BAD_TABLE; // callbacks changed their answers
    }
    if (status != TLVU_STATUS_OK) {
        return status;
    }
    *tlv_len = size;
    *tlv_buf = buf.release();
    return TLVU_STATUS_OK;
}
