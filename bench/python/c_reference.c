/*
 * The C side of bench/python/python_bench.py: the same calls the Python
 * benchmark makes, from C, through the same shared libraries (core,
 * simulated platform, TLV library), so the difference is the binding's.
 *
 *   c_reference CYCLES ROUNDS
 *
 * prints two lines, "single_cycle_ns N" (one add, its drain, one delete,
 * its drain: the median of ROUNDS rounds of CYCLES cycles each) and
 * "bulk_ns N" (24576 changes filled in and applied by one bulk call, then
 * drained: the median of ROUNDS loads into an empty registry).
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "ostrelapi.h"
#include "sim_platform.h"

#define BULK_CHANGES 24576u
#define HANDLE 1u

static double now_ns(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec * 1e9 + (double)t.tv_nsec;
}

static int by_value(const void *a, const void *b) {
    double x = *(const double *)a, y = *(const double *)b;
    return (x > y) - (x < y);
}

static double median(double *values, int n) {
    qsort(values, (size_t)n, sizeof *values, by_value);
    return values[n / 2];
}

static void fail(const char *what, uint32_t status) {
    fprintf(stderr, "%s: %s (0x%08x)\n", what, ostrel_api_status_name(status),
            status);
    exit(1);
}

/* One round of cycles; the recording is cleared before it, untimed. */
static double single_round(int cycles) {
    static const uint8_t a1[6] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
    static const uint8_t a2[6] = {0x66, 0x77, 0x88, 0x99, 0xaa, 0xbb};
    yarl_msg msg = {0};
    ostrel_sim_reset();
    ostrel_sim_set_copy_payloads(0);
    double start = now_ns();
    for (int i = 0; i < cycles; ++i) {
        uint32_t s = ostrel_api_program_acl(HANDLE, a1, a2, 10, 5, 7, &msg, 1);
        if (s != 0 || (s = brisel_api_yarl_gobble(HANDLE, &msg)) != 0)
            fail("add", s);
        s = ostrel_api_del_acl(HANDLE, a1, a2, 10, 5, 7, &msg);
        if (s != 0 || (s = brisel_api_yarl_gobble(HANDLE, &msg)) != 0)
            fail("delete", s);
    }
    return (now_ns() - start) / cycles;
}

/* Frees every VLAN registry entry without sending anything. */
static void forget_registry(void) {
    while (brisel_handle.next != NULL) {
        VlanNode *vlan = brisel_handle.next;
        while (vlan->first != NULL) {
            IntfNode *intf = vlan->first;
            while (intf->first != NULL) {
                AceKey key = intf->first->key;
                brisel_ace_del(intf, &key);
            }
            brisel_intf_del(vlan, intf);
        }
        brisel_vlan_del(vlan);
    }
}

/* 256 VLANs x 48 interfaces x 2 ACEs, as the Python side builds them. */
static void fill(ostrel_api_acl_change_t *changes) {
    for (uint32_t i = 0; i < BULK_CHANGES; ++i) {
        ostrel_api_acl_change_t *c = &changes[i];
        memset(c, 0, sizeof *c);
        c->addr1[0] = 0x02;
        c->addr1[4] = (uint8_t)(i >> 8);
        c->addr1[5] = (uint8_t)i;
        memset(c->addr2, 0x66, sizeof c->addr2);
        c->vlan_id = 1 + i / 96;
        c->if_index = 1 + (i / 2) % 48;
        c->qualifier = i & 0xffffu;
        c->add = 1;
    }
}

static double bulk_round(ostrel_api_acl_change_t *changes, uint32_t *statuses) {
    yarl_msg msg = {0};
    ostrel_sim_reset();
    ostrel_sim_set_copy_payloads(0);
    double start = now_ns();
    fill(changes);
    uint32_t s = ostrel_api_program_acl_bulk(HANDLE, changes, BULK_CHANGES,
                                             statuses, &msg);
    if (s != 0 || (s = brisel_api_yarl_gobble(HANDLE, &msg)) != 0)
        fail("bulk", s);
    double elapsed = now_ns() - start;
    forget_registry();
    return elapsed;
}

int main(int argc, char **argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: c_reference CYCLES ROUNDS\n");
        return 2;
    }
    int cycles = atoi(argv[1]), rounds = atoi(argv[2]);
    if (cycles < 1 || rounds < 1 || rounds > 100)
        return 2;
    double times[100];
    for (int r = 0; r < rounds; ++r)
        times[r] = single_round(cycles);
    printf("single_cycle_ns %.1f\n", median(times, rounds));
    ostrel_api_acl_change_t *changes = malloc(BULK_CHANGES * sizeof *changes);
    uint32_t *statuses = malloc(BULK_CHANGES * sizeof *statuses);
    if (changes == NULL || statuses == NULL)
        return 1;
    for (int r = 0; r < rounds; ++r)
        times[r] = bulk_round(changes, statuses);
    printf("bulk_ns %.0f\n", median(times, rounds));
    free(changes);
    free(statuses);
    return 0;
}
