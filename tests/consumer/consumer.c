/* Downstream program, built against an install: programs ACEs through the
 * simulated platform, driven by its C controls, and round-trips a policy
 * update through the TLV library. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <ostrelapi.h>
#include <ostrelapi/platform/sim_platform.h>

#define CHECK(cond)                                                            \
    do {                                                                       \
        if (!(cond)) {                                                         \
            fprintf(stderr, "%s:%d: %s\n", __FILE__, __LINE__, #cond);         \
            return 1;                                                          \
        }                                                                      \
    } while (0)

/* Bytes of the last call, a send that has not been drained yet. */
static uint32_t last_send_length(void) {
    ostrel_sim_call_t call;
    if (ostrel_sim_call_at(ostrel_sim_call_count() - 1, &call) != 0 ||
        call.op != OSTREL_SIM_OP_SEND)
        return 0;
    return call.length;
}

/* An ACE on interface 4 of VLAN 30; on interface 60 of VLAN 32, a port
 * channel, whose request goes to each of its two members in one batch; on
 * port channel 50 of VLAN 31 through the port-channel entry point, one send
 * per member. A reply without payload is reported as no entry. */
static int program_ace(void) {
    const uint8_t addr1[6] = {2, 0, 0, 0, 0, 1}, addr2[6] = {10, 0, 0, 0, 0, 1};
    const uint32_t members[2] = {11, 12};
    yarl_msg msg;
    memset(&msg, 0, sizeof msg);
    CHECK(ostrel_api_program_acl(7, addr1, addr2, 30, 4, 5, &msg, 1) == 0);
    CHECK(did_yarl_send == 1);
    const IntfNode *intf = brisel_intf_lookup(brisel_vlan_lookup(30), 4);
    CHECK(intf != NULL && intf->count == 1);
    const uint32_t one_request = last_send_length() - 8; /* the batch head */
    CHECK(brisel_api_yarl_gobble(7, &msg) == 0);

    ostrel_sim_reset();
    ostrel_sim_set_if_type(60, OSTREL_IF_TYPE_PORT_CHANNEL);
    ostrel_sim_set_pc_members(60, members, 2);
    ostrel_sim_set_pc_members(50, members, 2);
    CHECK(ostrel_api_program_acl(7, addr1, addr2, 32, 60, 5, &msg, 1) == 0);
    CHECK(last_send_length() == 8 + 2 * one_request);
    CHECK(brisel_api_yarl_gobble(7, &msg) == 0);
    CHECK(ostrel_api_pc_program_acl(7, addr1, addr2, 31, 50, 5, &msg, 1) == 0);
    CHECK(ostrel_sim_count_of(OSTREL_SIM_OP_SEND) == 3);
    ostrel_sim_next_reply_without_payload();
    char name[16];
    CHECK(ostrel_api_status_text(brisel_api_yarl_gobble(7, &msg), name,
                                 sizeof name) == 8);
    CHECK(strcmp(name, "no entry") == 0);
    CHECK(ostrel_sim_outstanding_records() == 0);
    return 0;
}

static int round_trip_update(void) {
    const uint32_t size = OSTREL_PLCY_UPDATE_REQ_SIZE(1);
    ostrel_api_plcy_update_req_t *req = calloc(1, size),
                                 *back = calloc(1, size);
    CHECK(req != NULL && back != NULL);
    req->plcy.plcy_op = req->num_aces = 1;
    req->aces[0].fltr.fltr_flags = OSTREL_FLTR_FLAG_PRESENT;
    req->aces[0].fltr.fltr_addr1[5] = 9;
    req->aces[0].actn.actn_flags = OSTREL_ACTN_FLAG_TLV11;
    req->aces[0].actn.actn_tlv11 = 77;
    uint8_t *tlv = NULL;
    uint32_t len = 0, failed_type = 0;
    CHECK(ostrel_api_plcy_update_req_to_tlv(req, &tlv, &len, 0, &failed_type,
                                            0) == 0);
    CHECK(ostrel_api_plcy_update_req_to_struct(tlv, len, back, size) == 0);
    CHECK(memcmp(req, back, size) == 0);
    free(tlv), free(back), free(req);
    return 0;
}

int main(void) {
    CHECK(strcmp(ostrel_version(), OSTREL_VERSION_STRING) == 0);
    return program_ace() || round_trip_update();
}
