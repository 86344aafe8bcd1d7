/* The baseline of the --brief measurement in tools/README.md: the calls of
 * a load of 8 VLANs x 48 interfaces x 8 ACEs (3072 adds), made one at a
 * time against the simulated platform, each reply drained before the next
 * call as aclctl does, and nothing printed. With --print-scenario it
 * prints the same load as an aclctl scenario instead, so that both runs
 * make the same calls. */
#include <stdio.h>
#include <string.h>

#include "ostrelapi.h"
#include "sim_platform.h"

enum { kVlans = 8, kInterfaces = 48, kAcesPerInterface = 8 };

struct ace {
    uint8_t addr1[6];
    uint8_t addr2[6];
    uint32_t vlan;
    uint32_t intf;
    uint32_t qual;
};

/* The n-th ACE of interface i of VLAN v, all numbered from 1. */
static struct ace nth_ace(uint32_t v, uint32_t i, uint32_t n) {
    struct ace a = {{0x02, 0x00, 0x00, (uint8_t)v, (uint8_t)i, (uint8_t)n},
                    {0x02, 0x01, 0x00, (uint8_t)v, (uint8_t)i, (uint8_t)n},
                    100 + v,
                    i,
                    n};
    return a;
}

static void print_mac(const char *name, const uint8_t a[6]) {
    printf(" %s %02x:%02x:%02x:%02x:%02x:%02x", name, a[0], a[1], a[2], a[3],
           a[4], a[5]);
}

static void print_call(const struct ace *a) {
    printf("add vlan %u intf %u", (unsigned)a->vlan, (unsigned)a->intf);
    print_mac("addr1", a->addr1);
    print_mac("addr2", a->addr2);
    printf(" qual %u\n", (unsigned)a->qual);
}

/* The number of failed calls: the add, and the drain of its reply. */
static unsigned make_call(const struct ace *a, yarl_msg *msg) {
    unsigned failures = ostrel_api_program_acl(1, a->addr1, a->addr2, a->vlan,
                                                a->intf, a->qual, msg, 1) != 0;
    if (did_yarl_send != 0)
        failures += brisel_api_yarl_gobble(1, msg) != 0;
    return failures;
}

int main(int argc, char **argv) {
    const int print = argc == 2 && strcmp(argv[1], "--print-scenario") == 0;
    yarl_msg msg;
    unsigned failures = 0;
    memset(&msg, 0, sizeof msg);
    ostrel_sim_set_copy_payloads(0); /* as aclctl: no copy per send */
    for (uint32_t v = 1; v <= kVlans; ++v)
        for (uint32_t i = 1; i <= kInterfaces; ++i)
            for (uint32_t n = 1; n <= kAcesPerInterface; ++n) {
                struct ace a = nth_ace(v, i, n);
                if (print)
                    print_call(&a);
                else
                    failures += make_call(&a, &msg);
            }
    if (failures != 0)
        fprintf(stderr, "aclctl-load-baseline: %u calls failed\n", failures);
    return failures != 0;
}
