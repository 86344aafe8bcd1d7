// pcapng reading for `aclctl decode`, one block at a time: every block
// length is checked against the bytes left before the block is used.
#include <algorithm>
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

PcapngReader::PcapngReader(std::FILE *file, const uint8_t *start, size_t n)
    : file_(file), start_(start, start + n) {}

size_t PcapngReader::take(size_t want) {
    const size_t old = block_.size();
    block_.resize(old + want);
    size_t got = std::min(want, start_.size() - start_at_);
    std::memcpy(block_.data() + old, start_.data() + start_at_, got);
    start_at_ += got;
    if (got < want)
        got += std::fread(block_.data() + old + got, 1, want - got, file_);
    block_.resize(old + got);
    return got;
}

void PcapngReader::put_back(size_t keep) {
    std::vector<uint8_t> rest(block_.begin() + static_cast<long>(keep),
                              block_.end());
    rest.insert(rest.end(), start_.begin() + static_cast<long>(start_at_),
                start_.end());
    start_ = std::move(rest);
    start_at_ = 0;
    block_.resize(keep);
}

bool PcapngReader::next(CaptureFrame *frame, std::string *err) {
    err->clear();
    bool got = false;
    while (!got) {
        if (read_block(frame, &got, err))
            continue;
        if (std::ferror(file_) != 0)
            *err = "read error at offset " + std::to_string(at_);
        return false;
    }
    ++frames_;
    return true;
}

bool PcapngReader::read_block(CaptureFrame *frame, bool *got,
                              std::string *err) {
    block_.clear();
    const size_t have = take(12);
    if (have == 0)
        return false; // the end of the file
    if (have < 12)
        return fail(err, cut_short(at_, 12, have, "the head of a block"));
    const uint32_t type = load32(block_.data(), section_.swap);
    if (type == kSectionHeader) {
        if (take(16) < 16)
            return fail(err, "section header cut short");
        uint32_t magic = load32(block_.data() + 8, false);
        if (magic != kByteOrderMagic &&
            magic != __builtin_bswap32(kByteOrderMagic))
            return fail(err, "bad byte-order magic");
        section_ = Section{true, magic != kByteOrderMagic, 0};
    } else if (!section_.seen) {
        return fail(err, "not a pcapng file");
    }
    const uint32_t total = load32(block_.data() + 4, section_.swap);
    if (total < 12 || total % 4 != 0)
        return fail(err, "block at offset " + std::to_string(at_) +
                             " has a bad length");
    if (total > kMaxBlock)
        return fail(err, "block at offset " + std::to_string(at_) + " claims " +
                             counted(total, "byte") + ", more than any frame");
    if (block_.size() > total)
        put_back(total); // a section header shorter than its fixed part
    const size_t need = total - block_.size();
    if (take(need) < need)
        return fail(err, cut_short(at_, total, block_.size(), "a block"));
    at_ += total;
    return type == kSectionHeader || block_body(type, frame, got, err);
}

bool PcapngReader::block_body(uint32_t type, CaptureFrame *frame, bool *got,
                              std::string *err) {
    const uint8_t *body = block_.data() + 8;
    const size_t n = block_.size() - 12;
    if (type == kInterface) {
        if (n < 8)
            return fail(err, "interface block too short");
        uint16_t link = load16(body, section_.swap);
        if (link != kLinkTypeUser0)
            return fail(err, "link type " + std::to_string(link) +
                                 ", not 147 (LINKTYPE_USER0)");
        ++section_.interfaces;
        return true;
    }
    if (type != kEnhancedPacket)
        return true;
    if (n < 20)
        return fail(err, "packet block too short");
    if (load32(body, section_.swap) >= section_.interfaces)
        return fail(err, "packet of an undeclared interface");
    uint64_t t = (uint64_t{load32(body + 4, section_.swap)} << 32) |
                 load32(body + 8, section_.swap);
    uint32_t captured = load32(body + 12, section_.swap);
    if (captured > n - 20)
        return fail(err, "packet runs past its block");
    std::string why;
    if (!read_frame(body + 20, captured, frame, &why))
        return fail(err, "frame " + std::to_string(frames_ + 1) + ": " + why);
    frame->time_us = t;
    *got = true;
    return true;
}

} // namespace ostrel::tools
