// Entry-point test support: sent batches decoded into their request copies,
// calls made as a client makes them, and a fixture that also starts with no
// open batch.
#pragma once

#include <string>
#include <vector>

#include "programming/programming_internal.h"
#include "registry_support.h"

namespace entry_test {

using namespace registry_test;
using Bytes = std::vector<uint8_t>;
inline constexpr yarl_handle_t kHandle = 0x5a;
inline constexpr uint8_t kPortChannelType = 22;

template <typename T> T read(const Bytes &b, size_t off) {
    T v{};
    std::memcpy(&v, b.data() + off, sizeof v);
    return v;
}

// A batch payload as "<word 0>|<if_index>:<op> ...", e.g. "0|3:1 1:1 2:2";
// request copies have their header fields at 0, 14, 16, 20, then 64-byte
// records. The copies must fill the payload and match its count.
inline std::string decode(const Bytes &payload) {
    std::string s = std::to_string(read<uint32_t>(payload, 0)) + "|";
    size_t off = 8, copies = 0;
    for (; off + 24 <= payload.size(); ++copies) {
        s += (s.back() == '|' ? "" : " ") +
             std::to_string(read<uint32_t>(payload, off + 16)) + ":" +
             std::to_string(read<uint32_t>(payload, off));
        off += 24 + 64 * size_t{read<uint32_t>(payload, off + 20)};
    }
    EXPECT_EQ(off, payload.size()) << "copies do not fill the batch";
    EXPECT_EQ(copies, read<uint32_t>(payload, 4));
    return s;
}

class EntryTest : public RegistryTest {
  protected:
    void SetUp() override {
        RegistryTest::SetUp();
        clear_batch();
    }
    void TearDown() override {
        clear_batch();
        RegistryTest::TearDown();
    }
    static void clear_batch() {
        std::free(batch_buf);
        batch_buf = nullptr;
        batch_len = 0;
        pc_override_if_index = 0;
        did_yarl_send = 0;
    }

    // add != 0 adds, else deletes; zero: an all-zero first address.
    uint32_t acl(uint32_t add, uint32_t vlan, uint32_t if_index, uint8_t tag,
                 uint32_t qualifier, bool zero = false) {
        const Addr a1 = zero ? Addr{} : addr1_of(tag), a2 = addr2_of(tag);
        return ostrel_api_program_acl(kHandle, a1.data(), a2.data(), vlan,
                                      if_index, qualifier, &msg, add);
    }
    uint32_t pc(uint32_t add, uint32_t vlan, uint32_t pc_if_index, uint8_t tag,
                uint32_t qualifier) {
        return ostrel_api_pc_program_acl(kHandle, addr1_of(tag).data(),
                                         addr2_of(tag).data(), vlan,
                                         pc_if_index, qualifier, &msg, add);
    }
    uint32_t drain() { return brisel_api_yarl_gobble(kHandle, &msg); }
    // A setup step: the call succeeds and its reply, if any, is drained.
    void given(uint32_t status) {
        ASSERT_EQ(status, 0u);
        EXPECT_EQ(did_yarl_send ? drain() : 0u, 0u);
    }

    // Later helpers only look at the calls made after mark().
    void mark() { mark_ = sim::calls().size(); }
    size_t calls_since_mark() const { return sim::calls().size() - mark_; }
    // decode() of each successful send since the mark, joined with " / ".
    std::string sent() const {
        std::string s;
        for (size_t i = mark_; i < sim::calls().size(); ++i)
            if (sim::calls()[i].op == sim::Op::Send && !sim::calls()[i].result)
                s += (s.empty() ? "" : " / ") + decode(sim::calls()[i].payload);
        return s;
    }
    // The sends and receives since the mark, e.g. "send recv send".
    std::string sends_and_drains() const {
        std::string s;
        for (size_t i = mark_; i < sim::calls().size(); ++i) {
            const sim::Op op = sim::calls()[i].op;
            if (op == sim::Op::Send || op == sim::Op::Recv)
                s += std::string(s.empty() ? "" : " ") + sim::op_name(op);
        }
        return s;
    }

    yarl_msg msg{};
    size_t mark_ = 0;
};

} // namespace entry_test
