/*
 * worker_poll.c - a daemon's event loop with libostrelapi-worker: changes
 * are submitted and the loop goes on at once; poll() tells when the
 * worker has completions to take. Runs on the simulated platform.
 *
 * Build: cc worker_poll.c $(pkg-config --cflags --libs ostrelapi-worker
 *        ostrelapi-sim ostrelapi-tlvu)
 */
#include <poll.h>
#include <stdio.h>
#include <string.h>

#include "ostrelapi/worker.h"

/* One ACE added on interface if_index of vlan_id. */
static ostrel_api_acl_change_t ace_add(uint32_t vlan_id, uint32_t if_index,
                                       uint8_t tag) {
    ostrel_api_acl_change_t c;
    memset(&c, 0, sizeof c);
    c.addr1[0] = 2, c.addr1[5] = tag;
    c.addr2[0] = 10, c.addr2[5] = tag;
    c.vlan_id = vlan_id, c.if_index = if_index, c.qualifier = tag, c.add = 1;
    return c;
}

int main(void) {
    ostrel_worker_config_t config;
    memset(&config, 0, sizeof config);
    config.struct_size = sizeof config;
    ostrel_worker_t *worker;
    if (ostrel_worker_create(&config, &worker) != 0)
        return 1;

    /* Three submissions: two one-change adds and a pair, all or none. */
    ostrel_api_acl_change_t pair[2] = {ace_add(10, 2, 3), ace_add(10, 3, 4)};
    ostrel_api_acl_change_t one = ace_add(10, 1, 1), two = ace_add(20, 1, 2);
    if (ostrel_worker_submit(worker, &one, 1, 100) != 0 ||
        ostrel_worker_submit(worker, &two, 1, 101) != 0 ||
        ostrel_worker_submit(worker, pair, 2, 102) != 0)
        return 1;

    /* The event loop: the worker's descriptor beside the daemon's own. */
    struct pollfd fds[1] = {{ostrel_worker_fd(worker), POLLIN, 0}};
    int pending = 3;
    while (pending > 0) {
        if (poll(fds, 1, -1) < 0)
            return 1;
        ostrel_worker_completion_t c;
        while (ostrel_worker_next(worker, &c) == 1) {
            char text[96];
            ostrel_api_status_text(c.status, text, sizeof text);
            printf("submission %llu: %s, %u change(s)\n",
                   (unsigned long long)c.cookie, text, (unsigned)c.count);
            --pending;
        }
    }
    ostrel_worker_destroy(worker);
    return 0;
}
