// The bytes of one interface's programming request: header fields, ACE
// records, the slot rule in its tricky arrangements, and the closing records.
#include "builder_support.h"

namespace builder_test {
namespace {

const Ace A = ace(0xA1, 0x0A01);
const Ace B = ace(0xB2, 0x0B02);
const Ace C = ace(0xC3, 0x0C03);
const Ace D = ace(0xD4, 0x0D04);
const Ace E = ace(0xE5, 0x0E05);
const Ace Z = zero_ace(0x51, 0x5101);
const Ace Z2 = zero_ace(0x52, 0x5202);

constexpr uint16_t kVlan = 100;

using RequestBytes = BuilderTest;

TEST_F(RequestBytes, AnInterfaceWithoutAcesGetsOnly152BytesOfClosingRecords) {
    Registry reg(kVlan);
    IntfNode *x = reg.add(7, {});

    ASSERT_EQ(program(reg.vlan(), x, /*install=*/1), 0u);

    const Bytes expected = request(1, kVlan, 7, {first_closing(0), second_closing()});
    ASSERT_EQ(expected.size(), 152u);
    EXPECT_EQ(sent(0), batch(1, 1, {expected}));
    EXPECT_EQ(sends().at(0).length, 160u);
}

TEST_F(RequestBytes, InstallFlagZeroSelectsOperationTwoAndAnyNonzeroFlagOperationOne) {
    Registry reg(kVlan);
    IntfNode *x = reg.add(7, {A});

    ASSERT_EQ(program(reg.vlan(), x, /*install=*/0), 0u);
    ASSERT_EQ(program(reg.vlan(), x, /*install=*/0x80000000u), 0u);

    EXPECT_EQ(u32(sent(0), 8 + 0), 2u);
    EXPECT_EQ(u32(sent(1), 8 + 0), 1u);
}

TEST_F(RequestBytes, HeaderCarriesTheLow16BitsOfTheVlanAndTheInterfaceIndex) {
    Registry reg(0x12345);
    IntfNode *x = reg.add(0xCAFE0042u, {A});

    ASSERT_EQ(program(reg.vlan(), x), 0u);

    const Bytes s = sent(0);
    EXPECT_EQ(Bytes(s.begin() + 8, s.begin() + 32), header(1, 0x2345, 0xCAFE0042u, 2));
}

TEST_F(RequestBytes, EveryFieldOfAnAceRecordLiesAtItsSpecifiedOffset) {
    Registry reg(kVlan);
    const Ace a{{0xFF, 0x01, 0x02, 0x03, 0x04, 0xFE}, {0x10, 0x20, 0x30, 0x40, 0x50, 0x60}, 0xBEEF};
    IntfNode *x = reg.add(7, {a, Z});

    ASSERT_EQ(program(reg.vlan(), x), 0u);

    const Bytes s = sent(0);
    const Bytes rec(s.begin() + 8 + 24, s.begin() + 8 + 24 + 64);
    Bytes expected(64, 0);
    const uint8_t fixed[64] = {
        3, 0, 0, 0,  0, 0, 0, 0,                       // fltr_tlv8, pad
        1, 0, 0, 0,  0, 0, 0, 0,                       // fltr_flags (little end.)
        0xEF, 0xBE,                                    // qualifier
        0xFF, 0x01, 0x02, 0x03, 0x04, 0xFE,            // addr1
        0, 0, 0, 0, 0, 0,                              // addr2
        0x10, 0x20, 0x30, 0x40, 0x50, 0x60,            // addr3 = second address
        0, 0, 0, 0, 0, 0,                              // addr4
        0, 0, 0, 0, 0, 0,                              // pad
        1, 0, 0, 0,  0, 0, 0, 0,                       // actn_flags
        1, 0, 0, 0,                                    // actn_tlv10
        0, 0, 0, 0,                                    // actn_tlv11
    };
    // The literal above is little-endian; on other hosts compare field-wise.
    const uint16_t probe = 1;
    if (*reinterpret_cast<const uint8_t *>(&probe) == 1) {
        EXPECT_EQ(rec, Bytes(fixed, fixed + 64));
    }
    EXPECT_EQ(rec, ace_record(a));
}

TEST_F(RequestBytes, ClosingRecordsHaveExactlyTheirSpecifiedBytes) {
    Registry reg(kVlan);
    IntfNode *x = reg.add(7, {A, B});

    ASSERT_EQ(program(reg.vlan(), x), 0u);

    const Bytes s = sent(0);
    const Bytes close1(s.begin() + 8 + 24 + 64, s.begin() + 8 + 24 + 128);
    const Bytes close2(s.begin() + 8 + 24 + 128, s.end());
    EXPECT_EQ(u32(close1, 0), 3u);
    EXPECT_EQ(get<uint64_t>(close1, 8), 0u);
    EXPECT_EQ(get<uint16_t>(close1, 16), B.qualifier);
    EXPECT_EQ(get<uint64_t>(close1, 48), 1u);
    EXPECT_EQ(u32(close1, 56), 0u);
    EXPECT_EQ(close1, first_closing(B.qualifier));
    EXPECT_EQ(u32(close2, 0), 1u);
    EXPECT_EQ(get<uint64_t>(close2, 48), 1u);
    EXPECT_EQ(close2, second_closing());
}

// ---- the slot rule ----

struct IntfSpec {
    uint32_t if_index;
    std::vector<Ace> aces;
    std::optional<uint32_t> count = std::nullopt;
};

struct SlotCase {
    const char *name;
    std::vector<IntfSpec> intfs; // in VLAN list order
    size_t named;                // index into intfs
    std::vector<Bytes> slots;    // expected records, closing ones included
};

class SlotRule : public BuilderTest, public ::testing::WithParamInterface<SlotCase> {};

TEST_P(SlotRule, RequestHoldsExactlyTheExpectedRecords) {
    const SlotCase &c = GetParam();
    Registry reg(kVlan);
    std::vector<IntfNode *> nodes;
    for (const IntfSpec &i : c.intfs)
        nodes.push_back(reg.add(i.if_index, i.aces, i.count));

    ASSERT_EQ(program(reg.vlan(), nodes.at(c.named)), 0u);

    const Bytes expected = request(1, kVlan, c.intfs.at(c.named).if_index, c.slots);
    EXPECT_EQ(sent(0), batch(1, 1, {expected}));
    EXPECT_EQ(sent(0).size(), 8 + 24 + 64 * c.slots.size());
}

const SlotCase kSlotCases[] = {
    {"OneInterfaceTwoAcesOldestReplacedByClosing",
     {{1, {A, B}}}, 0,
     {ace_record(A), first_closing(B.qualifier), second_closing()}},
    {"SpecExampleRequestForFirstInterface",
     {{1, {A, Z}}, {2, {B, Z2}}}, 0,
     {ace_record(A), ace_record(B), first_closing(B.qualifier), second_closing()}},
    {"SpecExampleRequestForSecondInterface",
     {{1, {A, Z}}, {2, {B, Z2}}}, 1,
     {ace_record(A), ace_record(B), first_closing(B.qualifier), second_closing()}},
    {"SkippedFirstNodeOfNextInterfaceKeepsPreviousRecord",
     {{1, {A, B}}, {2, {Z, C}}}, 0,
     {ace_record(A), ace_record(B), first_closing(C.qualifier), second_closing()}},
    {"NextInterfaceFirstRecordOverwritesLastOfPrevious",
     {{1, {A, B, C}}, {2, {D, E}}}, 1,
     {ace_record(A), ace_record(B), ace_record(D), first_closing(E.qualifier), second_closing()}},
    {"OnlyAllZeroAceWritesNoRecordAndClosingQualifierZero",
     {{1, {Z}}}, 0,
     {first_closing(0), second_closing()}},
    {"NamedInterfaceWithoutAcesIgnoresTheOthers",
     {{1, {A, B}}, {2, {}}}, 1,
     {first_closing(0), second_closing()}},
    {"InterfacesWithoutAcesArePassedOver",
     {{1, {A, Z}}, {3, {}}, {2, {B, Z2}}}, 0,
     {ace_record(A), ace_record(B), first_closing(B.qualifier), second_closing()}},
    {"SingleAceInterfacesAllShareSlotZero",
     {{1, {A}}, {2, {B}}, {3, {C}}}, 1,
     {first_closing(C.qualifier), second_closing()}},
    {"AllZeroAceInTheMiddleLeavesItsSlotZero",
     {{1, {A, Z, B}}}, 0,
     {ace_record(A), zero_record(), first_closing(B.qualifier), second_closing()}},
    {"ClosingQualifierIsThatOfTheLastRecordWrittenNotLastNode",
     {{1, {A, B}}, {2, {Z, Z2}}}, 0,
     {ace_record(A), ace_record(B), first_closing(B.qualifier), second_closing()}},
    {"CountAboveListLengthStopsWalkAtListEnd",
     {{1, {A}, 3}}, 0,
     {ace_record(A), zero_record(), first_closing(A.qualifier), second_closing()}},
    {"CountBelowListLengthWalksOnlyCountNodes",
     {{1, {A, B, C}, 2}}, 0,
     {ace_record(A), first_closing(B.qualifier), second_closing()}},
    {"CountOneWithLongerListUsesOnlyTheNewest",
     {{1, {A, B}, 1}}, 0,
     {first_closing(A.qualifier), second_closing()}},
};

INSTANTIATE_TEST_SUITE_P(Arrangements, SlotRule, ::testing::ValuesIn(kSlotCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(RequestBytes, RequestsOfTwoInterfacesOfTheSpecExampleDifferOnlyInDestination) {
    Registry reg(kVlan);
    IntfNode *x = reg.add(1, {A, Z});
    IntfNode *y = reg.add(2, {B, Z2});

    ASSERT_EQ(program(reg.vlan(), x, 1, /*defer=*/1), 0u);
    ASSERT_EQ(program(reg.vlan(), y, 1, /*defer=*/0), 0u);

    const Bytes rx = request(1, kVlan, 1,
                             {ace_record(A), ace_record(B), first_closing(B.qualifier), second_closing()});
    ASSERT_EQ(rx.size(), 280u);
    EXPECT_EQ(sent(0), batch(0, 2, {rx, with_if_index(rx, 2)}));
}

TEST_F(RequestBytes, BuildingReadsTheRegistryWithoutChangingIt) {
    Registry reg(kVlan);
    IntfNode *x = reg.add(1, {A, B});
    IntfNode *y = reg.add(2, {Z, C});
    const VlanNode vlan_before = *reg.vlan();
    const IntfNode x_before = *x, y_before = *y;

    ASSERT_EQ(program(reg.vlan(), x), 0u);

    EXPECT_EQ(std::memcmp(&vlan_before, reg.vlan(), sizeof vlan_before), 0);
    EXPECT_EQ(std::memcmp(&x_before, x, sizeof x_before), 0);
    EXPECT_EQ(std::memcmp(&y_before, y, sizeof y_before), 0);
    EXPECT_EQ(std::memcmp(x->first->key.addr1, A.addr1.data(), 6), 0);
}

} // namespace
} // namespace builder_test
