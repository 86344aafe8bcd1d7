// Test support for the entry points (spec Parts 1.1 and 1.5), run through
// the simulated platform: the recorded batch payloads read back from the
// spec's offset tables (head: word 0, copy count; each copy: plcy_op at 0,
// dst_vlan at 14, dst_if_index at 16, num_aces at 20, records of 64 bytes
// from 24), client-style setup calls that drain their reply, and a fixture
// that starts from empty registries, a reset platform and no open batch.
#pragma once

#include <string>
#include <vector>

#include "programming/programming_internal.h"
#include "registry_support.h"

namespace entry_test {

using namespace registry_test;

inline constexpr yarl_handle_t kHandle = 0x5a;
inline constexpr uint8_t kPortChannelType = 22;

template <typename T> T read(const std::vector<uint8_t> &b, size_t off) {
    T v{};
    if (off + sizeof v <= b.size())
        std::memcpy(&v, b.data() + off, sizeof v);
    return v;
}

// One request copy found in a batch payload.
struct Copy {
    uint32_t op = 0;
    uint16_t vlan = 0;
    uint32_t if_index = 0;
    uint32_t num_aces = 0;
    std::vector<uint8_t> bytes; // the whole copy
    // Record k's first address tag (byte 1 of fltr_addr1 at 18) and
    // qualifier (at 16): "a<tag>q<qualifier>", or "-" for a record whose
    // first address is zero (closing records, skipped slots).
    std::string record(uint32_t k) const {
        const size_t base = 24 + 64 * size_t{k};
        Addr a1{};
        std::memcpy(a1.data(), bytes.data() + base + 18, 6);
        if (a1 == kZeroAddr)
            return "-";
        return "a" + std::to_string(a1[1]) + "q" +
               std::to_string(read<uint16_t>(bytes, base + 16));
    }
    // The ACE records before the two closing ones, e.g. "a3q3 a1q1".
    std::string aces() const {
        std::string s;
        for (uint32_t k = 0; k + 2 < num_aces; ++k)
            s += (s.empty() ? "" : " ") + record(k);
        return s;
    }
};

struct Batch {
    uint32_t word0 = 0;
    uint32_t count = 0;
    std::vector<Copy> copies;
    bool well_formed = false; // the copies fill the payload exactly

    // "<if_index>:<op>" of each copy in order, e.g. "3:1 1:1 2:2".
    std::string dsts() const {
        std::string s;
        for (const Copy &c : copies)
            s += (s.empty() ? "" : " ") + std::to_string(c.if_index) + ":" +
                 std::to_string(c.op);
        return s;
    }
};

inline Batch parse_batch(const std::vector<uint8_t> &payload) {
    Batch b;
    b.word0 = read<uint32_t>(payload, 0);
    b.count = read<uint32_t>(payload, 4);
    size_t off = 8;
    while (off + 24 <= payload.size()) {
        Copy c;
        c.op = read<uint32_t>(payload, off);
        c.vlan = read<uint16_t>(payload, off + 14);
        c.if_index = read<uint32_t>(payload, off + 16);
        c.num_aces = read<uint32_t>(payload, off + 20);
        const size_t size = 24 + 64 * size_t{c.num_aces};
        if (off + size > payload.size())
            return b;
        c.bytes.assign(payload.begin() + static_cast<long>(off),
                       payload.begin() + static_cast<long>(off + size));
        b.copies.push_back(std::move(c));
        off += size;
    }
    b.well_formed = off == payload.size() && b.copies.size() == b.count;
    return b;
}

class EntryTest : public RegistryTest {
  protected:
    void SetUp() override {
        RegistryTest::SetUp();
        clear_builder_state();
    }
    void TearDown() override {
        clear_builder_state();
        RegistryTest::TearDown();
    }
    static void clear_builder_state() {
        std::free(batch_buf);
        batch_buf = nullptr;
        batch_len = 0;
        pc_override_if_index = 0;
        did_yarl_send = 0;
    }

