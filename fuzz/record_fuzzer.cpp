// Fuzz target for the decoding operations of one record type (chosen at
// build time with OSTREL_FUZZ_RECORD): _get_struct_sz, _to_struct into an
// exactly sized record, _get_field for every field of the descriptor, and
// the field iterator, all fed the same untrusted bytes.
#include "fuzz_support.h"
#include "record_ops.h"
#include "tlvu.h"

#ifndef OSTREL_FUZZ_RECORD
#error "define OSTREL_FUZZ_RECORD to a record index"
#endif

namespace {

using namespace ostrel_fuzz;
using namespace ostrel_test;

const RecordOps &kOps = kRecords[OSTREL_FUZZ_RECORD];

// The struct size the record needs, or 0 when the bytes are refused or the
// claim is too large to allocate.
uint32_t needed_size(const Block &in) {
    if (!header_fits(in.data(), in.size())) {
        return 0;
    }
    const int32_t sz = kOps.get_struct_sz(in.data());
    OSTREL_FUZZ_CHECK(sz == -1 ||
                      static_cast<uint32_t>(sz) >= kOps.tbl->struct_size);
    return sz > 0 && static_cast<uint32_t>(sz) <= kMaxRecordSize
               ? static_cast<uint32_t>(sz)
               : 0;
}

void decode(const Block &in) {
    const uint32_t sz = needed_size(in);
    // Into the fixed part only: arrays must be refused, never overrun.
    Block fixed(kOps.tbl->struct_size);
    (void)kOps.to_struct(in.data(), in.size32(), fixed.data(), fixed.size32());
    if (sz == 0) {
        return;
    }
    Block rec(sz);
    const uint32_t status =
        kOps.to_struct(in.data(), in.size32(), rec.data(), rec.size32());
    if (status == 0 && OSTREL_FUZZ_RECORD == kPlcyUpdateReq) {
        // A decoded request holds exactly the ACE records it was sized for.
        OSTREL_FUZZ_CHECK(ostrel_api_get_num_aces(rec.data()) ==
                          (sz - 24) / 64);
    }
}

void get_fields(const Block &in) {
    for (const tlvu_field_t *f = fields_of(kOps.tbl); f->kind != TLVU_KIND_END;
         ++f) {
        Block roomy(in.size());
        Block tight(2);
        (void)kOps.get_field(in.data(), in.size32(), f->tlv_type, roomy.data(),
                             roomy.size32());
        (void)kOps.get_field(in.data(), in.size32(), f->tlv_type, tight.data(),
                             tight.size32());
    }
}

// Every TLV handed out lies inside the input, and its table entry (when the
// table knows the type) is the entry of that type.
void iterate(const Block &in, uint32_t type_filter) {
    tlvu_field_itr_t itr{};
    if (kOps.field_itr_init(&itr, in.data(), in.size32(), type_filter, 0) !=
        0) {
        return;
    }
    const tlvu_field_t *field = nullptr;
    const void *value = nullptr;
    uint32_t len = 0;
    size_t seen = 0;
    while (kOps.field_get_next(&itr, &field, &value, &len) == 0) {
        const auto *v = static_cast<const uint8_t *>(value);
        OSTREL_FUZZ_CHECK(v >= in.data() + 8 &&
                          v + len <= in.data() + in.size());
        const uint16_t type = load_be16(v - 4);
        OSTREL_FUZZ_CHECK(load_be16(v - 2) == len);
        OSTREL_FUZZ_CHECK(type_filter == 0 || type == type_filter);
        OSTREL_FUZZ_CHECK(field == nullptr || field->tlv_type == type);
        OSTREL_FUZZ_CHECK(++seen <= in.size() / 4);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // A length of 0 would mean "trust the header": not an empty input.
    if (size == 0 || size > 0xFFFFFFu) {
        return 0;
    }
    const Block in(data, size);
    decode(in);
    get_fields(in);
    iterate(in, 0);
    for (const tlvu_field_t *f = fields_of(kOps.tbl); f->kind != TLVU_KIND_END;
         ++f) {
        iterate(in, f->tlv_type);
    }
    return 0;
}
