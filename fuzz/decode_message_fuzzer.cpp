// Fuzz target for the tools' wire decoder: the bytes of one message as the
// ACL service receives it. A message the reader accepts as a batch must
// account for every byte (head, then requests of 24 + 64 * num_aces bytes)
// and be classified as a batch; every refusal carries a reason.
#include "fuzz_support.h"
#include "wire_decode.h"

namespace {

using namespace ostrel_fuzz;
using namespace ostrel::tools;

void check_batch(const Block &in) {
    Batch batch;
    std::string err;
    if (!read_batch(in.data(), in.size(), &batch, &err)) {
        OSTREL_FUZZ_CHECK(!err.empty());
        return;
    }
    size_t used = 8;
    for (const Request &r : batch.requests) {
        OSTREL_FUZZ_CHECK(r.aces.size() == r.num_aces);
        used += 24 + 64 * size_t{r.num_aces};
    }
    OSTREL_FUZZ_CHECK(used == in.size() && in.size() <= kMaxBatchSize);
    OSTREL_FUZZ_CHECK(classify(in.data(), in.size()) == MessageKind::Batch);
}

void decode(bool (*decoder)(const uint8_t *, size_t, std::string *,
                            std::string *),
            const Block &in) {
    std::string out;
    std::string err;
    OSTREL_FUZZ_CHECK(decoder(in.data(), in.size(), &out, &err) ||
                      !err.empty());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > 0xFFFFFFu) {
        return 0;
    }
    const Block in(data, size);
    check_batch(in);
    decode(decode_batch, in);
    decode(decode_plcy_update, in);
    decode(decode_message, in);
    return 0;
}
