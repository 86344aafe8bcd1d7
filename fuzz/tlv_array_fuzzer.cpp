// Fuzz target for the TLV array reader: tlv_array_get_num_tlvs and
// tlv_array_get_next_tlv on untrusted bytes. A counted array must walk in
// exactly that many steps inside its body, end with "not found", and be
// rebuilt byte for byte by tlv_array_add_tlv into a buffer of its size.
#include "fuzz_support.h"
#include "tlvu.h"

namespace {

using namespace ostrel_fuzz;

void walk_counted(const Block &in, uint32_t n) {
    const uint32_t body = load_be32(in.data());
    OSTREL_FUZZ_CHECK(body <= in.size() - 4);
    Block rebuilt(4 + size_t{body});
    uint32_t cursor = 0;
    uint32_t used = 0;
    for (uint32_t i = 0; i < n; ++i) {
        uint16_t type = 0;
        uint16_t len = 0;
        const uint8_t *value = nullptr;
        OSTREL_FUZZ_CHECK(tlv_array_get_next_tlv(in.data(), &type, &len, &value,
                                                 0, &cursor) == 0);
        OSTREL_FUZZ_CHECK(value == in.data() + 4 + used + 4);
        used += tlv_size_get(len);
        OSTREL_FUZZ_CHECK(used <= body && cursor == used);
        OSTREL_FUZZ_CHECK(tlv_array_add_tlv(rebuilt.data(), rebuilt.size32(),
                                            type, len, value, 0) == 0);
    }
    OSTREL_FUZZ_CHECK(used == body);
    uint16_t type = 0;
    uint16_t len = 0;
    const uint8_t *value = nullptr;
    OSTREL_FUZZ_CHECK(tlv_array_get_next_tlv(in.data(), &type, &len, &value, 0,
                                             &cursor) == TLVU_STATUS_NOT_FOUND);
    OSTREL_FUZZ_CHECK(std::memcmp(rebuilt.data(), in.data(), rebuilt.size()) ==
                      0);
}

// An array the counter refuses may still be walked: every TLV handed out
// must lie inside the length its header claims (and here, inside the input).
void walk_uncounted(const Block &in) {
    const uint32_t body = load_be32(in.data());
    uint32_t cursor = 0;
    for (size_t steps = 0; steps <= body / 4; ++steps) {
        uint16_t type = 0;
        uint16_t len = 0;
        const uint8_t *value = nullptr;
        if (tlv_array_get_next_tlv(in.data(), &type, &len, &value, 0,
                                   &cursor) != 0) {
            return;
        }
        OSTREL_FUZZ_CHECK(value + len <= in.data() + 4 + body);
    }
    fail("walk did not end within the body");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // A length of 0 would mean "trust the header": not an empty input.
    if (size == 0 || size > 0xFFFFFFu) {
        return 0;
    }
    const Block in(data, size);
    const uint32_t n = tlv_array_get_num_tlvs(in.data(), 0, in.size32());
    if (!header_fits(in.data(), in.size())) {
        OSTREL_FUZZ_CHECK(n == 0);
        return 0;
    }
    OSTREL_FUZZ_CHECK(tlv_array_get_num_tlvs(in.data(), 0, 0) == n);
    if (n > 0) {
        walk_counted(in, n);
    } else {
        walk_uncounted(in);
    }
    return 0;
}
