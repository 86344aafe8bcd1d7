// Model-based stress test: seeded random sequences of interface and
// port-channel adds and deletes, with scripted transport failures mixed in.
// After every step the registries must match the model exactly (content and
// list order) and keep their invariants, the status must be the model's,
// and every send attempt on the transport must carry the model's batch in
// a well-formed payload. At the end everything is deleted again: the
// registries are empty and no block is left allocated.
#include <cstdio>
#include <random>

#include "hardening_support.h"
#include "programming_model.h"

namespace hardening {
namespace {

constexpr uint32_t kVlans[] = {10, 20, 30};
constexpr uint32_t kInterfaces = 6; // interface indexes 1..6
constexpr uint32_t kTags = 24;
constexpr size_t kMaxAces = 100; // keeps every batch far below its size
constexpr int kErrno = 0x1234;

struct PortChannel {
    uint32_t if_index;
    std::vector<uint32_t> members;
};
const std::vector<PortChannel> kPortChannels = {
    {100, {1, 2, 3}}, {101, {4, 5}}, {102, {}}};

std::string ace_text(uint32_t tag, bool zero) {
    return std::to_string(tag) + (zero ? "z" : "");
}

std::string ace_text(const AceNode *a) {
    const uint32_t tag = a->key.qualifier;
    const bool zero = std::memcmp(a->key.addr1, kZeroAddr.data(), 6) == 0;
    const bool addr1_ok =
        zero || std::memcmp(a->key.addr1, addr1_of(tag).data(), 6) == 0;
    const bool addr2_ok =
        std::memcmp(a->key.addr2, addr2_of(tag).data(), 6) == 0;
    return ace_text(tag, zero) + (addr1_ok && addr2_ok ? "" : "?");
}

template <typename Node> std::string aces_text(const Node *parent) {
    std::string s;
    for (const AceNode *a = parent->first; a; a = a->next) {
        s += (s.empty() ? "" : " ") + ace_text(a);
    }
    return s;
}

// Both registries as "v<vlan>[i<if>(<aces>)...] pc<pc>[v<vlan>(<aces>)...]".
std::string registry_text() {
    std::string s;
    for (const VlanNode *v = brisel_handle.next; v; v = v->next) {
        s += "v" + std::to_string(v->vlan_id) + "[";
        for (const IntfNode *i = v->first; i; i = i->next) {
            s += "i" + std::to_string(i->if_index) + "(" + aces_text(i) + ")";
        }
        s += "] ";
    }
    for (const PcNode *p = brisel_pchandle.next; p; p = p->next) {
        s += "pc" + std::to_string(p->if_index) + "[";
        for (const PoVlanNode *v = p->first; v; v = v->next) {
            s += "v" + std::to_string(v->vlan_id) + "(" + aces_text(v) + ")";
        }
        s += "] ";
    }
    return s;
}

std::string aces_text(const std::vector<ModelAce> &aces) {
    std::string s;
    for (const ModelAce &a : aces) {
        s += (s.empty() ? "" : " ") + ace_text(a.tag, a.zero_addr1);
    }
    return s;
}

std::string model_text(const ProgrammingModel &m) {
    std::string s;
    for (const ModelVlan &v : m.vlans) {
        s += "v" + std::to_string(v.vlan) + "[";
        for (const ModelIntf &i : v.intfs) {
            s += "i" + std::to_string(i.if_index) + "(" + aces_text(i.aces) +
                 ")";
        }
        s += "] ";
    }
    for (const ModelPc &p : m.pcs) {
        s += "pc" + std::to_string(p.pc) + "[";
        for (const ModelPoVlan &v : p.vlans) {
            s += "v" + std::to_string(v.vlan) + "(" + aces_text(v.aces) + ")";
        }
        s += "] ";
    }
    return s;
}

// Whether an ACE node holds the key of model ACE `m`.
bool same_ace(const AceNode *a, const ModelAce &m) {
    const Addr a1 = m.zero_addr1 ? kZeroAddr : addr1_of(m.tag);
    return a->key.qualifier == m.tag &&
           std::memcmp(a->key.addr1, a1.data(), 6) == 0 &&
           std::memcmp(a->key.addr2, addr2_of(m.tag).data(), 6) == 0;
}

template <typename Node>
bool same_aces(const Node *parent, const std::vector<ModelAce> &aces) {
    const AceNode *a = parent->first;
    for (const ModelAce &m : aces) {
        if (a == nullptr || !same_ace(a, m)) {
            return false;
        }
        a = a->next;
    }
    return a == nullptr;
}

// Walks both registries alongside the model, in list order.
bool registry_matches(const ProgrammingModel &m) {
    const VlanNode *v = brisel_handle.next;
    for (const ModelVlan &mv : m.vlans) {
        if (v == nullptr || v->vlan_id != mv.vlan) {
            return false;
        }
        const IntfNode *i = v->first;
        for (const ModelIntf &mi : mv.intfs) {
            if (i == nullptr || i->if_index != mi.if_index ||
                !same_aces(i, mi.aces)) {
                return false;
            }
            i = i->next;
        }
        if (i != nullptr) {
            return false;
        }
        v = v->next;
    }
    const PcNode *p = brisel_pchandle.next;
    for (const ModelPc &mp : m.pcs) {
        if (p == nullptr || p->if_index != mp.pc) {
            return false;
        }
        const PoVlanNode *pv = p->first;
        for (const ModelPoVlan &mpv : mp.vlans) {
            if (pv == nullptr || pv->vlan_id != mpv.vlan ||
                !same_aces(pv, mpv.aces)) {
                return false;
            }
            pv = pv->next;
        }
        if (pv != nullptr) {
            return false;
        }
        p = p->next;
    }
    return v == nullptr && p == nullptr;
}

// A sent payload as "w<word0> <if>:<op> ...".
std::string batch_text(const std::vector<uint8_t> &payload) {
    uint32_t word0 = 0;
    std::memcpy(&word0, payload.data(), 4);
    std::string s = "w" + std::to_string(word0);
    for (size_t off = 8; off + 24 <= payload.size();) {
        uint32_t op = 0, if_index = 0, num_aces = 0;
        std::memcpy(&op, payload.data() + off, 4);
        std::memcpy(&if_index, payload.data() + off + 16, 4);
        std::memcpy(&num_aces, payload.data() + off + 20, 4);
        s += " " + std::to_string(if_index) + ":" + std::to_string(op);
        off += 24 + 64 * size_t{num_aces};
    }
    return s;
}

class ProgrammingStress : public ::testing::TestWithParam<uint32_t> {
  protected:
    void SetUp() override {
        start_clean();
        for (const PortChannel &pc : kPortChannels) {
            sim::set_pc_members(pc.if_index, pc.members);
        }
    }
    void TearDown() override { start_clean(); }

