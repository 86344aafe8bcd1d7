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
// Reads every frame of a capture written by PcapngWriter (either byte
// order); false with *err set when the file is malformed, cut short or
// holds another link type, *frames then holding the frames before the
// fault. Blocks other than the section, interface and enhanced packet
// blocks are skipped.
bool read_pcapng(const uint8_t *bytes, size_t n,
                 std::vector<CaptureFrame> *frames, std::string *err);

} // namespace ostrel::tools
