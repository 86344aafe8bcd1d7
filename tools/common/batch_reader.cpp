// Programming batch validation: the 8-byte head, then every request's
// 24-byte head and records, each length checked against the bytes left
// before anything is read.
#include <cstring>
#include <iterator>

#include "counted.h"
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

// Walks n packed 64-byte records, loading each (the bytes need not be
// aligned), so that a vector is filled in one pass without zeroing first.
class RecordReader {
  public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = ostrel_api_ace_t;
    using difference_type = std::ptrdiff_t;
    using pointer = const ostrel_api_ace_t *;
    using reference = ostrel_api_ace_t;

    explicit RecordReader(const uint8_t *at) : at_(at) {}
    ostrel_api_ace_t operator*() const { return load<ostrel_api_ace_t>(at_); }
    RecordReader &operator++() {
        at_ += kRecordSize;
        return *this;
    }
    RecordReader operator++(int) {
        RecordReader before = *this;
        at_ += kRecordSize;
        return before;
    }
    bool operator==(const RecordReader &o) const { return at_ == o.at_; }

  private:
    const uint8_t *at_;
};

bool fail(std::string *err, std::string text) {
    if (err != nullptr)
        *err = std::move(text);
    return false;
}

// Reads the head of the request at `at`, which is known to fit; false
// when its records run past `n`. *size gets the request's size.
bool read_head(const uint8_t *bytes, size_t at, size_t n, Request *out,
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
    return true;
}

} // namespace

void copy_records(const uint8_t *records, uint32_t count,
                  std::vector<ostrel_api_ace_t> *out) {
    out->assign(RecordReader(records),
                RecordReader(records + kRecordSize * count));
}

bool view_batch(const uint8_t *bytes, size_t n, uint32_t *word0,
                std::vector<RequestView> *out, std::string *err) {
    if (bytes == nullptr || n < kHeadSize)
        return fail(err, "batch of " + counted(n, "byte") +
                             " is shorter than its 8-byte head");
    if (n > kMaxBatchSize)
        return fail(err, "batch of " + counted(n, "byte") +
                             " is longer than the " +
                             std::to_string(kMaxBatchSize) + "-byte block");
    *word0 = load<uint32_t>(bytes);
    if (*word0 > 1)
        return fail(err, "batch word 0 is " + std::to_string(*word0) +
                             ", not 0 or 1");
    uint32_t count = load<uint32_t>(bytes + 4);
    // Every request takes at least its head, so a count beyond that is
    // refused before anything is reserved for it.
    if (count > (n - kHeadSize) / kRequestHeadSize)
        return fail(err, "batch claims " + counted(count, "request") +
                             ", more than " + counted(n, "byte") + " can hold");
    size_t at = kHeadSize;
    std::vector<RequestView> views(count);
    for (uint32_t i = 0; i < count; ++i) {
        auto which = [i, count] {
            return "request " + std::to_string(i + 1) + " of " +
                   std::to_string(count);
        };
        if (n - at < kRequestHeadSize)
            return fail(err, which() + " at offset " + std::to_string(at) +
                                 ": head runs past the end of the batch");
        size_t size = 0;
        if (!read_head(bytes, at, n, &views[i].head, &size))
            return fail(err,
                        which() + " at offset " + std::to_string(at) + ": " +
                            counted(views[i].head.num_aces, "record") +
                            (views[i].head.num_aces == 1 ? " runs" : " run") +
                            " past the end of the batch");
        views[i].records = bytes + at + kRequestHeadSize;
        at += size;
    }
    if (at != n)
        return fail(err, counted(n - at, "byte") +
                             (n - at == 1 ? " follows" : " follow") +
                             " the last request of the batch");
    if (out != nullptr)
        *out = std::move(views);
    return true;
}

bool read_batch(const uint8_t *bytes, size_t n, Batch *out, std::string *err) {
    Batch batch;
    std::vector<RequestView> views;
    if (!view_batch(bytes, n, &batch.word0, out != nullptr ? &views : nullptr,
                    err))
        return false;
    if (out == nullptr)
        return true;
    for (RequestView &v : views) {
        batch.requests.push_back(std::move(v.head));
        copy_records(v.records, batch.requests.back().num_aces,
                     &batch.requests.back().aces);
    }
    *out = std::move(batch);
    return true;
}

} // namespace ostrel::tools
