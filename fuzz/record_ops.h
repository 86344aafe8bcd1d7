// The seven codec operations and the descriptor of each record type in one
// table, so that a fuzz target or the corpus generator can run any of them
// by index.
#pragma once

#include <cstdint>

#include "ostrelapi.h"

namespace ostrel_fuzz {

struct RecordOps {
    const char *name; // short name, also the corpus directory
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

#define OSTREL_FUZZ_RECORD_OPS(short_name)                                     \
    RecordOps {                                                                \
#short_name, &ostrel_api_##short_name##_tbl,                           \
            ostrel_api_##short_name##_to_struct,                               \
            ostrel_api_##short_name##_to_tlv,                                  \
            ostrel_api_##short_name##_get_tlv_sz,                              \
            ostrel_api_##short_name##_get_struct_sz,                           \
            ostrel_api_##short_name##_get_field,                               \
            ostrel_api_##short_name##_field_itr_init,                          \
            ostrel_api_##short_name##_field_get_next                           \
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
    OSTREL_FUZZ_RECORD_OPS(plcy),
    OSTREL_FUZZ_RECORD_OPS(dst),
    OSTREL_FUZZ_RECORD_OPS(ace),
    OSTREL_FUZZ_RECORD_OPS(plcy_update_req),
    OSTREL_FUZZ_RECORD_OPS(plcy_update_resp),
};

// The field entries behind a descriptor header, up to the end entry.
inline const tlvu_field_t *fields_of(const tlvu_table_t *tbl) {
    return reinterpret_cast<const tlvu_field_t *>(tbl + 1);
}

} // namespace ostrel_fuzz
