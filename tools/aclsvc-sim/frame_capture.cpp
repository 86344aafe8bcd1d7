// Socket frames turned into capture frames.
#include "frame_capture.h"

#include "socket_frame.h"

namespace ostrel::aclsvc {

using socket_frame::Head;
using socket_frame::Kind;

void FrameCapture::received(const uint8_t *frame, size_t n) {
    Head head;
    const uint8_t *payload = nullptr;
    if (!writer_.is_open() ||
        !socket_frame::decode(frame, n, &head, &payload) ||
        head.kind != static_cast<uint32_t>(Kind::Send))
        return;
    writer_.write(
        tools::send_frame(head.token, head.opcode, payload, head.length));
}

void FrameCapture::sent(const std::vector<uint8_t> &frame) {
    Head head;
    const uint8_t *payload = nullptr;
    if (!writer_.is_open() ||
        !socket_frame::decode(frame.data(), frame.size(), &head, &payload))
        return;
    if (head.kind == static_cast<uint32_t>(Kind::Accept))
        writer_.write(tools::accept_frame(head.token, head.error));
    else if (head.kind == static_cast<uint32_t>(Kind::Reply))
        writer_.write(tools::reply_frame(
            head.token,
            (head.flags & socket_frame::kHasPayload) != 0 ? payload : nullptr,
            head.length));
}

} // namespace ostrel::aclsvc