    struct Ace {
        uint32_t tag;
        bool zero;
        Addr addr1() const { return zero ? kZeroAddr : addr1_of(tag); }
        ModelAce model() const { return {tag, zero}; }
    };

    uint32_t intf_op(uint32_t vlan, uint32_t if_index, Ace ace, bool add) {
        return ostrel_api_program_acl(kHandle, ace.addr1().data(),
                                      addr2_of(ace.tag).data(), vlan, if_index,
                                      ace.tag, &msg, add);
    }
    uint32_t pc_op(uint32_t vlan, const PortChannel &pc, Ace ace, bool add) {
        return ostrel_api_pc_program_acl(kHandle, ace.addr1().data(),
                                         addr2_of(ace.tag).data(), vlan,
                                         pc.if_index, ace.tag, &msg, add);
    }

    // Checks one finished operation against the model, then drains.
    void check_step(uint32_t status, uint32_t expected,
                    const std::string &what) {
        SCOPED_TRACE(what);
        ASSERT_EQ(status, expected);
        ++outcomes[status == 0 ? 0 : status == OSTREL_STATUS_NO_ENTRY ? 1 : 2];
        if (!registry_matches(model)) {
            ASSERT_EQ(registry_text(), model_text(model));
            FAIL() << "registry differs from the model in its addresses";
        }
        expect_registry_invariants();
        std::vector<std::string> sent;
        for (size_t i = mark; i < sim::calls().size(); ++i) {
            const sim::Call &c = sim::calls()[i];
            if (c.op == sim::Op::Send) {
                ASSERT_EQ(batch_defect(c.payload), "");
                ASSERT_EQ(c.length, c.payload.size());
                sent.push_back(batch_text(c.payload) +
                               (c.result ? " fail" : ""));
                ++batches_checked;
            }
        }
        std::vector<std::string> expected_sent;
        for (const ProgrammingModel::Send &s : model.sends) {
            expected_sent.push_back(s.batch + (s.ok ? "" : " fail"));
        }
        ASSERT_EQ(sent, expected_sent);
        ASSERT_EQ(did_yarl_send, model.sent_ok_last ? 1u : 0u)
            << calls_since_mark();
        if (did_yarl_send) {
            ASSERT_EQ(brisel_api_yarl_gobble(kHandle, &msg), 0u);
        }
        ASSERT_EQ(sim::pending_replies(), 0u);
        ASSERT_EQ(batch_buf, nullptr);
    }

