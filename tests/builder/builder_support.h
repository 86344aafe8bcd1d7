// Test support for the request builder, batch and sender: registry nodes
// built by hand, expected bytes written from the spec's offset tables (never
// from the library's structs), and a fixture that resets the simulated
// platform and the builder's globals.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <optional>
#include <vector>

#include "ostrelapi.h"
#include "programming/programming_internal.h"
#include "sim_platform.h"

namespace builder_test {

using Bytes = std::vector<uint8_t>;
using Addr = std::array<uint8_t, 6>;

inline constexpr yarl_handle_t kHandle = 0x77;
inline constexpr uint32_t kBatchSize = 130056;
inline constexpr uint8_t kPortChannelType = 22;

// ---- little writers and readers in host byte order ----

template <typename T> void put(Bytes &b, size_t off, T v) {
    if (b.size() < off + sizeof v)
        b.resize(off + sizeof v);
    std::memcpy(b.data() + off, &v, sizeof v);
}
inline void put_bytes(Bytes &b, size_t off, const Addr &a) {
    if (b.size() < off + a.size())
        b.resize(off + a.size());
    std::memcpy(b.data() + off, a.data(), a.size());
}
template <typename T> T get(const Bytes &b, size_t off) {
    T v{};
    if (off + sizeof v <= b.size())
        std::memcpy(&v, b.data() + off, sizeof v);
    return v;
}
inline uint32_t u32(const Bytes &b, size_t off) { return get<uint32_t>(b, off); }

inline Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes &p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

// ---- ACEs and their expected records (Part 1.3, Data model) ----

struct Ace {
    Addr addr1;
    Addr addr2;
    uint16_t qualifier;
};

inline Ace ace(uint8_t tag, uint16_t qualifier) {
    return Ace{{0x02, tag, 0x11, 0x22, 0x33, tag}, {0x0a, tag, 0x44, 0x55, 0x66, tag}, qualifier};
}
// An ACE whose first address is all zero (its second is not).
inline Ace zero_ace(uint8_t tag, uint16_t qualifier) {
    return Ace{{0, 0, 0, 0, 0, 0}, {0x0b, tag, 0, 0, 0, tag}, qualifier};
}

// Expected 64-byte slot contents.
inline Bytes zero_record() { return Bytes(64, 0); }
inline Bytes ace_record(const Ace &a) {
    Bytes r(64, 0);
    put<uint32_t>(r, 0, 3);
    put<uint64_t>(r, 8, 1);
    put<uint16_t>(r, 16, a.qualifier);
    put_bytes(r, 18, a.addr1);
    put_bytes(r, 30, a.addr2);
    put<uint64_t>(r, 48, 1);
    put<uint32_t>(r, 56, 1);
    return r;
}
inline Bytes first_closing(uint16_t qualifier) {
    Bytes r(64, 0);
    put<uint32_t>(r, 0, 3);
    put<uint16_t>(r, 16, qualifier);
    put<uint64_t>(r, 48, 1);
    return r;
}
inline Bytes second_closing() {
    Bytes r(64, 0);
    put<uint32_t>(r, 0, 1);
    put<uint64_t>(r, 48, 1);
    return r;
}

// 24-byte request header.
inline Bytes header(uint32_t op, uint16_t vlan, uint32_t if_index, uint32_t num_aces) {
    Bytes h(24, 0);
    put<uint32_t>(h, 0, op);
    put<uint32_t>(h, 4, 3);
    put<uint32_t>(h, 8, 1);
    put<uint16_t>(h, 12, 1);
    put<uint16_t>(h, 14, vlan);
    put<uint32_t>(h, 16, if_index);
    put<uint32_t>(h, 20, num_aces);
    return h;
}

// A request: header (num_aces = number of slots) and slots.
inline Bytes request(uint32_t op, uint16_t vlan, uint32_t if_index,
                     std::initializer_list<Bytes> slots) {
    Bytes r = header(op, vlan, if_index, static_cast<uint32_t>(slots.size()));
    for (const Bytes &s : slots)
        r.insert(r.end(), s.begin(), s.end());
    return r;
}
inline Bytes request(uint32_t op, uint16_t vlan, uint32_t if_index,
                     const std::vector<Bytes> &slots) {
    Bytes r = header(op, vlan, if_index, static_cast<uint32_t>(slots.size()));
    for (const Bytes &s : slots)
        r.insert(r.end(), s.begin(), s.end());
    return r;
}
// The request with only the two closing records (an interface without ACEs).
inline Bytes empty_request(uint32_t op, uint16_t vlan, uint32_t if_index) {
    return request(op, vlan, if_index, {first_closing(0), second_closing()});
}
inline Bytes with_if_index(Bytes req, uint32_t if_index) {
    put<uint32_t>(req, 16, if_index);
    return req;
}

// A batch message: head words 0 and 1, then the copies.
inline Bytes batch(uint32_t word0, uint32_t count, std::initializer_list<Bytes> copies) {
    Bytes b(8, 0);
    put<uint32_t>(b, 0, word0);
    put<uint32_t>(b, 4, count);
    for (const Bytes &c : copies)
        b.insert(b.end(), c.begin(), c.end());
    return b;
}

// ---- registry nodes built by hand (plain structs, calloc'd) ----

class Registry {
public:
    explicit Registry(uint32_t vlan_id) {
        vlan_ = static_cast<VlanNode *>(std::calloc(1, sizeof(VlanNode)));
        vlan_->vlan_id = vlan_id;
    }
    Registry(const Registry &) = delete;
    Registry &operator=(const Registry &) = delete;
    ~Registry() {
        IntfNode *i = vlan_->first;
        while (i != nullptr) {
            AceNode *a = i->first;
            while (a != nullptr) {
                AceNode *next = a->next;
                std::free(a);
                a = next;
            }
            IntfNode *next = i->next;
            std::free(i);
            i = next;
        }
        std::free(vlan_);
    }

