/* Compiled as strict C99: the exported headers must stay valid C. */
#include "ostrelapi.h"
#include "ostrelapi/platform/sim_platform.h"
#include "ostrelapi/worker.h"

uint32_t header_c99_probe(void);
uint32_t header_c99_probe(void) {
    ostrel_api_plcy_update_req_t req = {{0, 0}, {0, 0, 0, 0}, 0};
    return req.num_aces + (uint32_t)sizeof(ostrel_api_ace_t) +
           (uint32_t)sizeof(ostrel_worker_config_t);
}
