// `aclctl decode`: a message, or a capture frame by frame.
#include "capture_decode.h"

#include <cstdio>
#include <cstring>

#include "counted.h"
#include "input_file.h"
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

// Prints the frames of a capture as they are read.
int decode_capture(const std::string &path, tools::PcapngReader *reader) {
    CaptureFrame frame;
    std::string err;
    std::string stop;
    int status = 0;
    while (reader->next(&frame, &stop)) {
        const size_t index = reader->frames_read();
        std::string decoded;
        if (frame.kind == FrameKind::Send &&
            !send_text(frame, &decoded, &err)) {
            decoded = "undecodable: " + err + "\n";
            std::fprintf(stderr, "aclctl: %s: frame %zu: %s\n", path.c_str(),
                         index, err.c_str());
            status = 1;
        }
        std::fputs((frame_line(index, frame) + out::indent(decoded, 2)).c_str(),
                   stdout);
    }
    if (stop.empty())
        return status;
    const size_t frames = reader->frames_read();
    std::fflush(stdout);
    std::fprintf(stderr, "aclctl: %s: %s; decoding stops there, after %zu %s\n",
                 path.c_str(), stop.c_str(), frames,
                 frames == 1 ? "frame" : "frames");
    return 1; // the frames before the fault are decoded all the same
}

// One message, read whole.
int decode_message_file(const std::string &path, std::FILE *f,
                        const uint8_t *start, size_t n) {
    std::vector<uint8_t> bytes(start, start + n);
    std::string err;
    if (!read_rest(f, kMaxMessageFile, &bytes, &err)) {
        std::fprintf(stderr, "aclctl: %s: %s\n", path.c_str(), err.c_str());
        return 2;
    }
    std::string text;
    if (!tools::decode_message(bytes.data(), bytes.size(), &text, &err)) {
        std::fprintf(stderr, "aclctl: %s: %s\n", path.c_str(), err.c_str());
        return 1;
    }
    std::fputs(text.c_str(), stdout);
    return 0;
}

} // namespace

int decode_file(const std::string &path) {
    std::string err;
    InputFile input(path, &err);
    if (!input.is_open()) {
        std::fprintf(stderr, "aclctl: %s\n", err.c_str());
        return 2;
    }
    uint8_t start[4];
    const size_t n = std::fread(start, 1, sizeof start, input.get());
    if (!tools::is_pcapng(start, n))
        return decode_message_file(path, input.get(), start, n);
    tools::PcapngReader reader(input.get(), start, n);
    return decode_capture(path, &reader);
}

} // namespace ostrel::aclctl
