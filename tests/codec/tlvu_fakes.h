// Recording fakes of the TLV utility library, linked in place of it with
// -Wl,--wrap=<call> for every one of its calls: what the codecs pass to the
// library, in which order, and how they treat its results, independent of
// how our TLV library works.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "tlvu.h"

namespace fake {

// tlv_size_get(n) answers kSizeBase + n, so a size that was not computed
// through it shows.
constexpr uint32_t kSizeBase = 1000;

struct AddTlv {
    uint8_t *buf;
    uint32_t buf_size;
    uint32_t type;
    uint32_t value_len;
    const void *value;
    std::vector<uint8_t> value_bytes; // copied at the call
    uint32_t flags;
    bool buf_was_zero; // every byte of the buffer was 0 at the first call
};

struct NumTlvs {
    const uint8_t *arr;
    uint32_t flags;
    uint32_t arr_len;
};

struct NextTlv {
    const uint8_t *arr;
    uint16_t *type;
    uint16_t *value_len;
    const uint8_t **value;
    uint32_t flags;
    uint32_t *cursor;
    uint32_t cursor_in;      // *cursor at the call
    const uint8_t *value_in; // *value at the call
};

// What the next tlv_array_get_next_tlv reports: it stores type, length and
// value (unless `store` is false), adds `advance` to the cursor and returns
// `result`.
struct ScriptedTlv {
    uint16_t type;
    uint16_t value_len;
    const uint8_t *value;
    uint32_t result = 0;
    bool store = true;
    uint32_t advance = 4;
};

// One call of a table operation, its arguments as words.
struct TableCall {
    std::string op;
    std::vector<uintptr_t> args;
};

struct State {
    std::vector<uint32_t> size_gets;
    std::vector<AddTlv> adds;
    std::vector<NumTlvs> nums;
    uint32_t num_result = 0;
    std::vector<NextTlv> nexts;
    std::deque<ScriptedTlv> script;
    std::vector<TableCall> table_calls;
    // Result of the next table operation (all of them).
    uint32_t table_result = 0;
    // convert_struct_to_tlv on success: bytes handed out in a malloc'ed
    // buffer through tlv_buf/tlv_len.
    std::vector<uint8_t> encoding;
    // get_struct_size_from_tlv on success: stored through size_out.
    uint32_t struct_size = 0;
    // Inputs seen by convert_struct_to_tlv: *tlv_buf, *tlv_len, *err_type.
    const uint8_t *tlv_buf_in = nullptr;
    uint32_t tlv_len_in = 0xffffffff;
    uint32_t err_type_in = 0xffffffff;
    uint32_t size_out_in = 0xffffffff;
    std::vector<std::string> error_formats;
    std::vector<std::string> error_texts;
};

State &state();
void reset();

} // namespace fake
