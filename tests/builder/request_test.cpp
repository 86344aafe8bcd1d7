// The bytes of one request and batch; the slot rule's arrangements.
#include "builder_support.h"

namespace builder_test {

using Requests = BuilderTest;

TEST_F(Requests, OneRequestAndItsBatchHaveExactlyTheseBytes) {
    reg.vlan.vlan_id = 0x12345; // only the low 16 bits are sent
    const AceKey a{
        {0xFF, 1, 2, 3, 4, 0xFE}, {0x10, 0x20, 0x30, 0x40, 0x50, 0x60}, 0xBEEF};
    IntfNode *x = reg.add(0xCAFE0042u, {a, {{}, {1}, 2}});
    ASSERT_EQ(program(x, 0x80000000u), 0u); // any nonzero flag installs
    EXPECT_EQ(sent(0), batch(1, {request(1, 0x2345, 0xCAFE0042u,
                                         {rec(a), close1(0xBEEF), close2()})}));
    EXPECT_EQ(send(0).length, 8u + 24 + 3 * 64);
    ASSERT_EQ(program(x, 0), 0u);
    EXPECT_EQ(u32(sent(1), 8), 2u); // removes
}

struct Intf {
    uint32_t if_index;
    std::vector<AceKey> aces;
    int count = -1; // default: the number of ACEs
};
struct SlotCase {
    const char *name;
    std::vector<Intf> intfs; // in list order
    size_t named;
    std::vector<Bytes> records; // closing records included
};

TEST_F(Requests, TheSlotRulePlacesEveryRecordOfTheVlan) {
    const AceKey A = ace(0xA1, 0x0A01), B = ace(0xB2, 0x0B02),
                 C = ace(0xC3, 0x0C03), D = ace(0xD4, 0x0D04),
                 E = ace(0xE5, 0x0E05), Z = {{}, {11, 1}, 0x5101},
                 Z2 = {{}, {11, 2}, 0x5202}; // all-zero first addresses
    const Bytes a = rec(A), b = rec(B), d = rec(D), c2 = close2(), none(64);
    auto q = [](const AceKey &k) { return close1(k.qualifier); };
    // clang-format off
    const SlotCase cases[] = {
        {"oldest closed over", {{1, {A, B}}}, 0, {a, q(B), c2}},
        {"other interfaces count", {{1, {A, Z}}, {2, {B, Z2}}}, 1, {a, b, q(B), c2}},
        {"skipped first keeps slot", {{1, {A, B}}, {2, {Z, C}}}, 0, {a, b, q(C), c2}},
        {"first overwrites last", {{1, {A, B, C}}, {2, {D, E}}}, 1, {a, b, d, q(E), c2}},
        {"named without ACEs", {{1, {A, B}}, {2, {}}}, 1, {close1(0), c2}},
        {"no ACEs", {{1, {A, Z}}, {3, {}}, {2, {B, Z2}}}, 0, {a, b, q(B), c2}},
        {"single ACEs share slot 0", {{1, {A}}, {2, {B}}, {3, {C}}}, 1, {q(C), c2}},
        {"all-zero mid-list", {{1, {A, Z, B}}}, 0, {a, none, q(B), c2}},
        {"last record written", {{1, {A, B}}, {2, {Z, Z2}}}, 0, {a, b, q(B), c2}},
        {"count above length", {{1, {A}, 3}}, 0, {a, none, q(A), c2}},
        {"count below length", {{1, {A, B, C}, 2}}, 0, {a, q(B), c2}},
    };
    // clang-format on
    for (const SlotCase &c : cases) {
        SCOPED_TRACE(c.name);
        reset();
        reg = Registry();
        std::vector<IntfNode *> nodes;
        for (const Intf &i : c.intfs)
            nodes.push_back(reg.add(i.if_index, i.aces, i.count));
        ASSERT_EQ(program(nodes[c.named]), 0u);
        EXPECT_EQ(sent(0),
                  batch(1, {request(1, kVlan, c.intfs[c.named].if_index,
                                    c.records)}));
    }
}

} // namespace builder_test
