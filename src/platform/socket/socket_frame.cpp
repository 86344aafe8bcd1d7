// Frame encoding and validation of the socket transport.
#include "socket_frame.h"

#include <cstring>

namespace ostrel::socket_frame {

Head make_head(Kind kind, uint32_t token) {
    Head head{};
    head.magic = kMagic;
    head.kind = static_cast<uint32_t>(kind);
    head.token = token;
    return head;
}

std::vector<uint8_t> encode(const Head &head, const void *payload,
                            uint32_t length) {
    Head h = head;
    h.length = length;
    std::vector<uint8_t> out(sizeof h + length);
    std::memcpy(out.data(), &h, sizeof h);
    if (length > 0)
        std::memcpy(out.data() + sizeof h, payload, length);
    return out;
}

namespace {

// The magic and a known kind.
bool read_head(const uint8_t *bytes, size_t n, Head *h) {
    if (bytes == nullptr || n < sizeof(Head))
        return false;
    std::memcpy(h, bytes, sizeof *h);
    return h->magic == kMagic && h->kind >= static_cast<uint32_t>(Kind::Send) &&
           h->kind <= static_cast<uint32_t>(Kind::Answer);
}

} // namespace

bool decode_oversized(const uint8_t *bytes, size_t n, size_t total,
                      Head *head) {
    Head h;
    if (total <= kMaxFrame || !read_head(bytes, n, &h) ||
        h.length != total - sizeof h)
        return false;
    *head = h;
    return true;
}

bool decode(const uint8_t *bytes, size_t n, Head *head,
            const uint8_t **payload) {
    Head h;
    if (!read_head(bytes, n, &h))
        return false;
    if (h.length > kMaxPayload || h.length != n - sizeof h)
        return false;
    if (h.kind == static_cast<uint32_t>(Kind::Reply) &&
        (h.flags & kHasPayload) != 0 && h.length < kMinReplyPayload)
        return false;
    *head = h;
    *payload = bytes + sizeof h;
    return true;
}

} // namespace ostrel::socket_frame
