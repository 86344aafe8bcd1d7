// Input layout of the frame fuzz targets: socket messages one after
// another, each a 2-byte little-endian length and that many bytes (the
// last one cut short where the input ends). Seeds are written by
// ostrel_make_corpus with frame_input_append.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz_support.h"

namespace ostrel_fuzz {

inline constexpr size_t kMaxMessages = 16;

inline std::vector<Block> split_messages(const uint8_t *data, size_t size) {
    std::vector<Block> out;
    while (size >= 2 && out.size() < kMaxMessages) {
        size_t n = data[0] | (size_t{data[1]} << 8);
        data += 2;
        size -= 2;
        n = n < size ? n : size;
        out.emplace_back(data, n);
        data += n;
        size -= n;
    }
    return out;
}

inline void frame_input_append(std::vector<uint8_t> *input,
                               const std::vector<uint8_t> &message) {
    input->push_back(static_cast<uint8_t>(message.size() & 0xff));
    input->push_back(static_cast<uint8_t>(message.size() >> 8));
    input->insert(input->end(), message.begin(), message.end());
}

} // namespace ostrel_fuzz
