// Fuzz target for the ACE filter and action decoders: the input is the
// TLV array they are handed. Each decoder may write only its own part's
// fields and set only its own presence bits; padding, the other part and
// every other flag bit keep their bytes.
#include "fuzz_support.h"
#include "ostrelapi.h"

namespace {

using namespace ostrel_fuzz;

constexpr int kPattern = 0xA5;
constexpr size_t kActnAt = offsetof(ostrel_api_ace_t, actn);

bool untouched(const Block &rec, size_t from, size_t to) {
    for (size_t i = from; i < to; ++i) {
        if (rec.data()[i] != kPattern) {
            return false;
        }
    }
    return true;
}

uint64_t flags_at(const Block &rec, size_t off) {
    uint64_t v;
    std::memcpy(&v, rec.data() + off, sizeof v);
    return v;
}

void filter(const Block &in, uint32_t arr_len) {
    Block rec(sizeof(ostrel_api_ace_t), kPattern);
    const uint64_t before =
        flags_at(rec, offsetof(ostrel_api_ace_fltr_t, fltr_flags));
    OSTREL_FUZZ_CHECK(ostrel_api_ace_fltr_tlv_to_struct(rec.data(), in.data(),
                                                        arr_len, 0) == 0);
    OSTREL_FUZZ_CHECK(
        untouched(rec, offsetof(ostrel_api_ace_fltr_t, fltr_pad4), 8));
    OSTREL_FUZZ_CHECK(untouched(rec,
                                offsetof(ostrel_api_ace_fltr_t, fltr_pad42),
                                sizeof(ostrel_api_ace_t)));
    const uint64_t after =
        flags_at(rec, offsetof(ostrel_api_ace_fltr_t, fltr_flags));
    const uint64_t mask = OSTREL_FLTR_FLAG_PRESENT;
    OSTREL_FUZZ_CHECK((after & ~mask) == (before & ~mask));
}

void action(const Block &in, uint32_t arr_len) {
    Block rec(sizeof(ostrel_api_ace_t), kPattern);
    const uint64_t mask = OSTREL_ACTN_FLAG_TLV10 | OSTREL_ACTN_FLAG_TLV11;
    const uint64_t before = flags_at(rec, kActnAt);
    OSTREL_FUZZ_CHECK(ostrel_api_ace_actn_tlv_to_struct(rec.data(), in.data(),
                                                        arr_len, 0) == 0);
    OSTREL_FUZZ_CHECK(untouched(rec, 0, kActnAt));
    OSTREL_FUZZ_CHECK((flags_at(rec, kActnAt) & ~mask) == (before & ~mask));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // A length of 0 would mean "trust the header": not an empty input.
    if (size == 0 || size > 0xFFFFFFu) {
        return 0;
    }
    const Block in(data, size);
    filter(in, in.size32());
    action(in, in.size32());
    if (header_fits(in.data(), in.size())) {
        // A length of 0 trusts the header, which fits here.
        filter(in, 0);
        action(in, 0);
    }
    return 0;
}
