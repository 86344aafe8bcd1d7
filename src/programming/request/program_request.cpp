// Building one interface's ProgramRequest from the registry: sizing, the
// slot rule for ACE records and the two closing records, in the policy
// update request layout of ostrelapi.h.
//
// Every byte of a request is written exactly once and no byte is read
// before it is written, so a request is written straight into the batch
// block, whose bytes past the used length were never zeroed.
#include "programming/request/program_request.h"

#include <cstring>
#include <limits>

#include "programming/programming_internal.h"
#include "programming/request/record_reuse.h"

namespace ostrel {
namespace {

// Header field values of every programming request, and fltr_tlv8 of an
// ACE record and of the first closing record (batch_layout.h, where the
// tools and the benchmarks read them too); fltr_tlv8 of the second.
using request_values::kDstTlv4;
using request_values::kDstTlv5;
using request_values::kFltrTlv8Ace;
using request_values::kOpInstall;
using request_values::kOpRemove;
using request_values::kPlcyTlv2;
constexpr uint32_t kFltrTlv8SecondClosing = 1;
constexpr uint32_t kClosingRecords = 2;
constexpr uint32_t kHeaderSize = sizeof(ostrel_api_plcy_update_req_t);

// The closing records are composed whole and stored with one copy: the
// bytes not set below are zero.
void store(ostrel_api_ace_t &slot, const ostrel_api_ace_t &record) {
    std::memcpy(&slot, &record, sizeof record);
}

// The hot one, an ACE record, is written in place instead: composing it on
// the stack and copying it out stalls on every record (the wide loads of
// the copy cannot be served from the narrow stores just made), which cost
// more than the whole rest of the build. Each byte is stored once, the
// zero fields too: no zeroing pass under the fields, no overlapping stores
// (the compiler merges neighbouring ones into word stores).
void write_ace_record(ostrel_api_ace_t &r, const AceKey &key) {
    r.fltr.fltr_tlv8 = kFltrTlv8Ace;
    std::memset(r.fltr.fltr_pad4, 0, sizeof r.fltr.fltr_pad4);
    r.fltr.fltr_flags = OSTREL_FLTR_FLAG_PRESENT;
    r.fltr.fltr_qualifier = key.qualifier;
    std::memcpy(r.fltr.fltr_addr1, key.addr1, sizeof key.addr1);
    std::memset(r.fltr.fltr_addr2, 0, sizeof r.fltr.fltr_addr2);
    std::memcpy(r.fltr.fltr_addr3, key.addr2, sizeof key.addr2);
    std::memset(r.fltr.fltr_addr4, 0, sizeof r.fltr.fltr_addr4);
    std::memset(r.fltr.fltr_pad42, 0, sizeof r.fltr.fltr_pad42);
    r.actn.actn_flags = OSTREL_ACTN_FLAG_TLV10;
    r.actn.actn_tlv10 = 1;
    r.actn.actn_tlv11 = 0;
}

void write_first_closing(ostrel_api_ace_t &slot, uint16_t qualifier) {
    ostrel_api_ace_t r{};
    r.fltr.fltr_tlv8 = kFltrTlv8Ace;
    r.fltr.fltr_qualifier = qualifier;
    r.actn.actn_flags = OSTREL_ACTN_FLAG_TLV10;
    store(slot, r);
}

void write_second_closing(ostrel_api_ace_t &slot) {
    ostrel_api_ace_t r{};
    r.fltr.fltr_tlv8 = kFltrTlv8SecondClosing;
    r.actn.actn_flags = OSTREL_ACTN_FLAG_TLV10;
    store(slot, r);
}

void write_header(ostrel_api_plcy_update_req_t &req, const VlanNode &vlan,
                  const IntfNode &intf, uint32_t install, uint32_t num_aces) {
    ostrel_api_plcy_update_req_t h{};
    h.plcy.plcy_op = install != 0 ? kOpInstall : kOpRemove;
    h.plcy.plcy_tlv2 = kPlcyTlv2;
    h.dst.dst_tlv4 = kDstTlv4;
    h.dst.dst_tlv5 = kDstTlv5;
    h.dst.dst_vlan = static_cast<uint16_t>(vlan.vlan_id);
    h.dst.dst_if_index = intf.if_index;
    h.num_aces = num_aces;
    std::memcpy(&req, &h, kHeaderSize);
}

// Sizing: n = the sum of c - 1 over the VLAN's interfaces with count c != 0,
// or 0 when the named interface has no ACEs. Summed in 64 bits so that no
// registry content can wrap it; once per operation (the RecordReuse scope).
uint64_t extra_records(VlanNode &vlan, const IntfNode &named) {
    if (named.count == 0) {
        return 0;
    }
    if (const std::optional<uint64_t> known = scoped_extra_records(vlan)) {
        return *known;
    }
    uint64_t n = 0;
    for (IntfNode *i = brisel_intf_get_first(&vlan); i != nullptr;
         i = brisel_intf_get_next(&vlan, i)) {
        if (i->count != 0) {
            n += i->count - 1;
        }
    }
    remember_extra_records(vlan, n);
    return n;
}

// The record slots of one request as they are written in slot order. A
// slot that the slot rule leaves "as it is" holds zero unless an earlier
// record went there: `zeroed_` counts the slots from 0 that hold their
// final or zero content, so skipped slots are zeroed as the writing passes
// them instead of zeroing the whole area first.
class SlotWriter {
  public:
    explicit SlotWriter(ostrel_api_ace_t *slots) : slots_(slots) {}

