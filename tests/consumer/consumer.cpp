// The downstream program in C++, through ostrelapi.hpp and the sim's record.
#include <array>
#include <cstdio>
#include <cstring>

#include <ostrelapi.hpp>
#include <ostrelapi/platform/sim_platform.hpp>

#define CHECK(cond)                                                            \
    if (!(cond)) {                                                             \
        std::fprintf(stderr, "%s:%d: %s\n", __FILE__, __LINE__, #cond);        \
        return 1;                                                              \
    }

int main() {
    const std::array<uint8_t, 6> addr1{2, 0, 0, 0, 0, 1},
        addr2{10, 0, 0, 0, 0, 1};
    yarl_msg msg{};
    CHECK(ostrel::program_acl(7, addr1, addr2, 30, 4, 5, msg, true) ==
          ostrel::status::ok);
    CHECK(ostrel::sim::count_of(ostrel::sim::Op::Send) == 1 &&
          ostrel::sim::pending_replies() == 1);
    CHECK(brisel_api_yarl_gobble(7, &msg) == 0 &&
          ostrel::sim::outstanding_records() == 0);

    const ostrel_api_dst_t dst{0, 0, 30, 4};
    ostrel_api_dst_t back{};
    const ostrel::encoded e = ostrel::to_tlv(dst);
    CHECK(e.result == ostrel::status::ok &&
          ostrel_api_dst_to_struct(e.tlv.data.get(), e.tlv.size, &back,
                                   sizeof back) == 0);
    CHECK(std::memcmp(&dst, &back, sizeof dst) == 0);
    return 0;
}
