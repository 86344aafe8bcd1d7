// ostrelapi.hpp - C++ view of the client interface in ostrelapi.h.
//
// Status words as an enum with names, TLV encodings owned by a unique_ptr
// that frees them, and the ACE entry points taking addresses as spans.
// Everything here is inline over the C calls: nothing new is exported.
#ifndef OSTRELAPI_HPP
#define OSTRELAPI_HPP

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>

#include "ostrelapi.h"

namespace ostrel {

// A status word of the library. A failed send keeps the transport's error
// number in its low 12 bits, so a value need not be one of the names.
enum class status : uint32_t {
    ok = OSTREL_STATUS_OK,
    no_entry = OSTREL_STATUS_NO_ENTRY,
    invalid = OSTREL_STATUS_INVALID,
    send_failed = OSTREL_STATUS_SEND_FAILED,
    not_executed = OSTREL_STATUS_NOT_EXECUTED,
};

constexpr bool is_send_failure(uint32_t word) noexcept {
    return (word & ~0xfffu) == OSTREL_STATUS_SEND_FAILED;
}
constexpr bool is_send_failure(status s) noexcept {
    return is_send_failure(static_cast<uint32_t>(s));
}

// The transport's error number carried by a failed send; 0 for any other
// word.
constexpr uint32_t send_error_number(uint32_t word) noexcept {
    return is_send_failure(word) ? word & 0xfffu : 0;
}
constexpr uint32_t send_error_number(status s) noexcept {
    return send_error_number(static_cast<uint32_t>(s));
}

// Name of a status word, also of the TLV library's (ostrel_api_status_name):
// "ok", "no entry", "send failed" (whatever error number it carries), "TLV
// malformed"... or "unknown".
inline const char *to_string(uint32_t word) noexcept {
    return ostrel_api_status_name(word);
}
inline const char *to_string(status s) noexcept {
    return to_string(static_cast<uint32_t>(s));
}

// Releases a block that came from malloc.
struct free_deleter {
    void operator()(void *block) const noexcept { std::free(block); }
};

// A TLV encoding handed out by a codec; freed when it goes out of scope.
struct tlv_encoding {
    std::unique_ptr<uint8_t[], free_deleter> data;
    uint32_t size = 0;