    void write(uint32_t slot, const AceKey &key) {
        zero_up_to(slot);
        write_ace_record(slots_[slot], key);
        if (slot + 1 > written_) {
            written_ = slot + 1;
        }
    }
    // Zeroes every slot below `end` not written yet.
    void zero_up_to(uint32_t end) {
        if (end > written_) {
            std::memset(&slots_[written_], 0,
                        size_t{end - written_} * kRecordSize);
            written_ = end;
        }
    }

  private:
    ostrel_api_ace_t *slots_;
    uint32_t written_ = 0;
};

// The slot rule. For each interface with count c != 0 (list order),
// its first c ACE nodes (newest first, fewer if the list ends) go to slots
// b .. b + c - 1, all-zero first addresses leaving their slot as it is; then
// b advances by c - 1 only, so an interface's last slot is the next one's
// first slot (and the last interface's last slot is the first closing
// record's). Returns the final b and sets q to the qualifier of the last
// record written (0 if none) and n to the records counted.
//
// Slots stay inside the block: with the same counts as the sizing, the highest
// slot written is b + c - 1 <= n, and the closing records take n and n + 1.
uint32_t write_ace_records(VlanNode &vlan, SlotWriter &slots, uint16_t &q,
                           uint32_t &n) {
    uint32_t b = 0;
    for (IntfNode *i = brisel_intf_get_first(&vlan); i != nullptr;
         i = brisel_intf_get_next(&vlan, i)) {
        const uint32_t c = i->count;
        if (c == 0) {
            continue;
        }
        n += c - 1;
        uint32_t j = 0;
        for (const AceNode *ace = i->first; ace != nullptr && j < c;
             ace = ace->next, ++j) {
            if (is_all_zero(ace->key.addr1)) {
                continue;
            }
            slots.write(b + j, ace->key);
            q = ace->key.qualifier;
        }
        b += c - 1;
    }
    return b;
}

ostrel_api_plcy_update_req_t &as_request(void *block) {
    return *static_cast<ostrel_api_plcy_update_req_t *>(block);
}

} // namespace

uint32_t request_size(VlanNode &vlan, const IntfNode &intf) {
    const uint64_t slots = extra_records(vlan, intf) + kClosingRecords;
    const uint64_t size = kHeaderSize + kRecordSize * slots;
    // A size that a u32 length cannot carry is reported as 0, which the
    // builder treats as the allocation failure it would be.
    if (size > std::numeric_limits<uint32_t>::max()) {
        return 0;
    }
    return static_cast<uint32_t>(size);
}

void write_request_into(void *dst, VlanNode &vlan, const IntfNode &intf,
                        uint32_t install) {
    ostrel_api_plcy_update_req_t &req = as_request(dst);
    SlotWriter slots(req.aces);
    // ACE records, only when the named interface has ACEs.
    uint32_t b = 0;
    uint16_t q = 0;
    uint32_t n = 0;
    if (intf.count != 0) {
        b = write_ace_records(vlan, slots, q, n);
    }
    slots.zero_up_to(b);

    // The two closing records at slots b and b + 1, ending the block.
    write_first_closing(req.aces[b], q);
    write_second_closing(req.aces[b + 1]);
    // b + 2 records fill the request_size() bytes exactly (the slot rule).
    write_header(req, vlan, intf, install, n + kClosingRecords);
}

void write_request_reusing(void *dst, const void *from, uint32_t size,
                           VlanNode &vlan, const IntfNode &intf,
                           uint32_t install) {
    const auto &earlier =
        *static_cast<const ostrel_api_plcy_update_req_t *>(from);
    std::memcpy(static_cast<uint8_t *>(dst) + kHeaderSize,
                static_cast<const uint8_t *>(from) + kHeaderSize,
                size - kHeaderSize);
    write_header(as_request(dst), vlan, intf, install, earlier.num_aces);
}

uint32_t request_dst_if_index(const void *request) {
    return static_cast<const ostrel_api_plcy_update_req_t *>(request)
        ->dst.dst_if_index;
}

void set_request_dst_if_index(void *request, uint32_t if_index) {
    as_request(request).dst.dst_if_index = if_index;
}

ProgramRequest ProgramRequest::allocate(VlanNode &vlan, const IntfNode &intf) {
    ProgramRequest request;
    const uint32_t size = request_size(vlan, intf);
    if (size == 0) {
        return request;
    }
    request.block_.reset(std::malloc(size));
    if (request.block_ != nullptr) {
        request.size_ = size;
    }
    return request;
}

} // namespace ostrel
