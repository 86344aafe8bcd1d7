// The five constant table descriptors of the policy records.
//
// A descriptor is one object: a tlvu_table_t header followed directly by its
// field entries and an end entry. The exported symbol names the header
// (include/ostrelapi.h declares it `extern const tlvu_table_t`), and the TLV
// utility library finds the entries at (const tlvu_field_t *)(tbl + 1).
//
// Here each descriptor is defined as a Descriptor<N> object, and an asm label
// gives that object the exported symbol name, so the symbol addresses the
// header with the entries behind it in the same object. This translation
// unit must then not also see the header's tlvu_table_t declarations of the
// same symbols: the macros below rename them, for the one #include, to
// names that are never defined or used.
#define ostrel_api_plcy_tbl ostrel_api_plcy_tbl_header_decl
#define ostrel_api_dst_tbl ostrel_api_dst_tbl_header_decl
#define ostrel_api_ace_tbl ostrel_api_ace_tbl_header_decl
#define ostrel_api_plcy_update_req_tbl                                         \
    ostrel_api_plcy_update_req_tbl_header_decl
#define ostrel_api_plcy_update_resp_tbl                                        \
    ostrel_api_plcy_update_resp_tbl_header_decl
#include "ostrelapi.h"
#undef ostrel_api_plcy_tbl
#undef ostrel_api_dst_tbl
#undef ostrel_api_ace_tbl
#undef ostrel_api_plcy_update_req_tbl
#undef ostrel_api_plcy_update_resp_tbl

#include <cstddef>
#include <cstdint>

#include "codec/descriptor_layout.h"

using ostrel::codec::Descriptor;

namespace {

constexpr uint32_t kEnd = TLVU_END_WORD;
constexpr uint32_t kReserved32 = 0;
constexpr uint32_t kReserved40 = 0xFFFFFFFFu;

constexpr tlvu_table_t header(uint32_t struct_size, const char *name) {
    return {.struct_size = struct_size,
            .name = name,
            .reserved8 = 0,
            .reserved12 = 0};
}

// A field the table encodes itself, plain or through the nested descriptor
// `sub`: kind 1, value_size equal to size.
constexpr tlvu_field_t plain(uint32_t tlv_type, uint32_t size, uint32_t offset,
                             const tlvu_table_t *sub = nullptr) {
    return {.tlv_type = tlv_type,
            .size = size,
            .offset = offset,
            .kind = TLVU_KIND_PLAIN,
            .struct_to_tlv = nullptr,
            .tlv_to_struct = nullptr,
            .get_tlv_data_sz = nullptr,
            .get_count = nullptr,
            .reserved32 = kReserved32,
            .value_size = size,
            .reserved40 = kReserved40,
            .sub_table = sub};
}

// An array of element records of `element_size` bytes described by
// `element`, counted by `count`: kind 5, value_size 0.
constexpr tlvu_field_t array(uint32_t tlv_type, uint32_t element_size,
                             uint32_t offset, tlvu_get_count_fn count,
                             const tlvu_table_t *element) {
    return {.tlv_type = tlv_type,
            .size = element_size,
            .offset = offset,
            .kind = TLVU_KIND_ARRAY,
            .struct_to_tlv = nullptr,
            .tlv_to_struct = nullptr,
            .get_tlv_data_sz = nullptr,
            .get_count = count,
            .reserved32 = kReserved32,
            .value_size = 0,
            .reserved40 = kReserved40,
            .sub_table = element};
}

// A field with custom codecs: kind 9, value_size equal to size.
constexpr tlvu_field_t custom(uint32_t tlv_type, uint32_t size, uint32_t offset,
                              tlvu_struct_to_tlv_fn encode,
                              tlvu_tlv_to_struct_fn decode,
                              tlvu_get_tlv_data_sz_fn data_size) {
    return {.tlv_type = tlv_type,
            .size = size,
            .offset = offset,
            .kind = TLVU_KIND_CUSTOM,
            .struct_to_tlv = encode,
            .tlv_to_struct = decode,
            .get_tlv_data_sz = data_size,
            .get_count = nullptr,
            .reserved32 = kReserved32,
            .value_size = size,
            .reserved40 = kReserved40,
            .sub_table = nullptr};
}

// The entry that closes every descriptor.
constexpr tlvu_field_t end_entry() {
    return {.tlv_type = kEnd,
            .size = kEnd,
            .offset = kEnd,
            .kind = TLVU_KIND_END,
            .struct_to_tlv = nullptr,
            .tlv_to_struct = nullptr,
            .get_tlv_data_sz = nullptr,
            .get_count = nullptr,
            .reserved32 = kEnd,
            .value_size = kEnd,
            .reserved40 = kEnd,
            .sub_table = nullptr};
}

} // namespace

