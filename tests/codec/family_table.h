// The five members of the operation family (Part 2.4) as one table, so that
// a test runs the same case on every record type.
#pragma once

#include <cstdint>

#include "ostrelapi.h"

namespace codec_test {

struct Family {
    const char *name;
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

#define FAMILY(sn)                                                             \
    Family {                                                                   \
#sn, &ostrel_api_##sn##_tbl, ostrel_api_##sn##_to_struct,              \
            ostrel_api_##sn##_to_tlv, ostrel_api_##sn##_get_tlv_sz,            \
            ostrel_api_##sn##_get_struct_sz, ostrel_api_##sn##_get_field,      \
            ostrel_api_##sn##_field_itr_init, ostrel_api_##sn##_field_get_next \
    }

inline const Family kFamilies[] = {FAMILY(plcy), FAMILY(dst), FAMILY(ace),
                                   FAMILY(plcy_update_req),
                                   FAMILY(plcy_update_resp)};

} // namespace codec_test