    // The platform calls of the current operation, e.g. "pc_info_get send".
    std::string calls_since_mark() const {
        std::string s;
        for (size_t i = mark; i < sim::calls().size(); ++i) {
            s += std::string(s.empty() ? "" : " ") +
                 sim::op_name(sim::calls()[i].op);
        }
        return s;
    }

    void begin() {
        mark = sim::calls().size();
        model.begin_operation();
    }

    void run_intf(uint32_t vlan, uint32_t if_index, Ace ace, bool add) {
        begin();
        const uint32_t status = intf_op(vlan, if_index, ace, add);
        const uint32_t expected =
            add ? model.intf_add(vlan, if_index, ace.model())
                : model.intf_del(vlan, if_index, ace.model());
        check_step(status, expected,
                   std::string(add ? "add " : "del ") +
                       ace_text(ace.tag, ace.zero) + " on v" +
                       std::to_string(vlan) + " i" + std::to_string(if_index));
    }

    void run_pc(uint32_t vlan, const PortChannel &pc, Ace ace, bool add) {
        begin();
        const uint32_t status = pc_op(vlan, pc, ace, add);
        const uint32_t expected =
            add ? model.pc_add(pc.if_index, vlan, ace.model(), pc.members)
                : model.pc_del(pc.if_index, vlan, ace.model(), pc.members);
        check_step(status, expected,
                   std::string(add ? "pc add " : "pc del ") +
                       ace_text(ace.tag, ace.zero) + " on v" +
                       std::to_string(vlan) + " pc" +
                       std::to_string(pc.if_index));
    }

    // A registered ACE of the model, as an interface or port-channel target.
    struct Target {
        uint32_t vlan;
        uint32_t index;
        Ace ace;
    };
    bool pick_registered(std::mt19937 &rng, bool on_pc, Target *t) {
        std::vector<Target> all;
        if (on_pc) {
            for (const ModelPc &p : model.pcs)
                for (const ModelPoVlan &v : p.vlans)
                    for (const ModelAce &a : v.aces)
                        all.push_back({v.vlan, p.pc, {a.tag, a.zero_addr1}});
        } else {
            for (const ModelVlan &v : model.vlans)
                for (const ModelIntf &i : v.intfs)
                    for (const ModelAce &a : i.aces)
                        all.push_back(
                            {v.vlan, i.if_index, {a.tag, a.zero_addr1}});
        }
        if (all.empty()) {
            return false;
        }
        *t = all[std::uniform_int_distribution<size_t>(0, all.size() - 1)(rng)];
        return true;
    }

    static const PortChannel &pc_of(uint32_t if_index) {
        for (const PortChannel &pc : kPortChannels) {
            if (pc.if_index == if_index) {
                return pc;
            }
        }
        return kPortChannels.front();
    }