    // ---- calls as a client makes them ----
    uint32_t add(uint32_t vlan, uint32_t if_index, uint8_t tag,
                 uint32_t qualifier) {
        return ostrel_api_program_acl(kHandle, addr1_of(tag).data(),
                                      addr2_of(tag).data(), vlan, if_index,
                                      qualifier, &msg, 1);
    }
    uint32_t add_zero(uint32_t vlan, uint32_t if_index, uint8_t tag,
                      uint32_t qualifier) {
        return ostrel_api_program_acl(kHandle, kZeroAddr.data(),
                                      addr2_of(tag).data(), vlan, if_index,
                                      qualifier, &msg, 1);
    }
    uint32_t del(uint32_t vlan, uint32_t if_index, uint8_t tag,
                 uint32_t qualifier) {
        return ostrel_api_del_acl(kHandle, addr1_of(tag).data(),
                                  addr2_of(tag).data(), vlan, if_index,
                                  qualifier, &msg);
    }
    uint32_t del_zero(uint32_t vlan, uint32_t if_index, uint8_t tag,
                      uint32_t qualifier) {
        return ostrel_api_del_acl(kHandle, kZeroAddr.data(),
                                  addr2_of(tag).data(), vlan, if_index,
                                  qualifier, &msg);
    }
    uint32_t pc(uint32_t vlan, uint32_t pc_if_index, uint8_t tag,
                uint32_t qualifier, uint32_t add_flag) {
        return ostrel_api_pc_program_acl(
            kHandle, addr1_of(tag).data(), addr2_of(tag).data(), vlan,
            pc_if_index, qualifier, &msg, add_flag);
    }
    uint32_t drain() { return brisel_api_yarl_gobble(kHandle, &msg); }

    // Setup steps: the call must succeed, and its reply is drained.
    void given_added(uint32_t vlan, uint32_t if_index, uint8_t tag,
                     uint32_t qualifier) {
        ASSERT_EQ(add(vlan, if_index, tag, qualifier), 0u);
        ASSERT_EQ(drain(), 0u);
    }
    void given_added_zero(uint32_t vlan, uint32_t if_index, uint8_t tag,
                          uint32_t qualifier) {
        ASSERT_EQ(add_zero(vlan, if_index, tag, qualifier), 0u);
        ASSERT_EQ(drain(), 0u);
    }
    void given_pc_added(uint32_t vlan, uint32_t pc_if_index, uint8_t tag,
                        uint32_t qualifier) {
        ASSERT_EQ(pc(vlan, pc_if_index, tag, qualifier, 1), 0u);
        if (did_yarl_send) {
            ASSERT_EQ(drain(), 0u);
        }
    }
    // Starts observing: later helpers only look at calls made from here on.
    void mark() { mark_ = sim::calls().size(); }

    std::vector<sim::Call> calls_since_mark(sim::Op op) const {
        std::vector<sim::Call> out;
        for (size_t i = mark_; i < sim::calls().size(); ++i)
            if (sim::calls()[i].op == op)
                out.push_back(sim::calls()[i]);
        return out;
    }
    size_t calls_since_mark() const { return sim::calls().size() - mark_; }
    std::vector<Batch> batches() const {
        std::vector<Batch> out;
        for (const sim::Call &c : calls_since_mark(sim::Op::Send))
            if (c.result == 0)
                out.push_back(parse_batch(c.payload));
        return out;
    }
    // The sends and receives since the mark, e.g. "send recv send".
    std::string sends_and_drains() const {
        std::string s;
        for (size_t i = mark_; i < sim::calls().size(); ++i) {
            const sim::Call &c = sim::calls()[i];
            if (c.op == sim::Op::Send || c.op == sim::Op::Recv)
                s += std::string(s.empty() ? "" : " ") + sim::op_name(c.op);
        }
        return s;
    }

    yarl_msg msg{};
    size_t mark_ = 0;
};

} // namespace entry_test
