// Programming batch validation: the 8-byte head, then every request's
// 24-byte head and records, each length checked against the bytes left
// before anything is read.
#include <cstring>

#include "wire_decode.h"

namespace ostrel::tools {

namespace {

constexpr size_t kHeadSize = 8;
constexpr size_t kRequestHeadSize = 24;
constexpr size_t kRecordSize = sizeof(ostrel_api_ace_t);
static_assert(kRecordSize == 64, "an ACE record is 64 bytes");

template <typename T> T load(const uint8_t *p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

bool fail(std::string *err, std::string text) {
    if (err != nullptr)
        *err = std::move(text);
    return false;
}

// Reads the request at `at`, whose head is known to fit; false when its
// records run past `n`. *size gets the request's size.
bool read_request(const uint8_t *bytes, size_t at, size_t n, Request *out,
                  size_t *size) {
    const uint8_t *p = bytes + at;
    out->plcy_op = load<uint32_t>(p + 0);
    out->plcy_tlv2 = load<uint32_t>(p + 4);
    out->dst_tlv4 = load<uint32_t>(p + 8);
    out->dst_tlv5 = load<uint16_t>(p + 12);
    out->vlan = load<uint16_t>(p + 14);
    out->if_index = load<uint32_t>(p + 16);
    out->num_aces = load<uint32_t>(p + 20);
    size_t room = (n - at - kRequestHeadSize) / kRecordSize;
    if (out->num_aces > room)
        return false;
    *size = kRequestHeadSize + kRecordSize * out->num_aces;
    out->aces.resize(out->num_aces);
    if (out->num_aces > 0)
        std::memcpy(out->aces.data(), p + kRequestHeadSize,
                    kRecordSize * out->num_aces);
    return true;
}

} // namespace

bool read_batch(const uint8_t *bytes, size_t n, Batch *out, std::string *err) {
    if (bytes == nullptr || n < kHeadSize)
        return fail(err, "batch of " + std::to_string(n) +
                             " bytes is shorter than its 8-byte head");
    if (n > kMaxBatchSize)
        return fail(err, "batch of " + std::to_string(n) +
                             " bytes is longer than the " +
                             std::to_string(kMaxBatchSize) + "-byte block");
    Batch batch;
    batch.word0 = load<uint32_t>(bytes);
    if (batch.word0 > 1)
        return fail(err, "batch word 0 is " + std::to_string(batch.word0) +
                             ", not 0 or 1");
    uint32_t count = load<uint32_t>(bytes + 4);
    // Every request takes at least its head, so a count beyond that is
    // refused before anything is reserved for it.
    if (count > (n - kHeadSize) / kRequestHeadSize)
        return fail(err, "batch claims " + std::to_string(count) +
                             " requests, more than " + std::to_string(n) +
                             " bytes can hold");
    size_t at = kHeadSize;
    batch.requests.resize(count);
    for (uint32_t i = 0; i < count; ++i) {
        std::string which =
            "request " + std::to_string(i + 1) + " of " + std::to_string(count);
        if (n - at < kRequestHeadSize)
            return fail(err, which + " at offset " + std::to_string(at) +
                                 ": head runs past the end of the batch");
        size_t size = 0;
        if (!read_request(bytes, at, n, &batch.requests[i], &size))
            return fail(err, which + " at offset " + std::to_string(at) + ": " +
                                 std::to_string(batch.requests[i].num_aces) +
                                 " records run past the end of the batch");
        at += size;
    }
    if (at != n)
        return fail(err, std::to_string(n - at) +
                             " bytes follow the last request of the batch");
    if (out != nullptr)
        *out = std::move(batch);
    return true;
}

} // namespace ostrel::tools
