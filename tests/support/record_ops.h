// The seven codec operations and the descriptor of each record type in one
// table, so that a test, a fuzz target or the corpus generator runs the same
// case on every record type.
#pragma once

#include <cstdint>

#include "ostrelapi.h"

namespace ostrel_test {

struct RecordOps {
    const char *name; // short name, also a fuzz corpus directory
    const tlvu_table_t *tbl;
    uint32_t (*to_struct)(const void *, uint32_t, void *, uint32_t);
    uint32_t (*to_tlv)(const void *, uint8_t **, uint32_t *, uint32_t,
                       uint32_t *, uint32_t);
    uint32_t (*get_tlv_sz)(const void *);
    int32_t (*get_struct_sz)(const void *);
    uint32_t (*get_field)(const void *, uint32_t, uint32_t, void *, uint32_t);
    uint32_t (*field_itr_init)(tlvu_field_itr_t *, const void *, uint32_t,
                               uint32_t, uint32_t);
    uint32_t (*field_get_next)(tlvu_field_itr_t *, const tlvu_field_t **,
                               const void **, uint32_t *);
};

#define OSTREL_RECORD_OPS(sn)                                                  \
    RecordOps {                                                                \
#sn, &ostrel_api_##sn##_tbl, ostrel_api_##sn##_to_struct,              \
            ostrel_api_##sn##_to_tlv, ostrel_api_##sn##_get_tlv_sz,            \
            ostrel_api_##sn##_get_struct_sz, ostrel_api_##sn##_get_field,      \
            ostrel_api_##sn##_field_itr_init, ostrel_api_##sn##_field_get_next \
    }

enum RecordIndex : unsigned {
    kPlcy,
    kDst,
    kAce,
    kPlcyUpdateReq,
    kPlcyUpdateResp,
    kRecordCount
};

inline const RecordOps kRecords[kRecordCount] = {
    OSTREL_RECORD_OPS(plcy), OSTREL_RECORD_OPS(dst), OSTREL_RECORD_OPS(ace),
    OSTREL_RECORD_OPS(plcy_update_req), OSTREL_RECORD_OPS(plcy_update_resp)};

// The field entries behind a descriptor header, up to the end entry.
inline const tlvu_field_t *fields_of(const tlvu_table_t *tbl) {
    return reinterpret_cast<const tlvu_field_t *>(tbl + 1);
}

} // namespace ostrel_test
