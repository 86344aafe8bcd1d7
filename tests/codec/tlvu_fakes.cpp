// Recording fakes of the TLV utility library (see tlvu_fakes.h). Each
// __wrap_X replaces X for the whole binary.
#include "tlvu_fakes.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace fake {

State &state() {
    static State s;
    return s;
}

void reset() {
    state() = State{};
}

namespace {

uintptr_t word(const void *p) {
    return reinterpret_cast<uintptr_t>(p);
}

uint32_t table_call(const char *op, std::vector<uintptr_t> args) {
    state().table_calls.push_back({op, std::move(args)});
    return state().table_result;
}

} // namespace
} // namespace fake

using fake::state;
using fake::word;

extern "C" {

uint32_t __wrap_tlv_size_get(uint32_t value_len);
uint32_t __wrap_tlv_array_add_tlv(uint8_t *buf, uint32_t buf_size,
                                  uint32_t tlv_type, uint32_t value_len,
                                  const void *value, uint32_t flags);
uint32_t __wrap_tlv_array_get_num_tlvs(const uint8_t *arr, uint32_t flags,
                                       uint32_t arr_len);
uint32_t __wrap_tlv_array_get_next_tlv(const uint8_t *arr, uint16_t *tlv_type,
                                       uint16_t *value_len,
                                       const uint8_t **value, uint32_t flags,
                                       uint32_t *cursor);
uint32_t __wrap_tlvu_table_convert_tlv_to_struct(const void *tlv,
                                                 uint32_t tlv_len, void *rec,
                                                 const tlvu_table_t *tbl,
                                                 uint32_t rec_size);
uint32_t __wrap_tlvu_table_convert_struct_to_tlv(
    uint8_t **tlv_buf, uint32_t *tlv_len, const tlvu_table_t *tbl,
    const void *rec, uint32_t tlv_flags, uint32_t *err_type, uint32_t max_len);
uint32_t __wrap_tlvu_table_size(const tlvu_table_t *tbl, const void *rec);
uint32_t __wrap_tlvu_table_get_struct_size_from_tlv(uint32_t *size_out,
                                                    const void *tlv,
                                                    uint32_t tlv_len,
                                                    const tlvu_table_t *tbl);
uint32_t __wrap_tlvu_get_field(const void *tlv, uint32_t tlv_len,
                               uint32_t tlv_type, void *out, uint32_t out_size,
                               const tlvu_table_t *tbl);
uint32_t __wrap_tlvu_field_itr_init(tlvu_field_itr_t *itr, const void *tlv,
                                    uint32_t tlv_len, const tlvu_table_t *tbl,
                                    uint32_t type_filter, uint32_t flags);
uint32_t __wrap_tlvu_field_itr_get_next(tlvu_field_itr_t *itr,
                                        const tlvu_field_t **field,
                                        const void **value,
                                        uint32_t *value_len);
void __wrap_tlvu_error_print(const char *fmt, ...);

uint32_t __wrap_tlv_size_get(uint32_t value_len) {
    state().size_gets.push_back(value_len);
    return fake::kSizeBase + value_len;
}

uint32_t __wrap_tlv_array_add_tlv(uint8_t *buf, uint32_t buf_size,
                                  uint32_t tlv_type, uint32_t value_len,
                                  const void *value, uint32_t flags) {
    fake::AddTlv a{buf, buf_size, tlv_type, value_len, value, {}, flags, true};
    const auto *v = static_cast<const uint8_t *>(value);
    a.value_bytes.assign(v, v + value_len);
    if (state().adds.empty()) {
        for (uint32_t i = 0; i < buf_size; ++i) {
            a.buf_was_zero = a.buf_was_zero && buf[i] == 0;
        }
    }
    state().adds.push_back(std::move(a));
    return 0;
}

uint32_t __wrap_tlv_array_get_num_tlvs(const uint8_t *arr, uint32_t flags,
                                       uint32_t arr_len) {
    state().nums.push_back({arr, flags, arr_len});
    return state().num_result;
}

uint32_t __wrap_tlv_array_get_next_tlv(const uint8_t *arr, uint16_t *tlv_type,
                                       uint16_t *value_len,
                                       const uint8_t **value, uint32_t flags,
                                       uint32_t *cursor) {
    state().nexts.push_back(
        {arr, tlv_type, value_len, value, flags, cursor, *cursor, *value});
    if (state().script.empty()) {
        return TLVU_STATUS_NOT_FOUND;
    }
    fake::ScriptedTlv s = state().script.front();
    state().script.pop_front();
    if (s.store) {
        *tlv_type = s.type;
        *value_len = s.value_len;
        *value = s.value;
        *cursor += s.advance;
    }
    return s.result;
}

uint32_t __wrap_tlvu_table_convert_tlv_to_struct(const void *tlv,
                                                 uint32_t tlv_len, void *rec,
                                                 const tlvu_table_t *tbl,
                                                 uint32_t rec_size) {
    return fake::table_call(
        "convert_tlv_to_struct",
        {word(tlv), tlv_len, word(rec), word(tbl), rec_size});
}

uint32_t __wrap_tlvu_table_convert_struct_to_tlv(
    uint8_t **tlv_buf, uint32_t *tlv_len, const tlvu_table_t *tbl,
    const void *rec, uint32_t tlv_flags, uint32_t *err_type, uint32_t max_len) {
    state().tlv_buf_in = tlv_buf != nullptr ? *tlv_buf : nullptr;
    state().tlv_len_in = tlv_len != nullptr ? *tlv_len : 0xffffffff;
    state().err_type_in = err_type != nullptr ? *err_type : 0xffffffff;
    const uint32_t status =
        fake::table_call("convert_struct_to_tlv",
                         {word(tlv_buf), word(tlv_len), word(tbl), word(rec),
                          tlv_flags, word(err_type), max_len});
    if (status == 0 && tlv_buf != nullptr && tlv_len != nullptr) {
        const std::vector<uint8_t> &e = state().encoding;
        auto *buf = static_cast<uint8_t *>(std::malloc(e.size() + 1));
        if (!e.empty()) {
            std::memcpy(buf, e.data(), e.size());
        }
        *tlv_buf = buf;
        *tlv_len = static_cast<uint32_t>(e.size());
    }
    return status;
}

uint32_t __wrap_tlvu_table_size(const tlvu_table_t *tbl, const void *rec) {
    return fake::table_call("table_size", {word(tbl), word(rec)});
}

uint32_t __wrap_tlvu_table_get_struct_size_from_tlv(uint32_t *size_out,
                                                    const void *tlv,
                                                    uint32_t tlv_len,
                                                    const tlvu_table_t *tbl) {
    state().size_out_in = size_out != nullptr ? *size_out : 0xffffffff;
    const uint32_t status =
        fake::table_call("get_struct_size_from_tlv",
                         {word(size_out), word(tlv), tlv_len, word(tbl)});
    if (status == 0 && size_out != nullptr) {
        *size_out = state().struct_size;
    }
    return status;
}

uint32_t __wrap_tlvu_get_field(const void *tlv, uint32_t tlv_len,
                               uint32_t tlv_type, void *out, uint32_t out_size,
                               const tlvu_table_t *tbl) {
    return fake::table_call("get_field", {word(tlv), tlv_len, tlv_type,
                                          word(out), out_size, word(tbl)});
}

uint32_t __wrap_tlvu_field_itr_init(tlvu_field_itr_t *itr, const void *tlv,
                                    uint32_t tlv_len, const tlvu_table_t *tbl,
                                    uint32_t type_filter, uint32_t flags) {
    return fake::table_call("field_itr_init", {word(itr), word(tlv), tlv_len,
                                               word(tbl), type_filter, flags});
}

uint32_t __wrap_tlvu_field_itr_get_next(tlvu_field_itr_t *itr,
                                        const tlvu_field_t **field,
                                        const void **value,
                                        uint32_t *value_len) {
    return fake::table_call(
        "field_itr_get_next",
        {word(itr), word(field), word(value), word(value_len)});
}

void __wrap_tlvu_error_print(const char *fmt, ...) {
    char text[256];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(text, sizeof text, fmt, ap);
    va_end(ap);
    state().error_formats.emplace_back(fmt);
    state().error_texts.emplace_back(text);
}

} // extern "C"
