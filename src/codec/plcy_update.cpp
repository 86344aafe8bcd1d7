// Policy update send and parse: a policy update request goes to the ACL
// service TLV-encoded, in one attempt; a received policy update message
// hands back its payload. The status word is read without a length: the
// transport guarantees that a payload it hands out holds at least that
// word (the socket transport refuses shorter replies).
#include <cstdlib>
#include <cstring>

#include "acl_service.h"
#include "ostrelapi.h"
#include "yarl.h"

/** Encodes req (ostrel_api_plcy_update_req_to_tlv) and sends it once to the
 *  ACL service with msg. 0 on success; OSTREL_STATUS_INVALID for a null req
 *  or msg (nothing encoded); the encoder's status when encoding fails (nothing
 *  sent); OSTREL_STATUS_SEND_ERROR(transport error number) when the send
 *  fails. The encoding is freed before returning, whatever the send did.
 *  The second argument is not used. */
uint32_t ostrel_api_send_plcy_update(yarl_handle_t handle, uint32_t,
                                     const ostrel_api_plcy_update_req_t *req,
                                     yarl_msg *msg) {
    if (req == nullptr || msg == nullptr) {
        return OSTREL_STATUS_INVALID;
    }
    uint8_t *buf = nullptr;
    uint32_t len = 0;
    uint32_t err_type = 0;
    const uint32_t encoded =
        ostrel_api_plcy_update_req_to_tlv(req, &buf, &len, 0, &err_type, 0);
    if (encoded != OSTREL_STATUS_OK) {
        return encoded;
    }
    const uint32_t status =
        ostrel::send_to_acl_service(handle, msg, buf, len) == 0
            ? OSTREL_STATUS_OK
            : ostrel::report_send_failure(handle, len);
    if (buf != nullptr) {
        std::free(buf);
    }
    return status;
}

/** Stores the payload address of the received message msg in *payload_out
 *  and returns the payload's first 32-bit word (host byte order). For a
 *  null argument OSTREL_STATUS_INVALID, nothing written; for a message
 *  without payload OSTREL_STATUS_INVALID with *payload_out set to null. */
uint32_t ostrel_api_parse_plcy_update(yarl_msg *msg, void **payload_out) {
    if (msg == nullptr || payload_out == nullptr) {
        return OSTREL_STATUS_INVALID;
    }
    void *payload = yarl_payload_get(msg);
    *payload_out = payload;
    if (payload == nullptr) {
        return OSTREL_STATUS_INVALID;
    }
    uint32_t first_word = 0;
    std::memcpy(&first_word, payload, sizeof first_word);
    return first_word;
}
