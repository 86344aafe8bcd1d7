// Captures of the traffic between a client and the ACL service as pcapng
// files: one section, one interface of link type 147 (LINKTYPE_USER0,
// microsecond timestamps), one Enhanced Packet Block per frame. Each
// packet is a 20-byte frame head, every field big-endian, then the
// payload as it travelled:
//
//   0  u8   version, 1
//   1  u8   direction: 0 client to service, 1 service to client
//   2  u8   kind: 1 send, 2 accept, 3 reply
//   3  u8   flags: bit 0 the payload's fields are big-endian (the sender's
//           byte order), bit 1 a reply carries a payload
//   4  u32  token of the send
//   8  u32  opcode (send), else 0
//  12  i32  error: an accept's 0, or the error number a send was refused with
//  16  u32  payload length
//  20  ...  payload: a send's message, a reply's status word
//
// The Wireshark dissector tools/wireshark/ostrel.lua reads this format.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace ostrel::tools {

inline constexpr uint16_t kLinkTypeUser0 = 147;
inline constexpr size_t kFrameHeadSize = 20;

enum class FrameKind : uint8_t { Send = 1, Accept = 2, Reply = 3 };
enum class Direction : uint8_t { ToService = 0, ToClient = 1 };

struct CaptureFrame {
    Direction direction = Direction::ToService;
    FrameKind kind = FrameKind::Send;
    bool big_endian = false;
    bool has_payload = false;
    uint32_t token = 0;
    uint32_t opcode = 0;
    int32_t error = 0;
    uint64_t time_us = 0; // since the epoch
    std::vector<uint8_t> payload;
};

// Writes frames to a pcapng file as they come, stamped with the time of
// the call.
class PcapngWriter {
  public:
    PcapngWriter() = default;
    PcapngWriter(const PcapngWriter &) = delete;
    PcapngWriter &operator=(const PcapngWriter &) = delete;
    ~PcapngWriter() { close(); }

    // Creates the file and writes its section and interface; false with
    // *err set.
    bool open(const std::string &path, std::string *err);
    bool is_open() const { return file_ != nullptr; }
    void write(const CaptureFrame &frame);
    void close();

  private:
    void block(uint32_t type, const std::vector<uint8_t> &body);
    std::FILE *file_ = nullptr;
};

// A send from the client, an accept (error 0) or refusal, a reply with
// its payload.
CaptureFrame send_frame(uint32_t token, uint32_t opcode, const void *payload,
                        uint32_t length);
CaptureFrame accept_frame(uint32_t token, int32_t error);
CaptureFrame reply_frame(uint32_t token, const void *payload, uint32_t length);

// Whether the bytes begin a pcapng file.
bool is_pcapng(const uint8_t *bytes, size_t n);

// Reads the frames of a capture written by PcapngWriter (either byte
// order) one at a time from a file, holding one block at a time: memory
// stays flat however long the capture. Every block length is checked
// before the block is read; blocks other than the section, interface and
// enhanced packet blocks are skipped.
class PcapngReader {
  public:
    // Largest block read: far above any frame the tools write.
    static constexpr size_t kMaxBlock = 64u << 20;

    // Reads `file` from where it stands; `start` holds the bytes of the
    // file's beginning that were read already (to tell its kind).
    PcapngReader(std::FILE *file, const uint8_t *start, size_t n);
    PcapngReader(const PcapngReader &) = delete;
    PcapngReader &operator=(const PcapngReader &) = delete;

    // The next frame: true with *frame set, or false at the end of the
    // file (*err empty) or at a fault (*err set: the file is malformed,
    // cut short, unreadable or holds another link type).
    bool next(CaptureFrame *frame, std::string *err);
    size_t frames_read() const { return frames_; }

  private:
    struct Section {
        bool seen = false;
        bool swap = false;
        uint32_t interfaces = 0;
    };
    // Appends up to `want` bytes to block_; how many it got.
    size_t take(size_t want);
    // Keeps the first `keep` bytes of block_; the rest are read again.
    void put_back(size_t keep);
    bool read_block(CaptureFrame *frame, bool *got, std::string *err);
    bool block_body(uint32_t type, CaptureFrame *frame, bool *got,
                    std::string *err);

    std::FILE *file_;
    std::vector<uint8_t> start_;
    size_t start_at_ = 0;
    std::vector<uint8_t> block_; // the current block, its buffer reused
    Section section_;
    uint64_t at_ = 0; // offset of the current block in the file
    size_t frames_ = 0;
};

} // namespace ostrel::tools