    std::span<const uint8_t> bytes() const noexcept {
        return {data.get(), size};
    }
};

// Outcome of an encode: the status word, the encoding (empty unless ok),
// and the TLV type of the field that failed (0 if none).
struct encoded {
    status result = status::ok;
    tlv_encoding tlv;
    uint32_t failed_type = 0;
};

namespace detail {
using family_encoder = uint32_t (*)(const void *, uint8_t **, uint32_t *,
                                    uint32_t, uint32_t *, uint32_t);
using part_encoder = uint32_t (*)(const void *, uint32_t, uint8_t **,
                                  uint32_t *, uint32_t *);

inline encoded run(family_encoder encode, const void *rec, uint32_t flags,
                   uint32_t max_len) noexcept {
    encoded out;
    uint8_t *buf = nullptr;
    uint32_t len = 0;
    out.result = static_cast<status>(
        encode(rec, &buf, &len, flags, &out.failed_type, max_len));
    out.tlv.data.reset(buf);
    out.tlv.size = buf != nullptr ? len : 0;
    return out;
}

inline encoded run(part_encoder encode, const void *rec,
                   uint32_t flags) noexcept {
    encoded out;
    uint8_t *buf = nullptr;
    uint32_t len = 0, owned = 0;
    out.result = static_cast<status>(encode(rec, flags, &buf, &len, &owned));
    if (owned != 0) {
        out.tlv.data.reset(buf);
        out.tlv.size = len;
    }
    return out;
}
} // namespace detail

// Encodes a record of one of the five policy types. max_len: 0 or the most
// bytes the encoding may take.
inline encoded to_tlv(const ostrel_api_plcy_t &rec, uint32_t flags = 0,
                      uint32_t max_len = 0) noexcept {
    return detail::run(ostrel_api_plcy_to_tlv, &rec, flags, max_len);
}
inline encoded to_tlv(const ostrel_api_dst_t &rec, uint32_t flags = 0,
                      uint32_t max_len = 0) noexcept {
    return detail::run(ostrel_api_dst_to_tlv, &rec, flags, max_len);
}
inline encoded to_tlv(const ostrel_api_ace_t &rec, uint32_t flags = 0,
                      uint32_t max_len = 0) noexcept {
    return detail::run(ostrel_api_ace_to_tlv, &rec, flags, max_len);
}
inline encoded to_tlv(const ostrel_api_plcy_update_req_t &rec,
                      uint32_t flags = 0, uint32_t max_len = 0) noexcept {
    return detail::run(ostrel_api_plcy_update_req_to_tlv, &rec, flags, max_len);
}
inline encoded to_tlv(const ostrel_api_plcy_update_resp_t &rec,
                      uint32_t flags = 0, uint32_t max_len = 0) noexcept {
    return detail::run(ostrel_api_plcy_update_resp_to_tlv, &rec, flags,
                       max_len);
}

// Encodes the filter or the action part of an ACE record on its own.
inline encoded filter_to_tlv(const ostrel_api_ace_t &rec,
                             uint32_t flags = 0) noexcept {
    return detail::run(ostrel_api_ace_fltr_struct_to_tlv, &rec, flags);
}
inline encoded action_to_tlv(const ostrel_api_ace_t &rec,
                             uint32_t flags = 0) noexcept {
    return detail::run(ostrel_api_ace_actn_struct_to_tlv, &rec, flags);
}

// The two 6-byte addresses that, with a qualifier, identify an ACE.
using address = std::span<const uint8_t, 6>;

// Adds (add = true) or deletes an ACE on an interface of a VLAN.
[[nodiscard]] inline status program_acl(yarl_handle_t handle, address addr1,
                                        address addr2, uint32_t vlan_id,
                                        uint32_t if_index, uint32_t qualifier,
                                        yarl_msg &msg, bool add) noexcept {
    return static_cast<status>(
        ostrel_api_program_acl(handle, addr1.data(), addr2.data(), vlan_id,
                               if_index, qualifier, &msg, add ? 1 : 0));
}

[[nodiscard]] inline status del_acl(yarl_handle_t handle, address addr1,
                                    address addr2, uint32_t vlan_id,
                                    uint32_t if_index, uint32_t qualifier,
                                    yarl_msg &msg) noexcept {
    return static_cast<status>(ostrel_api_del_acl(handle, addr1.data(),
                                                  addr2.data(), vlan_id,
                                                  if_index, qualifier, &msg));
}

// Adds or deletes an ACE on a port channel of a VLAN.
[[nodiscard]] inline status pc_program_acl(yarl_handle_t handle, address addr1,
                                           address addr2, uint32_t vlan_id,
                                           uint32_t pc_if_index,
                                           uint32_t qualifier, yarl_msg &msg,
                                           bool add) noexcept {
    return static_cast<status>(
        ostrel_api_pc_program_acl(handle, addr1.data(), addr2.data(), vlan_id,
                                  pc_if_index, qualifier, &msg, add ? 1 : 0));
}

// Applies the changes as one bulk call (ostrel_api_program_acl_bulk): all
// or none. statuses, when not empty, must hold one word per change. A span
// longer than a bulk call takes (4 Gi changes) is refused.
[[nodiscard]] inline status
program_acl_bulk(yarl_handle_t handle,
                 std::span<const ostrel_api_acl_change_t> changes,
                 yarl_msg &msg, std::span<uint32_t> statuses = {}) noexcept {
    if (changes.size() > UINT32_MAX ||
        (!statuses.empty() && statuses.size() != changes.size())) {
        return static_cast<status>(OSTREL_STATUS_INVALID);
    }
    return static_cast<status>(ostrel_api_program_acl_bulk(
        handle, changes.data(), static_cast<uint32_t>(changes.size()),
        statuses.empty() ? nullptr : statuses.data(), &msg));
}

// Re-sends the registry's requests (ostrel_api_resync): every VLAN, or
// only vlan_id.
[[nodiscard]] inline status resync(yarl_handle_t handle,
                                   yarl_msg &msg) noexcept {
    return static_cast<status>(ostrel_api_resync(handle, nullptr, &msg));
}
[[nodiscard]] inline status resync(yarl_handle_t handle, uint32_t vlan_id,
                                   yarl_msg &msg) noexcept {
    return static_cast<status>(ostrel_api_resync(handle, &vlan_id, &msg));
}

} // namespace ostrel

#endif // OSTRELAPI_HPP
