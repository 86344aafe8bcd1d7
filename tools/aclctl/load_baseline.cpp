// The baseline of the --brief measurement in tools/README.md: the calls
// of a load of 8 VLANs x 48 interfaces x 8 ACEs (3072 adds), made one at
// a time against the simulated platform, each reply drained before the
// next call as aclctl does, and nothing printed. With --print-scenario it
// prints the same load as an aclctl scenario instead, so that both runs
// make the same calls. Only the library's C interface is called; the one
// platform setting (payloads are not copied into the call record, as in
// aclctl) is made through the simulated platform's C++ controls.
#include <cstdio>
#include <cstring>

#include "ostrelapi.h"
#include "sim_platform.hpp"

namespace {

constexpr uint32_t kVlans = 8;
constexpr uint32_t kInterfaces = 48;
constexpr uint32_t kAcesPerInterface = 8;

struct Ace {
    uint8_t addr1[6];
    uint8_t addr2[6];
    uint32_t vlan;
    uint32_t intf;
    uint32_t qual;
};

// The n-th ACE of interface i of VLAN v, all numbered from 1.
Ace nth_ace(uint32_t v, uint32_t i, uint32_t n) {
    Ace a{{0x02, 0x00, 0x00, static_cast<uint8_t>(v), static_cast<uint8_t>(i),
           static_cast<uint8_t>(n)},
          {0x02, 0x01, 0x00, static_cast<uint8_t>(v), static_cast<uint8_t>(i),
           static_cast<uint8_t>(n)},
          100 + v,
          i,
          n};
    return a;
}

void print_mac(const char *name, const uint8_t a[6]) {
    std::printf(" %s %02x:%02x:%02x:%02x:%02x:%02x", name, a[0], a[1], a[2],
                a[3], a[4], a[5]);
}

uint32_t make_call(const Ace &a, bool print) {
    static yarl_msg msg{};
    if (print) {
        std::printf("add vlan %u intf %u", a.vlan, a.intf);
        print_mac("addr1", a.addr1);
        print_mac("addr2", a.addr2);
        std::printf(" qual %u\n", a.qual);
        return 0;
    }
    uint32_t failures = ostrel_api_program_acl(1, a.addr1, a.addr2, a.vlan,
                                               a.intf, a.qual, &msg, 1) != 0;
    if (did_yarl_send != 0)
        failures += brisel_api_yarl_gobble(1, &msg) != 0;
    return failures;
}

} // namespace

int main(int argc, char **argv) {
    const bool print =
        argc == 2 && std::strcmp(argv[1], "--print-scenario") == 0;
    ostrel::sim::set_copy_payloads(false);
    uint32_t failures = 0;
    for (uint32_t v = 1; v <= kVlans; ++v)
        for (uint32_t i = 1; i <= kInterfaces; ++i)
            for (uint32_t n = 1; n <= kAcesPerInterface; ++n)
                failures += make_call(nth_ace(v, i, n), print);
    if (failures != 0)
        std::fprintf(stderr, "aclctl-load-baseline: %u calls failed\n",
                     failures);
    return failures != 0;
}
