// Round-trip fuzz target: the first byte picks a record type, the rest is
// decoded. Whatever decodes must encode again, and decoding that encoding
// gives back the same record, except for the filter fields that only exist
// with the filter's presence bit (addresses decoded without the qualifier
// are not encoded); encoding it once more gives the same bytes.
#include "fuzz_support.h"
#include "record_ops.h"

namespace {

using namespace ostrel_fuzz;
using namespace ostrel_test;

// Clears the filter fields that an encoding of this ACE record leaves out.
void normalize_ace(uint8_t *ace) {
    auto *rec = reinterpret_cast<ostrel_api_ace_t *>(ace);
    if ((rec->fltr.fltr_flags & OSTREL_FLTR_FLAG_PRESENT) == 0) {
        rec->fltr.fltr_qualifier = 0;
        std::memset(rec->fltr.fltr_addr1, 0, 4 * sizeof rec->fltr.fltr_addr1);
    }
}

void normalize(unsigned index, Block &rec) {
    if (index == kAce) {
        normalize_ace(rec.data());
    } else if (index == kPlcyUpdateReq) {
        for (size_t at = 24; at + 64 <= rec.size(); at += 64) {
            normalize_ace(rec.data() + at);
        }
    }
}

bool decode(const RecordOps &ops, const Block &tlv, Block *out) {
    if (!header_fits(tlv.data(), tlv.size())) {
        return false;
    }
    const int32_t sz = ops.get_struct_sz(tlv.data());
    if (sz <= 0 || static_cast<uint32_t>(sz) > kMaxRecordSize) {
        return false;
    }
    Block rec(static_cast<size_t>(sz));
    if (ops.to_struct(tlv.data(), tlv.size32(), rec.data(), rec.size32()) !=
        0) {
        return false;
    }
    *out = std::move(rec);
    return true;
}

Block encode(const RecordOps &ops, const Block &rec) {
    uint8_t *buf = nullptr;
    uint32_t len = 0;
    uint32_t err_type = 0;
    OSTREL_FUZZ_CHECK(ops.to_tlv(rec.data(), &buf, &len, 0, &err_type, 0) == 0);
    OSTREL_FUZZ_CHECK(buf != nullptr && len == ops.get_tlv_sz(rec.data()));
    return adopt_encoding(buf, len);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1 || size > 0xFFFFFFu) {
        return 0;
    }
    const unsigned index = data[0] % kRecordCount;
    const RecordOps &ops = kRecords[index];
    const Block in(data + 1, size - 1);
    Block first(0);
    if (!decode(ops, in, &first)) {
        return 0;
    }
    const Block once = encode(ops, first);
    Block second(0);
    OSTREL_FUZZ_CHECK(decode(ops, once, &second));
    normalize(index, first);
    OSTREL_FUZZ_CHECK(second.same_as(first));
    OSTREL_FUZZ_CHECK(encode(ops, second).same_as(once));
    return 0;
}
