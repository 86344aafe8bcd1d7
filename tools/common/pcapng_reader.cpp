// pcapng reading for `aclctl decode`: every block length is checked
// against the bytes left before the block is read.
#include <cstring>

#include "counted.h"
#include "pcapng.h"
#include "tlv/byte_order.h"

namespace ostrel::tools {

namespace {

using tlv::load_be32;

constexpr uint32_t kSectionHeader = 0x0A0D0D0A;
constexpr uint32_t kInterface = 1;
constexpr uint32_t kEnhancedPacket = 6;
constexpr uint32_t kByteOrderMagic = 0x1A2B3C4D;

uint32_t load32(const uint8_t *p, bool swap) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return swap ? __builtin_bswap32(v) : v;
}

uint16_t load16(const uint8_t *p, bool swap) {
    uint16_t v;
    std::memcpy(&v, p, 2);
    return swap ? __builtin_bswap16(v) : v;
}

bool fail(std::string *err, const std::string &text) {
    *err = text;
    return false;
}

// The frame head and payload of one packet.
bool read_frame(const uint8_t *p, size_t n, CaptureFrame *f, std::string *err) {
    if (n < kFrameHeadSize)
        return fail(err, "packet of " + counted(n, "byte") +
                             " is shorter than the 20-byte frame head");
    if (p[0] != 1)
        return fail(err, "frame version " + std::to_string(p[0]) + ", not 1");
    if (p[1] > 1 || p[2] < 1 || p[2] > 3)
        return fail(err, "unknown frame direction or kind");
    f->direction = static_cast<Direction>(p[1]);
    f->kind = static_cast<FrameKind>(p[2]);
    f->big_endian = (p[3] & 1) != 0;
    f->has_payload = (p[3] & 2) != 0;
    f->token = load_be32(p + 4);
    f->opcode = load_be32(p + 8);
    f->error = static_cast<int32_t>(load_be32(p + 12));
    uint32_t length = load_be32(p + 16);
    if (length != n - kFrameHeadSize)
        return fail(err, "frame claims " + counted(length, "payload byte") +
                             ", the packet holds " +
                             std::to_string(n - kFrameHeadSize));
    f->payload.assign(p + kFrameHeadSize, p + n);
    return true;
}

struct Section {
    bool seen = false;
    bool swap = false;
    uint32_t interfaces = 0;
};

bool read_block(uint32_t type, const uint8_t *body, size_t n, Section *s,
                std::vector<CaptureFrame> *frames, std::string *err) {
    if (type == kInterface) {
        if (n < 8)
            return fail(err, "interface block too short");
        uint16_t link = load16(body, s->swap);
        if (link != kLinkTypeUser0)
            return fail(err, "link type " + std::to_string(link) +
                                 ", not 147 (LINKTYPE_USER0)");
        ++s->interfaces;
        return true;
    }
    if (type != kEnhancedPacket)
        return true;
    if (n < 20)
        return fail(err, "packet block too short");
    if (load32(body, s->swap) >= s->interfaces)
        return fail(err, "packet of an undeclared interface");
    uint64_t t =
        (uint64_t{load32(body + 4, s->swap)} << 32) | load32(body + 8, s->swap);
    uint32_t captured = load32(body + 12, s->swap);
    if (captured > n - 20)
        return fail(err, "packet runs past its block");
    CaptureFrame f;
    std::string why;
    if (!read_frame(body + 20, captured, &f, &why))
        return fail(err,
                    "frame " + std::to_string(frames->size() + 1) + ": " + why);
    f.time_us = t;
    frames->push_back(std::move(f));
    return true;
}

// A capture whose writer stopped in the middle of a block.
std::string cut_short(size_t at, size_t need, size_t left, const char *what) {
    return "cut short in the middle of " + std::string(what) + " at offset " +
           std::to_string(at) + " (" + std::to_string(need) +
           " bytes needed, " + std::to_string(left) + " left)";
}

} // namespace

bool is_pcapng(const uint8_t *bytes, size_t n) {
    return n >= 4 && load32(bytes, false) == kSectionHeader;
}

bool read_pcapng(const uint8_t *bytes, size_t n,
                 std::vector<CaptureFrame> *frames, std::string *err) {
    Section s;
    size_t at = 0;
    while (at < n) {
        if (n - at < 12)
            return fail(err, cut_short(at, 12, n - at, "the head of a block"));
        uint32_t type = load32(bytes + at, s.swap);
        if (type == kSectionHeader) {
            if (n - at < 28)
                return fail(err, "section header cut short");
            uint32_t magic = load32(bytes + at + 8, false);
            if (magic != kByteOrderMagic &&
                magic != __builtin_bswap32(kByteOrderMagic))
                return fail(err, "bad byte-order magic");
            s = Section{true, magic != kByteOrderMagic, 0};
        } else if (!s.seen) {
            return fail(err, "not a pcapng file");
        }
        uint32_t total = load32(bytes + at + 4, s.swap);
        if (total < 12 || total % 4 != 0)
            return fail(err, "block at offset " + std::to_string(at) +
                                 " has a bad length");
        if (total > n - at)
            return fail(err, cut_short(at, total, n - at, "a block"));
        if (type != kSectionHeader &&
            !read_block(type, bytes + at + 8, total - 12, &s, frames, err))
            return false;
        at += total;
    }
    return true;
}

} // namespace ostrel::tools