    // One random step; its checks run inside.
    void random_step(std::mt19937 &rng) {
        auto pick = [&](uint32_t n) {
            return std::uniform_int_distribution<uint32_t>(0, n - 1)(rng);
        };
        const uint32_t vlan = kVlans[pick(3)];
        const Ace ace{1 + pick(kTags), pick(7) == 0};
        const uint32_t dice = pick(100);
        const bool crowded = model.ace_count() > kMaxAces;
        Target t{};
        if (dice < 6) {
            // 1 to 3: the next batch gets through on a retry; 4 or 5: it fails.
            const int n = 1 + static_cast<int>(pick(5));
            sim::fail_next_sends(n, kErrno);
            model.fail_next_sends(n, kErrno);
        } else if (dice < 36 && !crowded) {
            run_intf(vlan, 1 + pick(kInterfaces), ace, true);
        } else if (dice < 68) {
            if (pick(10) != 0 && pick_registered(rng, false, &t)) {
                run_intf(t.vlan, t.index, t.ace, false);
            } else {
                run_intf(vlan, 1 + pick(kInterfaces), ace, false);
            }
        } else if (dice < 84 && !crowded) {
            run_pc(vlan, kPortChannels[pick(3)], ace, true);
        } else if (pick(10) != 0 && pick_registered(rng, true, &t)) {
            run_pc(t.vlan, pc_of(t.index), t.ace, false);
        } else {
            run_pc(vlan, kPortChannels[pick(3)], ace, false);
        }
    }

    // Deletes everything the model holds, making each port channel's
    // members whole first (a member may lack the ACE after a failed add or
    // a direct delete), then the interface ACEs left.
    void delete_everything() {
        model.fail_next_sends(0, 0);
        sim::fail_next_sends(0, 0);
        Target t{};
        while (pick_first(true, &t)) {
            const PortChannel &pc = pc_of(t.index);
            for (uint32_t m : pc.members) {
                run_intf(t.vlan, m, t.ace, true);
            }
            run_pc(t.vlan, pc, t.ace, false);
            if (HasFatalFailure()) {
                return;
            }
        }
        while (pick_first(false, &t)) {
            run_intf(t.vlan, t.index, t.ace, false);
            if (HasFatalFailure()) {
                return;
            }
        }
    }

    bool pick_first(bool on_pc, Target *t) {
        if (on_pc && !model.pcs.empty()) {
            const ModelPoVlan &v = model.pcs.front().vlans.front();
            *t = {v.vlan,
                  model.pcs.front().pc,
                  {v.aces.front().tag, v.aces.front().zero_addr1}};
            return true;
        }
        if (!on_pc && !model.vlans.empty()) {
            const ModelIntf &i = model.vlans.front().intfs.front();
            *t = {model.vlans.front().vlan,
                  i.if_index,
                  {i.aces.front().tag, i.aces.front().zero_addr1}};
            return true;
        }
        return false;
    }

    yarl_msg msg{};
    ProgrammingModel model;
    size_t mark = 0;
    size_t batches_checked = 0;
    size_t outcomes[3] = {}; // succeeded, nothing to delete, send failed
};

TEST_P(ProgrammingStress, RegistryAndBatchesFollowTheModel) {
    std::mt19937 rng(GetParam());
    constexpr int kSteps = 2500;
    for (int step = 0; step < kSteps && !HasFatalFailure(); ++step) {
        SCOPED_TRACE("step " + std::to_string(step));
        random_step(rng);
    }
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_GT(batches_checked, 1000u);
    // The mix reaches every outcome often.
    EXPECT_GT(outcomes[0], 1000u);
    EXPECT_GT(outcomes[1], 50u);
    EXPECT_GT(outcomes[2], 20u);
    std::printf("seed %u: %zu ok, %zu without entry, %zu failed sends, %zu "
                "send attempts checked\n",
                GetParam(), outcomes[0], outcomes[1], outcomes[2],
                batches_checked);
    delete_everything();
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_EQ(brisel_handle.count, 0u);
    EXPECT_EQ(brisel_handle.next, nullptr);
    EXPECT_EQ(brisel_pchandle.count, 0u);
    EXPECT_EQ(brisel_pchandle.next, nullptr);
    EXPECT_EQ(sim::live_allocations(), 0) << "registry nodes or buffers leaked";
    RecordProperty("batches_checked", static_cast<int>(batches_checked));
}

INSTANTIATE_TEST_SUITE_P(Seeds, ProgrammingStress,
                         ::testing::Values(1u, 20240607u, 0xC0FFEEu));

} // namespace
} // namespace hardening
