// Builder test support: expected bytes from the wire layout, registry nodes
// built by hand, and batches opened by hand.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <vector>

#include "library_state.h"

namespace builder_test {

using Bytes = std::vector<uint8_t>;
inline constexpr yarl_handle_t kHandle = 0x77;
inline constexpr uint32_t kBatchSize = ostrel::kBatchSize, kPc = 0x5000;
inline constexpr uint16_t kVlan = 30, kPortChannelType = 22;

// Expected bytes, field by field in wire order and width (host byte order).
struct Layout {
    template <typename... T> static Bytes fields(const T &...v) {
        // Sized once, then filled: GCC 12 misreads a vector grown field by
        // field as an overflow (-Wstringop-overflow) in optimised builds.
        Bytes b((sizeof v + ... + 0));
        size_t at = 0;
        (..., (std::memcpy(b.data() + at, &v, sizeof v), at += sizeof v));
        return b;
    }
    static Bytes join(Bytes head, const std::vector<Bytes> &parts) {
        for (const Bytes &p : parts)
            head.insert(head.end(), p.begin(), p.end());
        return head;
    }
    static uint32_t u32(const Bytes &b, size_t off) {
        return ostrel_test::read<uint32_t>(b, off);
    }
    static AceKey ace(uint8_t t, uint16_t q) {
        return ostrel_test::key_of(t, q);
    }
    // A 64-byte record: fltr_tlv8, pad, fltr_flags, qualifier, addresses 1
    // to 4 (the key's first and second in 1 and 3), pad, actn_flags 1,
    // actn_tlv10, actn_tlv11.
    static Bytes record(uint32_t tlv8, uint64_t flags, const AceKey &k,
                        uint32_t tlv10) {
        const uint8_t none[6] = {};
        return fields(tlv8, 0u, flags, k.qualifier, k.addr1, none, k.addr2,
                      none, none, uint64_t{1}, tlv10, 0u);
    }
    static Bytes rec(const AceKey &a) { return record(3, 1, a, 1); }
    static Bytes close1(uint16_t q) { return record(3, 0, {{}, {}, q}, 0); }
    static Bytes close2() { return record(1, 0, {}, 0); }
    // A request: plcy_op, plcy_tlv2 3, dst_tlv4 1, dst_tlv5 1, dst_vlan,
    // dst_if_index, num_aces (the number of records), then the records.
    static Bytes request(uint32_t op, uint16_t vlan, uint32_t if_index,
                         const std::vector<Bytes> &records) {
        return join(fields(op, 3u, 1u, uint16_t{1}, vlan, if_index,
                           uint32_t(records.size())),
                    records);
    }
    // The 152-byte request of an interface without ACEs.
    static Bytes empty_request(uint32_t if_index, uint32_t op = 1) {
        return request(op, kVlan, if_index, {close1(0), close2()});
    }
    // A batch: word 0, the number of copies, the copies.
    static Bytes batch(uint32_t word0, const std::vector<Bytes> &copies) {
        return join(fields(word0, uint32_t(copies.size())), copies);
    }
};

// One VLAN's registry nodes, built by hand without the registry's calls.
struct Registry {
    VlanNode vlan{kVlan, 0, nullptr, nullptr};
    std::deque<IntfNode> intfs;
    std::deque<AceNode> aces;
    // Appends an interface to the list with its ACEs (newest first) and
    // `count` (default: the number of ACEs).
    IntfNode *add(uint32_t if_index, const std::vector<AceKey> &keys,
                  int count = -1) {
        IntfNode *prev = intfs.empty() ? nullptr : &intfs.back();
        IntfNode &intf = intfs.emplace_back(IntfNode{
            if_index, count < 0 ? uint32_t(keys.size()) : uint32_t(count),
            nullptr, nullptr});
        (prev ? prev->next : vlan.first) = &intf;
        ++vlan.count;
        AceNode **link = &intf.first;
        for (const AceKey &key : keys) {
            *link = &aces.emplace_back(AceNode{key, nullptr});
            link = &(*link)->next;
        }
        return &intf;
    }
};

class BuilderTest : public ostrel_test::LibraryTest, public Layout {
  protected:
    static void reset() { ostrel_test::reset_library(); }
    // Releases the open batch and clears the flags; the counters stay.
    static void clear_globals() {
        std::free(batch_buf);
        batch_buf = nullptr;
        batch_len = 0;
        pc_override_if_index = 0;
        did_yarl_send = 0;
    }
    // Opens a batch by hand: `len` used bytes, `count` copies, 0xA5 filler.
    static void open_batch(uint32_t len, uint32_t count) {
        batch_buf = static_cast<uint8_t *>(std::calloc(1, kBatchSize));
        std::memset(batch_buf + 8, 0xA5, len - 8);
        std::memcpy(batch_buf + 4, &count, sizeof count);
        batch_len = len;
    }
    static Bytes open_batch_bytes() {
        return batch_buf ? Bytes(batch_buf, batch_buf + batch_len) : Bytes{};
    }
    // The whole block, past the used length too (those bytes are not
    // zeroed, but nothing may write them either).
    static Bytes whole_block_bytes() {
        return Bytes(batch_buf, batch_buf + kBatchSize);
    }
    static ostrel::sim::Call
    send(size_t i) { // a blank one when there are fewer
        const std::vector<ostrel::sim::Call> s =
            ostrel::sim::calls_of(ostrel::sim::Op::Send);
        return i < s.size() ? s[i] : ostrel::sim::Call{};
    }
    static Bytes sent(size_t i) { return send(i).payload; }
    uint32_t program(IntfNode *intf, uint32_t install = 1, uint32_t defer = 0) {
        return ostrel_api_program_intf(kHandle, &msg, &reg.vlan, intf, install,
                                       defer);
    }

    Registry reg;
};

} // namespace builder_test
