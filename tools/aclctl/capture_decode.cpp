// Readable form of a capture's frames.
#include "capture_decode.h"

#include <cstdio>
#include <cstring>

#include "counted.h"
#include "output_sink.h"
#include "pcapng.h"
#include "status_names.h"
#include "wire_decode.h"

namespace ostrel::aclctl {

namespace {

using tools::CaptureFrame;
using tools::FrameKind;

bool host_is_big_endian() {
    uint16_t probe = 1;
    uint8_t first = 0;
    std::memcpy(&first, &probe, 1);
    return first == 0;
}

std::string frame_line(size_t index, const CaptureFrame &f) {
    char head[96];
    std::snprintf(head, sizeof head, "frame %zu at %llu.%06llu: %s, ", index,
                  static_cast<unsigned long long>(f.time_us / 1000000),
                  static_cast<unsigned long long>(f.time_us % 1000000),
                  f.direction == tools::Direction::ToService
                      ? "client -> service"
                      : "service -> client");
    std::string token = " token " + std::to_string(f.token);
    switch (f.kind) {
    case FrameKind::Send:
        return head + ("send" + token) + ", opcode " +
               std::to_string(f.opcode) + ", " +
               tools::counted(f.payload.size(), "byte") + "\n";
    case FrameKind::Accept:
        return head +
               (f.error == 0 ? "accept" + token
                             : "refusal" + token + ", errno " +
                                   std::to_string(f.error)) +
               "\n";
    case FrameKind::Reply:
        break;
    }
    uint32_t word = 0;
    if (f.payload.size() >= 4)
        std::memcpy(&word, f.payload.data(), 4);
    return head + ("reply" + token) +
           (f.payload.size() >= 4 ? ", status " + tools::status_text(word)
                                  : std::string(", no status word")) +
           "\n";
}

// The decoded message of a send, or false with *err set.
bool send_text(const CaptureFrame &f, std::string *out, std::string *err) {
    if (f.big_endian != host_is_big_endian()) {
        *out = "payload in the other byte order: not decoded\n";
        return true;
    }
    return tools::decode_message(f.payload.data(), f.payload.size(), out, err);
}

} // namespace

int decode_capture(const std::string &path, const std::vector<uint8_t> &bytes) {
    std::vector<CaptureFrame> frames;
    std::string err;
    std::string stop;
    int status = 0;
    if (!tools::read_pcapng(bytes.data(), bytes.size(), &frames, &stop))
        status = 1; // the frames before the fault are still decoded
    for (size_t i = 0; i < frames.size(); ++i) {
        std::string text = frame_line(i + 1, frames[i]);
        std::string decoded;
        if (frames[i].kind == FrameKind::Send &&
            !send_text(frames[i], &decoded, &err)) {
            decoded = "undecodable: " + err + "\n";
            std::fprintf(stderr, "aclctl: %s: frame %zu: %s\n", path.c_str(),
                         i + 1, err.c_str());
            status = 1;
        }
        std::fputs((text + out::indent(decoded, 2)).c_str(), stdout);
    }
    if (!stop.empty())
        std::fprintf(stderr,
                     "aclctl: %s: %s; decoding stops there, after %zu %s\n",
                     path.c_str(), stop.c_str(), frames.size(),
                     frames.size() == 1 ? "frame" : "frames");
    return status;
}

} // namespace ostrel::aclctl
