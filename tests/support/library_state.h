// One fixture for every test of ACL programming: it starts from empty
// registries, no open batch, cleared flags and a fresh simulated platform,
// and ends by checking that the registries are consistent and that every
// live heap block is one the library still holds. Also: tagged ACE keys,
// client-style calls, a picture of each registry and sent batches decoded.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

#include "ostrelapi.h"
#include "programming/programming_internal.h"
#include "sim_platform.hpp"

// The batch state the fixtures read and reset.
using ostrel::batch_buf;
using ostrel::batch_len;
using ostrel::pc_override_if_index;

namespace ostrel_test {

using Addr = std::array<uint8_t, 6>;
inline constexpr yarl_handle_t kHandle = 0x5a;

inline Addr addr1_of(uint32_t t) {
    return {2, uint8_t(t >> 8), uint8_t(t), 0x11, 0x22, 0x33};
}
inline Addr addr2_of(uint32_t t) {
    return {10, uint8_t(t >> 8), uint8_t(t), 0x44, 0x55, 0x66};
}
inline AceKey key_of(uint32_t t, uint16_t q) {
    AceKey k{{}, {}, q};
    std::memcpy(k.addr1, addr1_of(t).data(), 6);
    std::memcpy(k.addr2, addr2_of(t).data(), 6);
    return k;
}

// The first word of every registry node is its key.
template <typename N> uint32_t key(const N *n) {
    return *reinterpret_cast<const uint32_t *>(n);
}
// "a<tag>q<qualifier>", or "z<tag>q<qualifier>" for a zero first address.
inline std::string describe(const AceKey &k) {
    std::string s = k.addr1[0] == 0 ? "z" : "a"; // appended, not "z" + ...:
    s += std::to_string(k.addr2[1] << 8 | k.addr2[2]); // GCC 12 -Wrestrict
    return s + "q" + std::to_string(k.qualifier);
}
// A registry in list order (newest first): "30{5[a1q3 z2q3] 4[]} 20{}".
template <typename Top> std::string picture(const Top *top) {
    std::string s;
    for (; top != nullptr; top = top->next) {
        s += s.empty() ? "" : " ";
        s += std::to_string(key(top)) + "{";
        for (auto *mid = top->first; mid != nullptr; mid = mid->next) {
            s += s.back() == '{' ? "" : " ";
            s += std::to_string(key(mid));
            for (const AceNode *a = mid->first; a; a = a->next) {
                s += a == mid->first ? "[" : " ";
                s += describe(a->key);
            }
            s += mid->first == nullptr ? "[]" : "]";
        }
        s += "}";
    }
    return s;
}
inline std::string vlan_registry() {
    return picture(brisel_handle.next);
}
inline std::string pc_registry() {
    return picture(brisel_pchandle.next);
}

// Every count equals the length of its list (which ends within the limit).
template <typename N> bool counts_match(const N *n, uint32_t c) {
    for (long limit = 1L << 20; n != nullptr; n = n->next, --c, --limit)
        if constexpr (!std::is_same_v<N, AceNode>)
            if (limit == 0 || !counts_match(n->first, n->count))
                return false;
    return c == 0;
}
inline bool registries_consistent() {
    return counts_match(brisel_handle.next, brisel_handle.count) &&
           counts_match(brisel_pchandle.next, brisel_pchandle.count) &&
           !brisel_handle.first && !brisel_handle.vlan_id &&
           !brisel_pchandle.first && !brisel_pchandle.if_index;
}
// Heap blocks the library holds: every registry node, the open batch.
template <typename N> long nodes(const N *n) {
    long count = 0;
    for (; n != nullptr; n = n->next) {
        ++count;
        if constexpr (!std::is_same_v<N, AceNode>)
            count += nodes(n->first);
    }
    return count;
}
inline long held_blocks() {
    return nodes(brisel_handle.next) + nodes(brisel_pchandle.next) +
           (batch_buf != nullptr);
}

template <typename N> void free_nodes(N *n) {
    while (n != nullptr) {
        N *next = n->next;
        if constexpr (!std::is_same_v<N, AceNode>)
            free_nodes(n->first);
        std::free(n);
        n = next;
    }
}
// Frees what the library holds and clears all its state.
inline void reset_library() {
    free_nodes(brisel_handle.next);
    free_nodes(brisel_pchandle.next);
    brisel_handle = {};
    brisel_pchandle = {};
    std::free(batch_buf);
    batch_buf = nullptr;
    batch_len = 0;
    pc_override_if_index = 0;
    did_yarl_send = 0;
    ostrel::sim::reset();
}

template <typename T> T read(const std::vector<uint8_t> &b, size_t off) {
    T v{};
    if (off + sizeof v <= b.size())
        std::memcpy(&v, b.data() + off, sizeof v);
    return v;
}
// Empty when the payload is a well-formed batch: a head whose count equals
// the number of requests behind it, requests that fill the payload exactly,
// at most a batch long; else the defect.
inline std::string batch_defect(const std::vector<uint8_t> &p) {
    if (p.size() < 8 || p.size() > ostrel::kBatchSize)
        return "length " + std::to_string(p.size());
    ostrel::BatchCursor c(p.data(), p.size());
    size_t copies = 0;
    for (; c.request_fits(); c.next())
        ++copies;
    if (!c.at_end())
        return "requests do not fill the batch";
    if (copies != read<uint32_t>(p, 4))
        return "head counts " + std::to_string(read<uint32_t>(p, 4));
    return "";
}
// A batch as "<word 0>|<if_index>:<op> ...", e.g. "0|3:1 1:1 2:2".
inline std::string decode_batch(const std::vector<uint8_t> &p) {
    EXPECT_EQ(batch_defect(p), "");
    std::string s = std::to_string(read<uint32_t>(p, 0)) + "|";
    // Appended piece by piece: GCC 12 takes "literal" + std::string&& for
    // an overlapping copy (-Wrestrict) in Release builds.
    for (ostrel::BatchCursor c(p.data(), p.size()); c.request_fits();
         c.next()) {
        s += s.back() == '|' ? "" : " ";
        s += std::to_string(c.if_index());
        s += ':';
        s += std::to_string(ostrel::load_u32(c.request()));
    }
    return s;
}

class LibraryTest : public ::testing::Test {
  protected:
    void SetUp() override { reset_library(); }
    void TearDown() override {
        EXPECT_TRUE(registries_consistent())
            << vlan_registry() << " | " << pc_registry();
        EXPECT_EQ(ostrel::sim::live_allocations(), held_blocks())
            << "blocks leaked";
        reset_library();
    }

