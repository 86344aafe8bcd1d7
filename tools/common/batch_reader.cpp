// Programming batch validation: the 8-byte head, then every request's
// 24-byte head and records, each length checked against the bytes left
// before anything is read.
#include <cstring>
#include <iterator>

#include "counted.h"
#include "programming/batch_layout.h"
#include "wire_decode.h"

namespace ostrel::tools {

namespace {

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

// The head of the request at the cursor, which fits.
void read_head(const BatchCursor &c, Request *out) {
    const auto head = load<ostrel_api_plcy_update_req_t>(c.request());
    static_assert(sizeof head == kRequestHeadSize);
    out->plcy_op = head.plcy.plcy_op;
    out->plcy_tlv2 = head.plcy.plcy_tlv2;
    out->dst_tlv4 = head.dst.dst_tlv4;
    out->dst_tlv5 = head.dst.dst_tlv5;
    out->vlan = head.dst.dst_vlan;
    out->if_index = head.dst.dst_if_index;
    out->num_aces = head.num_aces;
}

} // namespace

void copy_records(const uint8_t *records, uint32_t count,
                  std::vector<ostrel_api_ace_t> *out) {
    out->assign(RecordReader(records),
                RecordReader(records + kRecordSize * count));
}

bool view_batch(const uint8_t *bytes, size_t n, uint32_t *word0,
                std::vector<RequestView> *out, std::string *err) {
    if (bytes == nullptr || n < kBatchHeadSize)
        return fail(err, "batch of " + counted(n, "byte") +
                             " is shorter than its 8-byte head");
    if (n > kMaxBatchSize)
        return fail(err, "batch of " + counted(n, "byte") +
                             " is longer than the " +
                             std::to_string(kMaxBatchSize) + "-byte block");
    *word0 = load_u32(bytes + kBatchWord0Offset);
    if (*word0 > 1)
        return fail(err, "batch word 0 is " + std::to_string(*word0) +
                             ", not 0 or 1");
    uint32_t count = load_u32(bytes + kBatchCountOffset);
    // Every request takes at least its head, so a count beyond that is
    // refused before anything is reserved for it.
    if (count > (n - kBatchHeadSize) / kRequestHeadSize)
        return fail(err, "batch claims " + counted(count, "request") +
                             ", more than " + counted(n, "byte") + " can hold");
    BatchCursor c(bytes, n);
    std::vector<RequestView> views(count);
    for (uint32_t i = 0; i < count; ++i, c.next()) {
        auto which = [i, count, &c] {
            return "request " + std::to_string(i + 1) + " of " +
                   std::to_string(count) + " at offset " +
                   std::to_string(c.offset());
        };
        if (!c.head_fits())
            return fail(err, which() + ": head runs past the end of the batch");
        if (!c.request_fits())
            return fail(err, which() + ": " + counted(c.num_aces(), "record") +
                                 (c.num_aces() == 1 ? " runs" : " run") +
                                 " past the end of the batch");
        read_head(c, &views[i].head);
        views[i].records = c.request() + kRequestHeadSize;
    }
    const size_t left = n - c.offset();
    if (!c.at_end())
        return fail(err, counted(left, "byte") +
                             (left == 1 ? " follows" : " follow") +
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