extern "C" OSTREL_API constinit const Descriptor<2>
    ostrel_api_plcy_tbl_object __asm__("ostrel_api_plcy_tbl") = {
        header(sizeof(ostrel_api_plcy_t), "ostrel_api_plcy_t"),
        {
            plain(1, 4, offsetof(ostrel_api_plcy_t, plcy_op)),
            plain(2, 4, offsetof(ostrel_api_plcy_t, plcy_tlv2)),
            end_entry(),
        },
};

extern "C" OSTREL_API constinit const Descriptor<4>
    ostrel_api_dst_tbl_object __asm__("ostrel_api_dst_tbl") = {
        header(sizeof(ostrel_api_dst_t), "ostrel_api_dst_t"),
        {
            plain(4, 4, offsetof(ostrel_api_dst_t, dst_tlv4)),
            plain(5, 2, offsetof(ostrel_api_dst_t, dst_tlv5)),
            plain(6, 2, offsetof(ostrel_api_dst_t, dst_vlan)),
            plain(7, 4, offsetof(ostrel_api_dst_t, dst_if_index)),
            end_entry(),
        },
};

extern "C" OSTREL_API constinit const Descriptor<2>
    ostrel_api_ace_tbl_object __asm__("ostrel_api_ace_tbl") = {
        header(sizeof(ostrel_api_ace_t), "ostrel_api_ace_t"),
        {
            custom(14, sizeof(ostrel_api_ace_fltr_t),
                   offsetof(ostrel_api_ace_t, fltr),
                   ostrel_api_ace_fltr_struct_to_tlv,
                   ostrel_api_ace_fltr_tlv_to_struct,
                   ostrel_api_ace_fltr_get_tlv_data_sz),
            custom(15, sizeof(ostrel_api_ace_actn_t),
                   offsetof(ostrel_api_ace_t, actn),
                   ostrel_api_ace_actn_struct_to_tlv,
                   ostrel_api_ace_actn_tlv_to_struct,
                   ostrel_api_ace_actn_get_tlv_data_sz),
            end_entry(),
        },
};

extern "C" OSTREL_API constinit const Descriptor<4>
    ostrel_api_plcy_update_req_tbl_object __asm__(
        "ostrel_api_plcy_update_req_tbl") = {
        header(sizeof(ostrel_api_plcy_update_req_t),
               "ostrel_api_plcy_update_req_t"),
        {
            plain(12, sizeof(ostrel_api_plcy_t),
                  offsetof(ostrel_api_plcy_update_req_t, plcy),
                  &ostrel_api_plcy_tbl_object.header),
            plain(13, sizeof(ostrel_api_dst_t),
                  offsetof(ostrel_api_plcy_update_req_t, dst),
                  &ostrel_api_dst_tbl_object.header),
            plain(16, 4, offsetof(ostrel_api_plcy_update_req_t, num_aces)),
            array(17, sizeof(ostrel_api_ace_t),
                  offsetof(ostrel_api_plcy_update_req_t, aces),
                  ostrel_api_get_num_aces, &ostrel_api_ace_tbl_object.header),
            end_entry(),
        },
};

extern "C" OSTREL_API constinit const Descriptor<1>
    ostrel_api_plcy_update_resp_tbl_object __asm__(
        "ostrel_api_plcy_update_resp_tbl") = {
        header(sizeof(ostrel_api_plcy_update_resp_t),
               "ostrel_api_plcy_update_resp_t"),
        {
            plain(18, 4, offsetof(ostrel_api_plcy_update_resp_t, resp_tlv18)),
            end_entry(),
        },
};
