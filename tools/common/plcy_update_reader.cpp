// Policy update requests in TLV form, decoded with this library's own
// codec after the array header has been checked against the message size
// (the codec's size query trusts that header).
#include <cstdio>
#include <cstring>

#include "counted.h"
#include "status_names.h"
#include "tlv/byte_order.h"
#include "tlvu.h"
#include "wire_decode.h"

namespace ostrel::tools {

namespace {

using tlv::load_be32;

constexpr size_t kFixedPart = 24;

bool fail(std::string *err, std::string text) {
    if (err != nullptr)
        *err = std::move(text);
    return false;
}

// What a header there claims, for the reason of a refusal.
std::string claim(const uint8_t *bytes, size_t n) {
    if (bytes == nullptr || n < 4)
        return " is missing and";
    return " claims " + counted(load_be32(bytes), "byte") + ", which";
}

void copy_fixed_part(const ostrel_api_plcy_update_req_t *rec, Request *out) {
    out->plcy_op = rec->plcy.plcy_op;
    out->plcy_tlv2 = rec->plcy.plcy_tlv2;
    out->dst_tlv4 = rec->dst.dst_tlv4;
    out->dst_tlv5 = rec->dst.dst_tlv5;
    out->vlan = rec->dst.dst_vlan;
    out->if_index = rec->dst.dst_if_index;
    out->num_aces = rec->num_aces;
}

// The request names its policy (TLV 12), destination (TLV 13) and ACE
// count (TLV 16): without them it programs nothing anywhere.
const char *missing_field(const void *tlv, uint32_t n) {
    static const struct {
        uint32_t type;
        const char *name;
    } required[] = {{12, "policy"}, {13, "destination"}, {16, "ACE count"}};
    uint8_t value[64];
    for (const auto &f : required) {
        uint32_t status = ostrel_api_plcy_update_req_get_field(
            tlv, n, f.type, value, sizeof value);
        if (status != TLVU_STATUS_OK && status != TLVU_STATUS_TOO_SMALL)
            return f.name;
    }
    return nullptr;
}

} // namespace

bool has_tlv_header(const uint8_t *bytes, size_t n) {
    return bytes != nullptr && n >= 4 && load_be32(bytes) == n - 4;
}

bool read_plcy_update(const uint8_t *bytes, size_t n, Request *out,
                      std::string *err) {
    if (!has_tlv_header(bytes, n))
        return fail(err, "policy update of " + counted(n, "byte") +
                             ": the TLV array header" + claim(bytes, n) +
                             " does not give the message length minus 4");
    // The codec reads the bytes where they are: give it an aligned copy.
    std::vector<uint64_t> input((n + 7) / 8);
    std::memcpy(input.data(), bytes, n);
    int32_t size = ostrel_api_plcy_update_req_get_struct_sz(input.data());
    if (size < static_cast<int32_t>(kFixedPart) ||
        (static_cast<size_t>(size) - kFixedPart) % sizeof(ostrel_api_ace_t))
        return fail(err, "policy update: the TLV array is not a policy "
                         "update request");
    std::vector<uint64_t> storage((static_cast<size_t>(size) + 7) / 8);
    uint32_t status = ostrel_api_plcy_update_req_to_struct(
        input.data(), static_cast<uint32_t>(n), storage.data(),
        static_cast<uint32_t>(size));
    if (status != OSTREL_STATUS_OK)
        return fail(err, "policy update: decoding failed with status " +
                             status_text(status));
    if (const char *field = missing_field(input.data(), uint32_t(n)))
        return fail(err, std::string("policy update: the request has no ") +
                             field + " field");
    const auto *rec =
        reinterpret_cast<const ostrel_api_plcy_update_req_t *>(storage.data());
    Request request;
    copy_fixed_part(rec, &request);
    size_t records =
        (static_cast<size_t>(size) - kFixedPart) / sizeof(ostrel_api_ace_t);
    if (request.num_aces != records)
        return fail(err, "policy update: num_aces is " +
                             std::to_string(request.num_aces) + " but " +
                             counted(records, "ACE record") +
                             (records == 1 ? " is" : " are") + " present");
    request.aces.assign(rec->aces, rec->aces + records);
    if (out != nullptr)
        *out = std::move(request);
    return true;
}

} // namespace ostrel::tools
