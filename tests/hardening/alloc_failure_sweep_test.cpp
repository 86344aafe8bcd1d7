// Allocation-failure sweep: every public operation that allocates is run
// with its 1st, 2nd, 3rd ... allocation failing, until a run completes
// without any failure. After each run the status is the one that failure
// must give, the visible state is the one it must leave, the registries
// keep their invariants and, once the test has released what it owns,
// nothing is left allocated. (Run under the asan preset, the same sweep
// also proves that no failure path writes out of bounds.)
#include <cinttypes>
#include <cstdio>
#include <functional>

#include "hardening_support.h"

namespace hardening {
namespace {

constexpr uint32_t kOk = OSTREL_STATUS_OK;
constexpr uint32_t kNoEntry = OSTREL_STATUS_NO_ENTRY;
constexpr uint32_t kInvalid = OSTREL_STATUS_INVALID;
constexpr uint32_t kNoMemory = 0x41050004u; // TLV library's own allocation
constexpr uint32_t kVlan = 10;
constexpr uint32_t kPc = 0x5000;

// What a run with one allocation failing must end in.
struct Point {
    const char *allocation; // which allocation fails
    uint32_t status;
    std::string state; // the scenario's description of the visible state
    size_t sends;      // successful batch or message sends
};

struct Scenario {
    std::function<void()> setup = [] {};
    std::function<uint32_t()> op;
    std::function<std::string()> state = [] { return std::string(); };
    std::vector<Point> points; // allocation k fails: points[k - 1]
    Point done;                // nothing failed
    bool sends_batches = true; // what goes out are programming batches
};

long total_points_swept = 0;

size_t successful_sends() {
    size_t n = 0;
    for (const sim::Call &c : sim::calls_of(sim::Op::Send)) {
        n += c.result == 0;
    }
    return n;
}

void expect_batches_well_formed() {
    for (const sim::Call &c : sim::calls_of(sim::Op::Send)) {
        EXPECT_EQ(batch_defect(c.payload), "");
    }
}

// Runs one attempt with allocation k failing (0: none); true when an
// allocation did fail.
bool attempt(const Scenario &s, long k, const Point &expected) {
    start_clean();
    s.setup();
    sim::reset(); // count and record only the operation itself
    const long before = sim::allocations_made();
    sim::fail_allocation(k);
    const uint32_t status = s.op();
    sim::fail_allocation(0);
    const bool failed = k > 0 && sim::allocations_made() - before >= k;
    const std::string state = s.state();
    if (failed || k == 0) {
        EXPECT_EQ(status, expected.status) << expected.allocation;
        EXPECT_EQ(state, expected.state) << expected.allocation;
        EXPECT_EQ(successful_sends(), expected.sends) << expected.allocation;
    }
    expect_registry_invariants();
    clear_builder_state();
    free_registries();
    EXPECT_EQ(sim::live_allocations(), 0)
        << "leak after " << expected.allocation;
    return failed;
}

// Sweeps k = 1, 2, ... until nothing fails; returns the points swept.
long sweep(const Scenario &s) {
    const Point none{"no allocation beyond the last", kOk, "", 0};
    long k = 1;
    for (; k <= static_cast<long>(s.points.size()) + 1; ++k) {
        const bool extra = k > static_cast<long>(s.points.size());
        const Point &p = extra ? s.done : s.points[k - 1];
        SCOPED_TRACE("allocation " + std::to_string(k) + " (" + p.allocation +
                     ") fails");
        const bool failed = attempt(s, k, extra ? none : p);
        EXPECT_EQ(failed, !extra)
            << "the operation made " << (failed ? "more" : "fewer")
            << " allocations than expected";
        if (!failed) {
            break;
        }
    }
    SCOPED_TRACE("no allocation fails");
    attempt(s, 0, s.done);
    if (s.sends_batches) {
        expect_batches_well_formed();
    }
    const long swept = static_cast<long>(s.points.size());
    total_points_swept += swept;
    ::testing::Test::RecordProperty("failure_points", static_cast<int>(swept));
    return swept;
}

class SweepTally : public ::testing::Environment {
  public:
    void TearDown() override {
        std::printf("allocation-failure sweep: %ld failure points swept\n",
                    total_points_swept);
    }
};
[[maybe_unused]] const auto *const kTally =
    ::testing::AddGlobalTestEnvironment(new SweepTally);

// ---- client calls ----
yarl_msg msg;

uint32_t add(uint32_t if_index, uint32_t tag) {
    return ostrel_api_program_acl(kHandle, addr1_of(tag).data(),
                                  addr2_of(tag).data(), kVlan, if_index, tag,
                                  &msg, 1);
}
uint32_t del(uint32_t if_index, uint32_t tag) {
    return ostrel_api_program_acl(kHandle, addr1_of(tag).data(),
                                  addr2_of(tag).data(), kVlan, if_index, tag,
                                  &msg, 0);
}
uint32_t pc(uint32_t tag, uint32_t add_flag) {
    return ostrel_api_pc_program_acl(kHandle, addr1_of(tag).data(),
                                     addr2_of(tag).data(), kVlan, kPc, tag,
                                     &msg, add_flag);
}
void drain() {
    EXPECT_EQ(brisel_api_yarl_gobble(kHandle, &msg), kOk);
}

AceKey key_of(uint32_t tag) {
    AceKey key{};
    std::memcpy(key.addr1, addr1_of(tag).data(), 6);
    std::memcpy(key.addr2, addr2_of(tag).data(), 6);
    key.qualifier = static_cast<uint16_t>(tag);
    return key;
}

IntfNode *intf(uint32_t if_index) {
    VlanNode *v = brisel_vlan_lookup(kVlan);
    return v ? brisel_intf_lookup(v, if_index) : nullptr;
}

bool on_intf(uint32_t if_index, uint32_t tag) {
    IntfNode *i = intf(if_index);
    const AceKey key = key_of(tag);
    return i && brisel_ace_lookup(i, &key);
}

bool on_pc(uint32_t tag) {
    PcNode *p = brisel_pc_lookup(kPc);
    PoVlanNode *pv = p ? brisel_povlan_lookup(p, kVlan) : nullptr;
    const AceKey key = key_of(tag);
    return pv && brisel_poace_lookup(pv, &key);
}

// "pc:<recorded on the port channel> m:<members holding it>".
std::string pc_state(uint32_t tag, std::initializer_list<uint32_t> members) {
    int holding = 0;
    for (uint32_t m : members) {
        holding += on_intf(m, tag);
    }
    return "pc:" + std::to_string(on_pc(tag)) + " m:" + std::to_string(holding);
}

// ---- ACL programming ----

TEST(AllocationSweep, InterfaceAddCreatingItsVlan) {
    Scenario s;
    s.op = [] { return add(1, 1); };
    s.state = [] {
        return "vlans:" + std::to_string(brisel_handle.count) +
               " intf:" + std::to_string(intf(1) != nullptr) +
               " ace:" + std::to_string(on_intf(1, 1));
    };
    s.points = {{"vlan node", kNoEntry, "vlans:0 intf:0 ace:0", 0},
                {"interface node", kNoEntry, "vlans:1 intf:0 ace:0", 0},
                {"ace node (not reported)", kOk, "vlans:1 intf:1 ace:0", 1},
                {"request", kInvalid, "vlans:1 intf:1 ace:1", 0},
                {"batch", kInvalid, "vlans:1 intf:1 ace:1", 0}};
    s.done = {"none", kOk, "vlans:1 intf:1 ace:1", 1};
    EXPECT_EQ(sweep(s), 5);
}

TEST(AllocationSweep, InterfaceAddToMultiInterfaceVlan) {
    Scenario s;
    s.setup = [] {
        ASSERT_EQ(add(1, 1), kOk);
        drain();
        ASSERT_EQ(add(2, 2), kOk);
        drain();
    };
    s.op = [] { return add(3, 3); };
    s.state = [] {
        return "intf:" + std::to_string(intf(3) != nullptr) +
               " ace:" + std::to_string(on_intf(3, 3)) +
               " open:" + std::to_string(batch_buf != nullptr);
    };
    // Interfaces newest first: 3 (named, last), 2, 1.
    s.points = {{"interface node", kNoEntry, "intf:0 ace:0 open:0", 0},
                {"ace node (not reported)", kOk, "intf:1 ace:0 open:0", 1},
                {"request of 2", kInvalid, "intf:1 ace:1 open:0", 0},
                {"batch", kInvalid, "intf:1 ace:1 open:0", 0},
                {"request of 1", kInvalid, "intf:1 ace:1 open:1", 0},
                {"request of 3", kInvalid, "intf:1 ace:1 open:1", 0}};
    s.done = {"none", kOk, "intf:1 ace:1 open:0", 1};
    EXPECT_EQ(sweep(s), 6);
}

TEST(AllocationSweep, InterfaceDeleteOfLastAceInMultiInterfaceVlan) {
    Scenario s;
    s.setup = [] {
        for (uint32_t i = 1; i <= 3; ++i) {
            ASSERT_EQ(add(i, i), kOk);
            drain();
        }
    };
    s.op = [] { return del(1, 1); };
    s.state = [] {
        return "ace:" + std::to_string(on_intf(1, 1)) +
               " intf:" + std::to_string(intf(1) != nullptr);
    };
    // A failing deferred call keeps the emptied node; the last call's
    // failure removes it all the same.
    s.points = {{"request of 3", kInvalid, "ace:0 intf:1", 0},
                {"batch", kInvalid, "ace:0 intf:1", 0},
                {"request of 2", kInvalid, "ace:0 intf:1", 0},
                {"request of 1", kInvalid, "ace:0 intf:0", 0}};
    s.done = {"none", kOk, "ace:0 intf:0", 1};
    EXPECT_EQ(sweep(s), 4);
}

TEST(AllocationSweep, PortChannelAddOverThreeMembers) {
    Scenario s;
    s.setup = [] { sim::set_pc_members(kPc, {21, 22, 23}); };
    s.op = [] {
        sim::set_pc_members(kPc, {21, 22, 23});
        return pc(5, 1);
    };
    s.state = [] { return pc_state(5, {21, 22, 23}); };
    s.points = {{"pc node", kNoEntry, "pc:0 m:0", 0},
                {"pc vlan node", kNoEntry, "pc:0 m:0", 0},
                {"pc ace node", kNoEntry, "pc:0 m:0", 0},
                {"21: vlan node", kNoEntry, "pc:1 m:0", 0},
                {"21: interface node", kNoEntry, "pc:1 m:0", 0},
                {"21: ace node (not reported)", kOk, "pc:1 m:2", 3},
                {"21: request", kInvalid, "pc:1 m:1", 0},
                {"21: batch", kInvalid, "pc:1 m:1", 0},
                {"22: interface node", kNoEntry, "pc:1 m:1", 1},
                {"22: ace node (not reported)", kOk, "pc:1 m:2", 3},
                {"22: request of 21", kInvalid, "pc:1 m:2", 1},
                {"22: batch", kInvalid, "pc:1 m:2", 1},
                {"22: request of 22", kInvalid, "pc:1 m:2", 1},
                {"23: interface node", kNoEntry, "pc:1 m:2", 2},
                {"23: ace node (not reported)", kOk, "pc:1 m:2", 3},
                {"23: request of 22", kInvalid, "pc:1 m:3", 2},
                {"23: batch", kInvalid, "pc:1 m:3", 2},
                {"23: request of 21", kInvalid, "pc:1 m:3", 2},
                {"23: request of 23", kInvalid, "pc:1 m:3", 2}};
    s.done = {"none", kOk, "pc:1 m:3", 3};
    EXPECT_EQ(sweep(s), 19);
}

TEST(AllocationSweep, PortChannelDeleteOverTwoMembers) {
    Scenario s;
    s.setup = [] {
        sim::set_pc_members(kPc, {21, 22});
        ASSERT_EQ(pc(5, 1), kOk);
        drain();
    };
    s.op = [] {
        sim::set_pc_members(kPc, {21, 22});
        return pc(5, 0);
    };
    s.state = [] {
        return pc_state(5, {21, 22}) +
               " pcs:" + std::to_string(brisel_pchandle.count) +
               " vlans:" + std::to_string(brisel_handle.count);
    };
    // Member 21: the VLAN holds 22 (newest) and 21; member 22: only 22.
    s.points = {{"21: request of 22", kInvalid, "pc:1 m:1 pcs:1 vlans:1", 0},
                {"21: batch", kInvalid, "pc:1 m:1 pcs:1 vlans:1", 0},
                {"21: request of 21", kInvalid, "pc:1 m:1 pcs:1 vlans:1", 0},
                {"22: request of 22", kInvalid, "pc:1 m:0 pcs:1 vlans:0", 1},
                {"22: batch", kInvalid, "pc:1 m:0 pcs:1 vlans:0", 1}};
    s.done = {"none", kOk, "pc:0 m:0 pcs:0 vlans:0", 2};
    EXPECT_EQ(sweep(s), 5);
}

// Interface 1 holds 1000 ACEs, so every request of the VLAN is 64088 bytes;
// two deferred ones leave too little room for a third, which flushes.
TEST(AllocationSweep, RequestBuilderWithFlush) {
    constexpr uint32_t kRequest = 152 + 64 * 999;
    Scenario s;
    s.setup = [] {
        VlanNode *v = brisel_vlan_add(kVlan);
        IntfNode *big = brisel_intf_add(v, 1);
        IntfNode *small = brisel_intf_add(v, 2);
        ASSERT_TRUE(v && big && small);
        for (uint32_t tag = 1; tag <= 1000; ++tag) {
            brisel_ace_add(big, brisel_ace_alloc(addr1_of(tag).data(),
                                                 addr2_of(tag).data(), tag));
        }
        brisel_ace_add(small, brisel_ace_alloc(addr1_of(2000).data(),
                                               addr2_of(2000).data(), 2000));
        ASSERT_EQ(ostrel_api_program_intf(kHandle, &msg, v, big, 1, 1), kOk);
        ASSERT_EQ(ostrel_api_program_intf(kHandle, &msg, v, big, 1, 1), kOk);
        ASSERT_EQ(batch_len, 8 + 2 * kRequest);
    };
    s.op = [] {
        return ostrel_api_program_intf(kHandle, &msg, brisel_vlan_lookup(kVlan),
                                       intf(2), 1, 0);
    };
    s.state = [] {
        return "open:" + std::to_string(batch_buf != nullptr) +
               " len:" + std::to_string(batch_len);
    };
    const std::string open_with_two =
        "open:1 len:" + std::to_string(8 + 2 * kRequest);
    s.points = {{"request", kInvalid, open_with_two, 0},
                {"new batch after the flush", kInvalid, "open:0 len:0", 1}};
    s.done = {"none", kOk, "open:0 len:0", 2};
    EXPECT_EQ(sweep(s), 2);
}

// ---- codecs ----

ostrel_api_ace_t sample_ace(uint32_t tag) {
    ostrel_api_ace_t ace{};
    ace.fltr.fltr_tlv8 = 3;
    ace.fltr.fltr_flags = OSTREL_FLTR_FLAG_PRESENT;
    ace.fltr.fltr_qualifier = static_cast<uint16_t>(tag);
    std::memcpy(ace.fltr.fltr_addr1, addr1_of(tag).data(), 6);
    std::memcpy(ace.fltr.fltr_addr3, addr2_of(tag).data(), 6);
    ace.actn.actn_flags = OSTREL_ACTN_FLAG_TLV10 | OSTREL_ACTN_FLAG_TLV11;
    ace.actn.actn_tlv10 = 1;
    ace.actn.actn_tlv11 = tag;
    return ace;
}

// Outputs of the last encoder call; "untouched" while they keep their
// preset values.
struct Out {
    uint8_t *buf = nullptr;
    uint32_t len = 0xDEADu;
    uint32_t owned = 7;
    std::string state() const {
        return buf == nullptr && len == 0xDEADu && owned == 7 ? "untouched"
                                                              : "written";
    }
    void release() {
        std::free(buf);
        *this = Out{};
    }
};
Out out;

using PartEncoder = uint32_t (*)(const void *, uint32_t, uint8_t **, uint32_t *,
                                 uint32_t *);

Scenario part_encoder_scenario(PartEncoder encoder) {
    Scenario s;
    s.op = [encoder] {
        out = Out{};
        const ostrel_api_ace_t ace = sample_ace(1);
        const uint32_t status =
            encoder(&ace, 0, &out.buf, &out.len, &out.owned);
        return status;
    };
    s.state = [] {
        const std::string st = out.state();
        out.release();
        return st;
    };
    s.points = {{"encoding buffer", kNoEntry, "untouched", 0}};
    s.done = {"none", kOk, "written", 0};
    return s;
}

TEST(AllocationSweep, AceFilterAndActionEncoders) {
    EXPECT_EQ(sweep(part_encoder_scenario(ostrel_api_ace_fltr_struct_to_tlv)),
              1);
    EXPECT_EQ(sweep(part_encoder_scenario(ostrel_api_ace_actn_struct_to_tlv)),
              1);
}

using ToTlv = uint32_t (*)(const void *, uint8_t **, uint32_t *, uint32_t,
                           uint32_t *, uint32_t);

// A request record with two ACEs behind its fixed part.
struct TwoAceRequest {
    alignas(8) uint8_t bytes[24 + 2 * 64];
    const ostrel_api_plcy_update_req_t *req() const {
        return reinterpret_cast<const ostrel_api_plcy_update_req_t *>(bytes);
    }
};
TwoAceRequest two_ace_request() {
    TwoAceRequest r{};
    auto *req = reinterpret_cast<ostrel_api_plcy_update_req_t *>(r.bytes);
    req->plcy = {1, 3};
    req->dst = {1, 1, kVlan, 7};
    req->num_aces = 2;
    req->aces[0] = sample_ace(1);
    req->aces[1] = sample_ace(2);
    return r;
}

const ostrel_api_plcy_t kPlcy{1, 3};
const ostrel_api_dst_t kDst{1, 1, kVlan, 7};
const ostrel_api_ace_t kAce = sample_ace(9);
const TwoAceRequest kRequest = two_ace_request();
const ostrel_api_plcy_update_resp_t kResp{0x1234};

Scenario to_tlv_scenario(ToTlv to_tlv, const void *rec,
                         std::vector<Point> points) {
    Scenario s;
    s.op = [to_tlv, rec] {
        out = Out{};
        uint32_t err_type = 0;
        return to_tlv(rec, &out.buf, &out.len, 0, &err_type, 0);
    };
    s.state = [] {
        const std::string st = out.state() == "untouched" ? "untouched"
                               : out.buf != nullptr       ? "encoded"
                                                          : "bad output";
        out.release();
        return st;
    };
    s.points = std::move(points);
    s.done = {"none", kOk, "encoded", 0};
    return s;
}

TEST(AllocationSweep, EveryRecordEncoder) {
    const Point buffer{"encoding buffer", kNoMemory, "untouched", 0};
    const Point fltr{"filter array", kNoEntry, "untouched", 0};
    const Point actn{"action array", kNoEntry, "untouched", 0};
    EXPECT_EQ(sweep(to_tlv_scenario(ostrel_api_plcy_to_tlv, &kPlcy, {buffer})),
              1);
    EXPECT_EQ(sweep(to_tlv_scenario(ostrel_api_dst_to_tlv, &kDst, {buffer})),
              1);
    EXPECT_EQ(sweep(to_tlv_scenario(ostrel_api_plcy_update_resp_to_tlv, &kResp,
                                    {buffer})),
              1);
    EXPECT_EQ(sweep(to_tlv_scenario(ostrel_api_ace_to_tlv, &kAce,
                                    {buffer, fltr, actn})),
              3);
    EXPECT_EQ(
        sweep(to_tlv_scenario(ostrel_api_plcy_update_req_to_tlv, &kRequest,
                              {buffer, fltr, actn, fltr, actn})),
        5);
}

using ToStruct = uint32_t (*)(const void *, uint32_t, void *, uint32_t);

// Decoding allocates nothing: the sweep finds no failure point, and the
// decoded record is the one encoded.
void expect_decoder_allocates_nothing(ToTlv to_tlv, ToStruct to_struct,
                                      const void *rec, size_t size) {
    uint8_t *tlv = nullptr;
    uint32_t len = 0;
    uint32_t err_type = 0;
    ASSERT_EQ(to_tlv(rec, &tlv, &len, 0, &err_type, 0), kOk);
    const std::vector<uint8_t> encoding(tlv, tlv + len);
    std::free(tlv);
    std::vector<uint64_t> decoded(size / 8 + 1);
    Scenario s;
    s.op = [&] {
        std::fill(decoded.begin(), decoded.end(), 0);
        return to_struct(encoding.data(), len, decoded.data(),
                         static_cast<uint32_t>(size));
    };
    s.state = [&] {
        return std::string(std::memcmp(decoded.data(), rec, size) == 0
                               ? "decoded"
                               : "differs");
    };
    s.done = {"none", kOk, "decoded", 0};
    EXPECT_EQ(sweep(s), 0);
}

TEST(AllocationSweep, EveryRecordDecoderAllocatesNothing) {
    expect_decoder_allocates_nothing(ostrel_api_plcy_to_tlv,
                                     ostrel_api_plcy_to_struct, &kPlcy,
                                     sizeof kPlcy);
    expect_decoder_allocates_nothing(
        ostrel_api_dst_to_tlv, ostrel_api_dst_to_struct, &kDst, sizeof kDst);
    expect_decoder_allocates_nothing(
        ostrel_api_ace_to_tlv, ostrel_api_ace_to_struct, &kAce, sizeof kAce);
    expect_decoder_allocates_nothing(ostrel_api_plcy_update_req_to_tlv,
                                     ostrel_api_plcy_update_req_to_struct,
                                     &kRequest, sizeof kRequest);
    expect_decoder_allocates_nothing(ostrel_api_plcy_update_resp_to_tlv,
                                     ostrel_api_plcy_update_resp_to_struct,
                                     &kResp, sizeof kResp);
}

TEST(AllocationSweep, PolicyUpdateSend) {
    Scenario s;
    s.op = [] {
        return ostrel_api_send_plcy_update(kHandle, 0, kRequest.req(), &msg);
    };
    s.points = {{"encoding buffer", kNoMemory, "", 0},
                {"filter array of ace 0", kNoEntry, "", 0},
                {"action array of ace 0", kNoEntry, "", 0},
                {"filter array of ace 1", kNoEntry, "", 0},
                {"action array of ace 1", kNoEntry, "", 0}};
    s.done = {"none", kOk, "", 1};
    s.sends_batches = false;
    EXPECT_EQ(sweep(s), 5);
}

} // namespace
} // namespace hardening
