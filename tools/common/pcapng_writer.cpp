// pcapng writing: blocks in the host's byte order (the section's byte-order
// magic tells readers which), frame heads big-endian.
#include <chrono>
#include <cstring>

#include "pcapng.h"
#include "tlv/byte_order.h"

namespace ostrel::tools {

namespace {

constexpr uint32_t kSectionHeader = 0x0A0D0D0A;
constexpr uint32_t kInterface = 1;
constexpr uint32_t kEnhancedPacket = 6;

template <typename T> void put(std::vector<uint8_t> *out, T value) {
    uint8_t bytes[sizeof value];
    std::memcpy(bytes, &value, sizeof value);
    out->insert(out->end(), bytes, bytes + sizeof value);
}

void put_be32(std::vector<uint8_t> *out, uint32_t v) {
    uint8_t bytes[4];
    tlv::store_be32(bytes, v);
    out->insert(out->end(), bytes, bytes + sizeof bytes);
}

bool host_is_big_endian() {
    uint16_t probe = 1;
    uint8_t first = 0;
    std::memcpy(&first, &probe, 1);
    return first == 0;
}

uint64_t now_us() {
    using namespace std::chrono;
    return static_cast<uint64_t>(
        duration_cast<microseconds>(system_clock::now().time_since_epoch())
            .count());
}

std::vector<uint8_t> frame_bytes(const CaptureFrame &f) {
    std::vector<uint8_t> out{
        1, static_cast<uint8_t>(f.direction), static_cast<uint8_t>(f.kind),
        static_cast<uint8_t>((f.big_endian ? 1 : 0) | (f.has_payload ? 2 : 0))};
    put_be32(&out, f.token);
    put_be32(&out, f.opcode);
    put_be32(&out, static_cast<uint32_t>(f.error));
    put_be32(&out, static_cast<uint32_t>(f.payload.size()));
    out.insert(out.end(), f.payload.begin(), f.payload.end());
    return out;
}

CaptureFrame frame(Direction d, FrameKind k, uint32_t token,
                   const void *payload, uint32_t length) {
    CaptureFrame f;
    f.direction = d;
    f.kind = k;
    f.token = token;
    f.big_endian = host_is_big_endian();
    f.has_payload = payload != nullptr;
    if (payload != nullptr && length > 0) {
        const auto *p = static_cast<const uint8_t *>(payload);
        f.payload.assign(p, p + length);
    }
    return f;
}

} // namespace

CaptureFrame send_frame(uint32_t token, uint32_t opcode, const void *payload,
                        uint32_t length) {
    CaptureFrame f =
        frame(Direction::ToService, FrameKind::Send, token, payload, length);
    f.opcode = opcode;
    return f;
}

CaptureFrame accept_frame(uint32_t token, int32_t error) {
    CaptureFrame f =
        frame(Direction::ToClient, FrameKind::Accept, token, nullptr, 0);
    f.error = error;
    return f;
}

CaptureFrame reply_frame(uint32_t token, const void *payload, uint32_t length) {
    return frame(Direction::ToClient, FrameKind::Reply, token, payload, length);
}

bool PcapngWriter::open(const std::string &path, std::string *err) {
    close();
    file_ = std::fopen(path.c_str(), "wb");
    if (file_ == nullptr) {
        *err = path + ": " + std::strerror(errno);
        return false;
    }
    std::vector<uint8_t> section;
    put<uint32_t>(&section, 0x1A2B3C4D); // byte-order magic
    put<uint16_t>(&section, 1);
    put<uint16_t>(&section, 0);
    put<int64_t>(&section, -1); // section length not given
    block(kSectionHeader, section);
    std::vector<uint8_t> interface;
    put<uint16_t>(&interface, kLinkTypeUser0);
    put<uint16_t>(&interface, 0);
    put<uint32_t>(&interface, 0); // no snapshot limit
    block(kInterface, interface);
    return true;
}

void PcapngWriter::write(const CaptureFrame &f) {
    if (file_ == nullptr)
        return;
    std::vector<uint8_t> data = frame_bytes(f);
    uint64_t t = f.time_us != 0 ? f.time_us : now_us();
    std::vector<uint8_t> body;
    put<uint32_t>(&body, 0); // interface
    put<uint32_t>(&body, static_cast<uint32_t>(t >> 32));
    put<uint32_t>(&body, static_cast<uint32_t>(t));
    put<uint32_t>(&body, static_cast<uint32_t>(data.size()));
    put<uint32_t>(&body, static_cast<uint32_t>(data.size()));
    body.insert(body.end(), data.begin(), data.end());
    body.resize((body.size() + 3) & ~size_t{3}, 0);
    block(kEnhancedPacket, body);
    std::fflush(file_);
}

void PcapngWriter::close() {
    if (file_ != nullptr)
        std::fclose(file_);
    file_ = nullptr;
}

void PcapngWriter::block(uint32_t type, const std::vector<uint8_t> &body) {
    std::vector<uint8_t> out;
    uint32_t total = static_cast<uint32_t>(12 + body.size());
    put(&out, type);
    put(&out, total);
    out.insert(out.end(), body.begin(), body.end());
    put(&out, total);
    (void)std::fwrite(out.data(), 1, out.size(), file_);
}

} // namespace ostrel::tools
