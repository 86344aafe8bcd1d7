// The state of the open RecordReuse scope: which VLAN, where in which
// batch the request to copy records from lies, and the VLAN's sizing sum.
#include "programming/request/record_reuse.h"

#include "programming/programming_internal.h"
#include "programming/request/batch.h"

namespace ostrel {
namespace {

struct Offer {
    const VlanNode *vlan = nullptr; // the scope's VLAN; null: no scope
    uint64_t batch = 0;             // batch_serial() of the copy's batch
    uint32_t offset = 0;            // the copy's position; 0: none offered
    uint32_t size = 0;
    std::optional<uint64_t> extra_records; // sizing sum, once computed
};

Offer offer;

} // namespace

RecordReuse::RecordReuse(const VlanNode *vlan) {
    offer = Offer{vlan, 0, 0, 0, std::nullopt};
}

RecordReuse::~RecordReuse() {
    offer = Offer{};
}

const void *reusable_request(const VlanNode &vlan, const IntfNode &intf,
                             uint32_t size) {
    const bool usable = offer.vlan == &vlan && offer.offset != 0 &&
                        intf.count != 0 && offer.size == size &&
                        batch_is_open() && offer.batch == batch_serial();
    return usable ? batch_buf + offer.offset : nullptr;
}

void offer_request(const VlanNode &vlan, const IntfNode &intf, const void *copy,
                   uint32_t size) {
    if (offer.vlan != &vlan || intf.count == 0) {
        return;
    }
    if (offer.offset != 0 && offer.batch == batch_serial()) {
        return; // keep copying from one request: it stays in the cache
    }
    offer.batch = batch_serial();
    offer.offset =
        static_cast<uint32_t>(static_cast<const uint8_t *>(copy) - batch_buf);
    offer.size = size;
}

std::optional<uint64_t> scoped_extra_records(const VlanNode &vlan) {
    return offer.vlan == &vlan ? offer.extra_records : std::nullopt;
}

void remember_extra_records(const VlanNode &vlan, uint64_t extra) {
    if (offer.vlan == &vlan) {
        offer.extra_records = extra;
    }
}

} // namespace ostrel
