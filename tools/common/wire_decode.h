// Reading and printing the two messages a client sends the ACL service
// under opcode 4810:
//
//  - a programming batch: u32 word 0 (1 when the batch was opened by the
//    call that sent it, else 0), u32 count of requests, then the requests
//    back to back, each a 24-byte head and num_aces 64-byte records, all in
//    host byte order as they lie in memory;
//  - a policy update request in TLV form: a u32 big-endian array length
//    header followed by the TLVs (u16 BE type, u16 BE length, value).
//
// Telling them apart: a message is a batch when it passes batch validation
// (every length checked against the message size); otherwise it is taken
// as a policy update when its first four bytes, read big-endian, equal its
// length minus 4. Neither shape overlaps the other: a batch's word 0 is 0
// or 1, which as a TLV header would claim a 0-byte or 16 MiB body, and no
// batch is shorter than 8 bytes or longer than OSTREL_BATCH_SIZE. Anything
// else is malformed and is reported with the batch validator's reason.
//
// Every function here reads only the n bytes it is given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ostrelapi.h"
#include "programming/batch_layout.h"

namespace ostrel::tools {

// One programming request or policy update request, field by field.
struct Request {
    uint32_t plcy_op = 0;
    uint32_t plcy_tlv2 = 0;
    uint32_t dst_tlv4 = 0;
    uint16_t dst_tlv5 = 0;
    uint16_t vlan = 0;
    uint32_t if_index = 0;
    uint32_t num_aces = 0;
    std::vector<ostrel_api_ace_t> aces;
};

struct Batch {
    uint32_t word0 = 0;
    std::vector<Request> requests;
};

enum class MessageKind { Batch, PolicyUpdate, Malformed };

// Largest message that is a batch: the library's batch block.
inline constexpr size_t kMaxBatchSize = OSTREL_BATCH_SIZE;

// Reads and validates a batch; false with *err set when malformed.
bool read_batch(const uint8_t *bytes, size_t n, Batch *out, std::string *err);
// A request of a batch as it lies in the message: its head fields (aces
// left empty) and where its num_aces 64-byte records start.
struct RequestView {
    Request head;
    const uint8_t *records = nullptr;
};
// Validates a batch as read_batch does without copying any record; *out
// (optional) gets every request, pointing into bytes.
bool view_batch(const uint8_t *bytes, size_t n, uint32_t *word0,
                std::vector<RequestView> *out, std::string *err);
// Copies `count` records from where a RequestView points (any alignment).
void copy_records(const uint8_t *records, uint32_t count,
                  std::vector<ostrel_api_ace_t> *out);
// Decodes a TLV policy update request with this library's codec; false
// with *err set when malformed.
bool read_plcy_update(const uint8_t *bytes, size_t n, Request *out,
                      std::string *err);
// Whether the first four bytes, read big-endian, equal n - 4.
bool has_tlv_header(const uint8_t *bytes, size_t n);
// Which of the two messages the bytes are (see the top of this file).
MessageKind classify(const uint8_t *bytes, size_t n);

// An ACE record that the request builder wrote into a slot and that a
// later record took over: the next interface's first record (an
// interface's last slot is the next one's first) or the closing record.
struct SlotNote {
    size_t slot = 0;
    uint16_t qual = 0;
    uint32_t intf = 0; // 0: not known from the bytes alone
    bool by_closing = false;
};
// A source that knows what the builder wrote (aclctl reads the library's
// registry); false when it cannot tell for this request.
using SlotNoteSource = bool (*)(const Request &, std::vector<SlotNote> *);
void set_slot_note_source(SlotNoteSource source);
// The notes of a request, from the source set, else from the bytes alone:
// the closing record carries the qualifier of the last ACE record written,
// so when no ACE record shows that (nonzero) qualifier, the closing record
// took its slot.
// The service side, which knows only the bytes, passes ask_source false.
std::vector<SlotNote> slot_notes(const Request &request,
                                 bool ask_source = true);
// One explanation of the notes of one slot, in the order written:
// "slot 0: qual 7 from intf 5, replaced by the closing record (only its
// qualifier is sent)"; several ACEs written into the slot in turn are
// named in one sentence.
std::string format_slot_notes(const std::vector<SlotNote> &notes);

// The role of a record as the request builder writes them: "ace",
// "close" (the first closing record), "end" (the second), "empty" (all
// zero) or "other".
const char *record_role(const ostrel_api_ace_t &record);
// plcy_op of a request: install (the interface holds ACEs) or remove.
using request_values::kOpInstall;
using request_values::kOpRemove;
// "install", "remove" or "op N".
std::string op_name(uint32_t op);
// 00:11:22:33:44:55
std::string format_mac(const uint8_t addr[6]);

// Readable forms. Lines are indented by `indent` spaces and end in '\n'.
std::string format_record(const ostrel_api_ace_t &record);
std::string format_request(const Request &request, int indent,
                           bool ask_source = true);
std::string format_batch(const Batch &batch, size_t n, int indent);

// Decode into the readable form: true with *out appended to, or false
// with *err set. decode_message picks the kind with classify().
bool decode_batch(const uint8_t *bytes, size_t n, std::string *out,
                  std::string *err);
bool decode_plcy_update(const uint8_t *bytes, size_t n, std::string *out,
                        std::string *err);
bool decode_message(const uint8_t *bytes, size_t n, std::string *out,
                    std::string *err);

} // namespace ostrel::tools