    VlanNode *vlan() { return vlan_; }

    // Appends an interface at the end of the VLAN's list with its ACEs
    // (newest first); count defaults to the number of ACEs.
    IntfNode *add(uint32_t if_index, std::initializer_list<Ace> aces,
                  std::optional<uint32_t> count = std::nullopt) {
        return add(if_index, std::vector<Ace>(aces), count);
    }
    IntfNode *add(uint32_t if_index, const std::vector<Ace> &aces,
                  std::optional<uint32_t> count = std::nullopt) {
        auto *intf = static_cast<IntfNode *>(std::calloc(1, sizeof(IntfNode)));
        intf->if_index = if_index;
        intf->count = count.value_or(static_cast<uint32_t>(aces.size()));
        AceNode **link = &intf->first;
        for (const Ace &a : aces) {
            auto *node = static_cast<AceNode *>(std::calloc(1, sizeof(AceNode)));
            std::memcpy(node->key.addr1, a.addr1.data(), 6);
            std::memcpy(node->key.addr2, a.addr2.data(), 6);
            node->key.qualifier = a.qualifier;
            *link = node;
            link = &node->next;
        }
        IntfNode **tail = &vlan_->first;
        while (*tail != nullptr)
            tail = &(*tail)->next;
        *tail = intf;
        ++vlan_->count;
        return intf;
    }

private:
    VlanNode *vlan_;
};

// ---- fixture ----

class BuilderTest : public ::testing::Test {
protected:
    void SetUp() override {
        sim::reset();
        clear_globals();
    }
    void TearDown() override { clear_globals(); }

    static void clear_globals() {
        std::free(batch_buf);
        batch_buf = nullptr;
        batch_len = 0;
        pc_override_if_index = 0;
        did_yarl_send = 0;
    }

    // Opens a batch by hand with `len` used bytes (head included), `count`
    // copies and a recognisable filler in the used bytes past the head.
    static void open_batch(uint32_t len, uint32_t count) {
        batch_buf = static_cast<uint8_t *>(std::calloc(1, kBatchSize));
        std::memset(batch_buf + 8, 0xA5, len - 8);
        std::memcpy(batch_buf + 4, &count, sizeof count);
        batch_len = len;
    }
    // The used bytes of the open batch.
    static Bytes open_batch_bytes() {
        if (batch_buf == nullptr)
            return {};
        return Bytes(batch_buf, batch_buf + batch_len);
    }
    // True when every byte of the open block past the used length is zero.
    static bool tail_is_zero() {
        for (uint32_t i = batch_len; i < kBatchSize; ++i)
            if (batch_buf[i] != 0)
                return false;
        return true;
    }

    static std::vector<sim::Call> sends() { return sim::calls_of(sim::Op::Send); }
    static Bytes sent(size_t i) { return sends().at(i).payload; }

    uint32_t program(VlanNode *vlan, IntfNode *intf, uint32_t install = 1,
                     uint32_t defer = 0) {
        return ostrel_api_program_intf(kHandle, &msg, vlan, intf, install, defer);
    }

    yarl_msg msg{};
};

} // namespace builder_test
