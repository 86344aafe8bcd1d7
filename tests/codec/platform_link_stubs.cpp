// Link stubs for every platform call of the core library, for a binary that
// links the shared library only to read its exported data: each stub
// aborts if called. Their C symbols carry no types, so they are defined
// here without the platform headers' signatures; default visibility lets
// the shared library's references bind to them.
#include <cstdlib>

#define OSTREL_LINK_STUB(name)                                                 \
    extern "C" __attribute__((visibility("default"))) void name() {            \
        std::abort();                                                          \
    }

OSTREL_LINK_STUB(yarl_send)
OSTREL_LINK_STUB(yarl_recv)
OSTREL_LINK_STUB(yarl_drop)
OSTREL_LINK_STUB(yarl_payload_get)
OSTREL_LINK_STUB(yarl_errno_get)
OSTREL_LINK_STUB(yarl_rr_token_get)
OSTREL_LINK_STUB(heartbeat_update_and_send)
OSTREL_LINK_STUB(if_index_get_type)
OSTREL_LINK_STUB(port_channel_info_get)
OSTREL_LINK_STUB(tlv_size_get)
OSTREL_LINK_STUB(tlv_array_add_tlv)
OSTREL_LINK_STUB(tlv_array_get_num_tlvs)
OSTREL_LINK_STUB(tlv_array_get_next_tlv)
OSTREL_LINK_STUB(tlvu_table_convert_tlv_to_struct)
OSTREL_LINK_STUB(tlvu_table_convert_struct_to_tlv)
OSTREL_LINK_STUB(tlvu_table_size)
OSTREL_LINK_STUB(tlvu_table_get_struct_size_from_tlv)
OSTREL_LINK_STUB(tlvu_get_field)
OSTREL_LINK_STUB(tlvu_field_itr_init)
OSTREL_LINK_STUB(tlvu_field_itr_get_next)
OSTREL_LINK_STUB(tlvu_error_print)
