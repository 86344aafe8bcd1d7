// AceNode allocation and comparison, shared by both registries.
#include "registry_support.h"

namespace registry_test {
namespace {

using AceNodes = RegistryTest;

TEST_F(AceNodes, AllocCopiesBothAddressesAndTheLow16BitsOfTheQualifier) {
    const Addr a1{1, 2, 3, 4, 5, 6}, a2{7, 8, 9, 10, 11, 12};
    AceNode *ace = brisel_ace_alloc(a1.data(), a2.data(), 0xabcd1234u);
    ASSERT_NE(ace, nullptr);
    EXPECT_EQ(std::memcmp(ace->key.addr1, a1.data(), 6), 0);
    EXPECT_EQ(std::memcmp(ace->key.addr2, a2.data(), 6), 0);
    EXPECT_EQ(ace->key.qualifier, 0x1234u);
    EXPECT_EQ(ace->next, nullptr);
    // Every other byte of the node, padding included, is zero.
    const auto *bytes = reinterpret_cast<const uint8_t *>(ace);
    for (size_t i = sizeof(AceKey); i < sizeof(AceNode); ++i)
        EXPECT_EQ(bytes[i], 0u) << "byte " << i;
    std::free(ace);
}

TEST_F(AceNodes, TheStartOfANodeIsItsKey) {
    static_assert(offsetof(AceNode, key) == 0);
    static_assert(offsetof(AceKey, addr1) == 0);
    static_assert(offsetof(AceKey, addr2) == 6);
    static_assert(offsetof(AceKey, qualifier) == 12);
}

struct CmpCase {
    const char *what;
    AceKey other;
    int32_t expected;
};

TEST_F(AceNodes, CmpIsAnEqualityTestOverAddressesAndQualifier) {
    const AceKey base = key_of(1, 0x0102);
    auto with = [&](auto change) {
        AceKey k = base;
        change(k);
        return k;
    };
    const CmpCase cases[] = {
        {"equal", base, 0},
        {"qualifier differs", with([](AceKey &k) { k.qualifier = 0x0103; }),
         -1},
        {"qualifier's high byte differs",
         with([](AceKey &k) { k.qualifier = 0x0202; }), -1},
        {"first address, first byte", with([](AceKey &k) { k.addr1[0] ^= 1; }),
         -1},
        {"first address, last byte",
         with([](AceKey &k) { k.addr1[5] ^= 0x80; }), -1},
        {"second address, first byte", with([](AceKey &k) { k.addr2[0] ^= 1; }),
         -1},
        {"second address, last byte",
         with([](AceKey &k) { k.addr2[5] ^= 0x80; }), -1},
        {"addresses swapped", key_of(addr2_of(1), addr1_of(1), 0x0102), -1},
        {"smaller first address still -1",
         with([](AceKey &k) { k.addr1[0] = 0; }), -1},
    };
    AceNode *node = brisel_ace_alloc(base.addr1, base.addr2, base.qualifier);
    ASSERT_NE(node, nullptr);
    for (const CmpCase &c : cases) {
        EXPECT_EQ(brisel_ace_cmp(node, &c.other), c.expected) << c.what;
        EXPECT_EQ(brisel_ace_cmp(&c.other, &base), c.expected)
            << c.what << " (bare keys)";
    }
    std::free(node);
}

TEST_F(AceNodes, CmpIgnoresWhatFollowsTheQualifier) {
    AceNode a{}, b{};
    a.key = key_of(3, 9);
    b.key = key_of(3, 9);
    b.next = &a; // different links, different padding bytes
    std::memset(reinterpret_cast<uint8_t *>(&b) + sizeof(AceKey), 0xff,
                offsetof(AceNode, next) - sizeof(AceKey));
    EXPECT_EQ(brisel_ace_cmp(&a, &b.key), 0);
    EXPECT_EQ(brisel_ace_cmp(&b, &a.key), 0);
}

TEST_F(AceNodes, AFailedAllocGivesNull) {
    sim::fail_allocation(1);
    EXPECT_EQ(brisel_ace_alloc(addr1_of(1).data(), addr2_of(1).data(), 1),
              nullptr);
    EXPECT_EQ(sim::live_allocations(), 0);
    AceNode *ace = brisel_ace_alloc(addr1_of(1).data(), addr2_of(1).data(), 1);
    EXPECT_NE(ace, nullptr); // only the one allocation failed
    std::free(ace);
}

} // namespace
} // namespace registry_test
