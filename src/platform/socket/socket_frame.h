// Frames of the socket transport. Client and service exchange one frame
// per SOCK_SEQPACKET message over a Unix-domain socket on one machine, so
// every field is in the host's byte order.
//
//   client -> service  Send    a message: destination, opcode, token, payload
//   service -> client  Accept  the service took the Send with that token
//                              (error 0) or refused it (error = errno)
//   service -> client  Reply   the reply to the Send with that token
//   client -> service  Query   a request outside the message stream (opcode
//                              names what is asked; no token is consumed)
//   service -> client  Answer  the answer to a Query, in one or more pages
//
// A frame larger than kMaxFrame is refused by its receiver without ending
// the session when its head is well formed: a service answers an oversized
// Send with an Accept carrying EMSGSIZE and an oversized Query with an
// Answer carrying EMSGSIZE; a client fails the call waiting for that frame
// with EMSGSIZE.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ostrel::socket_frame {

inline constexpr uint32_t kMagic = 0x59524c31; // "YRL1"
// Largest payload one frame carries: room for a full programming batch.
inline constexpr uint32_t kMaxPayload = 256 * 1024;

enum class Kind : uint32_t {
    Send = 1,
    Accept = 2,
    Reply = 3,
    Query = 4,
    Answer = 5,
};

// Flag bit of a Reply or Answer: the frame carries a payload (a zero-length
// payload is still a payload).
inline constexpr uint32_t kHasPayload = 0x1;
// Flag bit of an Answer: further Answer frames of the same token follow.
// The answer is the payloads of its pages one after another.
inline constexpr uint32_t kMorePages = 0x2;
// Payload bytes of each page of an answer but the last.
inline constexpr uint32_t kPageSize = 64 * 1024;

// A Reply's payload is read without a length (yarl_payload_get), its first
// word being the status: a Reply that carries a payload carries at least
// that word, and one with fewer bytes is malformed.
inline constexpr uint32_t kMinReplyPayload = 4;

struct Head {
    uint32_t magic;
    uint32_t kind;
    uint32_t token;
    uint32_t node;
    uint32_t service;
    uint32_t opcode;
    int32_t error;
    uint32_t flags;
    uint32_t length; // payload bytes following the head
};
static_assert(sizeof(Head) == 36, "frame head is 36 bytes");

inline constexpr size_t kMaxFrame = sizeof(Head) + kMaxPayload;

// A frame head filled with kind and token, every other field zero.
Head make_head(Kind kind, uint32_t token);

// Head followed by `length` payload bytes, ready to send as one message.
std::vector<uint8_t> encode(const Head &head, const void *payload,
                            uint32_t length);

// Checks that `n` received bytes hold one well-formed frame: the magic, a
// known kind, a length that matches the bytes after the head exactly, and
// for a Reply with a payload, at least kMinReplyPayload bytes of it.
// On success *head is filled and *payload points at the payload.
bool decode(const uint8_t *bytes, size_t n, Head *head,
            const uint8_t **payload);

// Checks the head of a message of `total` bytes, more than kMaxFrame, of
// which the first `n` were received: the magic, a known kind and a length
// that matches `total`. On success *head is filled, so that the frame can
// be refused to its sender.
bool decode_oversized(const uint8_t *bytes, size_t n, size_t total, Head *head);

} // namespace ostrel::socket_frame