    // add != 0 adds, else deletes; zero: an all-zero first address.
    uint32_t acl(uint32_t add, uint32_t vlan, uint32_t if_index, uint32_t tag,
                 uint32_t qualifier, bool zero = false) {
        const Addr a1 = zero ? Addr{} : addr1_of(tag), a2 = addr2_of(tag);
        return ostrel_api_program_acl(kHandle, a1.data(), a2.data(), vlan,
                                      if_index, qualifier, &msg, add);
    }
    uint32_t pc(uint32_t add, uint32_t vlan, uint32_t pc_if_index, uint32_t tag,
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
    void mark() { mark_ = ostrel::sim::calls().size(); }
    // decode_batch() of each successful send since the mark, " / " between.
    std::string sent() const {
        std::string s;
        for (size_t i = mark_; i < ostrel::sim::calls().size(); ++i)
            if (ostrel::sim::calls()[i].op == ostrel::sim::Op::Send &&
                !ostrel::sim::calls()[i].result)
                s += (s.empty() ? "" : " / ") +
                     decode_batch(ostrel::sim::calls()[i].payload);
        return s;
    }
    // The sends and receives since the mark, e.g. "send recv send".
    std::string sends_and_drains() const {
        std::string s;
        for (size_t i = mark_; i < ostrel::sim::calls().size(); ++i) {
            const ostrel::sim::Op op = ostrel::sim::calls()[i].op;
            if (op == ostrel::sim::Op::Send || op == ostrel::sim::Op::Recv)
                s += std::string(s.empty() ? "" : " ") +
                     ostrel::sim::op_name(op);
        }
        return s;
    }

    yarl_msg msg{};
    size_t mark_ = 0;
};

} // namespace ostrel_test
