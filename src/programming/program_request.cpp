// Building one interface's ProgramRequest from the registry: sizing, the
// slot rule for ACE records and the two closing records, in the policy
// update request layout of ostrelapi.h.
#include "programming/program_request.h"

#include <cstring>
#include <limits>

namespace ostrel {
namespace {

// Header field values of every programming request.
constexpr uint32_t kOpInstall = 1;
constexpr uint32_t kOpRemove = 2;
constexpr uint32_t kPlcyTlv2 = 3;
constexpr uint32_t kDstTlv4 = 1;
constexpr uint16_t kDstTlv5 = 1;
// fltr_tlv8 of an ACE record and of the first closing record; of the second.
constexpr uint32_t kFltrTlv8Ace = 3;
constexpr uint32_t kFltrTlv8SecondClosing = 1;
constexpr uint32_t kClosingRecords = 2;

bool first_address_is_zero(const AceKey &key) {
    static constexpr uint8_t kZero[sizeof key.addr1] = {};
    return std::memcmp(key.addr1, kZero, sizeof kZero) == 0;
}

void clear(ostrel_api_ace_t &slot) { std::memset(&slot, 0, sizeof slot); }

// An ACE record written from one AceNode's key: every byte is defined, the
// ones not set below are zero.
void write_ace_record(ostrel_api_ace_t &slot, const AceKey &key) {
    clear(slot);
    slot.fltr.fltr_tlv8 = kFltrTlv8Ace;
    slot.fltr.fltr_flags = OSTREL_FLTR_FLAG_PRESENT;
    slot.fltr.fltr_qualifier = key.qualifier;
    std::memcpy(slot.fltr.fltr_addr1, key.addr1, sizeof key.addr1);
    std::memcpy(slot.fltr.fltr_addr3, key.addr2, sizeof key.addr2);
    slot.actn.actn_flags = OSTREL_ACTN_FLAG_TLV10;
    slot.actn.actn_tlv10 = 1;
}

void write_first_closing(ostrel_api_ace_t &slot, uint16_t qualifier) {
    clear(slot);
    slot.fltr.fltr_tlv8 = kFltrTlv8Ace;
    slot.fltr.fltr_qualifier = qualifier;
    slot.actn.actn_flags = OSTREL_ACTN_FLAG_TLV10;
}

void write_second_closing(ostrel_api_ace_t &slot) {
    clear(slot);
    slot.fltr.fltr_tlv8 = kFltrTlv8SecondClosing;
    slot.actn.actn_flags = OSTREL_ACTN_FLAG_TLV10;
}

// Sizing: n = the sum of c - 1 over the VLAN's interfaces with count c != 0,
// or 0 when the named interface has no ACEs. Summed in 64 bits so that no
// registry content can wrap it.
uint64_t extra_records(VlanNode &vlan, const IntfNode &named) {
    uint64_t n = 0;
    if (named.count == 0) {
        return n;
    }
    for (IntfNode *i = brisel_intf_get_first(&vlan); i != nullptr;
         i = brisel_intf_get_next(&vlan, i)) {
        if (i->count != 0) {
            n += i->count - 1;
        }
    }
    return n;
}

// The slot rule. For each interface with count c != 0 (list order),
// its first c ACE nodes (newest first, fewer if the list ends) go to slots
// b .. b + c - 1, all-zero first addresses leaving their slot as it is; then
// b advances by c - 1 only, so an interface's last slot is the next one's
// first slot (and the last interface's last slot is the first closing
// record's). Returns the final b and sets q to the qualifier of the last
// record written (0 if none).
//
// Slots stay inside the block: with the same counts as the sizing, the highest
// slot written is b + c - 1 <= n, and the closing records take n and n + 1.
uint32_t write_ace_records(VlanNode &vlan, ostrel_api_plcy_update_req_t &req,
                           uint16_t &q) {
    uint32_t b = 0;
    for (IntfNode *i = brisel_intf_get_first(&vlan); i != nullptr;
         i = brisel_intf_get_next(&vlan, i)) {
        const uint32_t c = i->count;
        if (c == 0) {
            continue;
        }
        req.num_aces += c - 1;
        uint32_t j = 0;
        for (const AceNode *ace = i->first; ace != nullptr && j < c; ace = ace->next, ++j) {
            if (first_address_is_zero(ace->key)) {
                continue;
            }
            write_ace_record(req.aces[b + j], ace->key);
            q = ace->key.qualifier;
        }
        b += c - 1;
    }
    return b;
}

} // namespace

ProgramRequest ProgramRequest::build(VlanNode &vlan, const IntfNode &intf,
                                     uint32_t install) {
    ProgramRequest request;
    const uint64_t slots = extra_records(vlan, intf) + kClosingRecords;
    const uint64_t size = sizeof(ostrel_api_plcy_update_req_t) + sizeof(ostrel_api_ace_t) * slots;
    // A size that a u32 length cannot carry is treated as the allocation
    // failure it would be (size_t is at least as wide as u32).
    if (size > std::numeric_limits<uint32_t>::max()) {
        return request;
    }

    // Allocate, zeroed; the header from plcy_op to dst_if_index.
    void *block = std::calloc(1, static_cast<size_t>(size));
    if (block == nullptr) {
        return request;
    }
    request.block_.reset(static_cast<ostrel_api_plcy_update_req_t *>(block));
    request.size_ = static_cast<uint32_t>(size);

    ostrel_api_plcy_update_req_t &req = request.header();
    req.plcy.plcy_op = install != 0 ? kOpInstall : kOpRemove;
    req.plcy.plcy_tlv2 = kPlcyTlv2;
    req.dst.dst_tlv4 = kDstTlv4;
    req.dst.dst_tlv5 = kDstTlv5;
    req.dst.dst_vlan = static_cast<uint16_t>(vlan.vlan_id);
    req.dst.dst_if_index = intf.if_index;
    req.num_aces = 0;

    // ACE records, only when the named interface has ACEs.
    uint32_t b = 0;
    uint16_t q = 0;
    if (intf.count != 0) {
        b = write_ace_records(vlan, req, q);
    }

    // The two closing records at slots b and b + 1.
    req.num_aces += 1;
    write_first_closing(req.aces[b], q);
    req.num_aces += 1;
    write_second_closing(req.aces[b + 1]);
    return request;
}

} // namespace ostrel
