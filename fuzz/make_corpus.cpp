// Writes the seed corpus of the fuzz targets: encodings made by the
// library's own encoders, one file each, under <out>/<target>/.
//
//   ostrel_make_corpus <out dir>      (the committed corpus is fuzz/corpus)
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "frame_input.h"
#include "fuzz_support.h"
#include "programming/batch_layout.h"
#include "record_ops.h"
#include "sim_platform.hpp"
#include "socket_frame.h"

namespace {

using namespace ostrel_fuzz;
using namespace ostrel_test;
using Bytes = std::vector<uint8_t>;
namespace values = ostrel::request_values;

std::string out_dir;

bool make_dir(const std::string &path) {
    return mkdir(path.c_str(), 0755) == 0 || errno == EEXIST;
}

void write_seed(const std::string &target, const std::string &name,
                const Bytes &bytes) {
    const std::string dir = out_dir + "/" + target;
    const std::string path = dir + "/" + name;
    FILE *f = make_dir(dir) ? std::fopen(path.c_str(), "wb") : nullptr;
    if (f == nullptr ||
        std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        std::exit(1);
    }
    std::fclose(f);
}

Bytes encode(unsigned index, const void *rec) {
    uint8_t *buf = nullptr;
    uint32_t len = 0;
    uint32_t err_type = 0;
    if (kRecords[index].to_tlv(rec, &buf, &len, 0, &err_type, 0) != 0) {
        std::fprintf(stderr, "cannot encode a %s\n", kRecords[index].name);
        std::exit(1);
    }
    Bytes out(buf, buf + len);
    std::free(buf);
    return out;
}

using PartEncoder = uint32_t (*)(const void *, uint32_t, uint8_t **, uint32_t *,
                                 uint32_t *);

Bytes encode_part(PartEncoder encoder, const ostrel_api_ace_t &ace) {
    uint8_t *buf = nullptr;
    uint32_t len = 0;
    uint32_t owned = 0;
    if (encoder(&ace, 0, &buf, &len, &owned) != 0) {
        std::fprintf(stderr, "cannot encode an ACE part\n");
        std::exit(1);
    }
    Bytes out(buf, buf + len);
    std::free(buf);
    return out;
}

// Writes a record's encoding for its own target, the round trip (behind
// the selector byte) and the TLV array reader.
void seed_record(unsigned index, const std::string &name, const void *rec) {
    const Bytes tlv = encode(index, rec);
    write_seed(kRecords[index].name, name, tlv);
    write_seed("tlv_array", std::string(kRecords[index].name) + "_" + name,
               tlv);
    Bytes selected{static_cast<uint8_t>(index)};
    selected.insert(selected.end(), tlv.begin(), tlv.end());
    write_seed("round_trip", std::string(kRecords[index].name) + "_" + name,
               selected);
}

ostrel_api_ace_t make_ace(uint8_t tag, uint64_t fltr_flags,
                          uint64_t actn_flags) {
    ostrel_api_ace_t ace{};
    ace.fltr.fltr_tlv8 = values::kFltrTlv8Ace;
    ace.fltr.fltr_flags = fltr_flags;
    ace.fltr.fltr_qualifier = static_cast<uint16_t>(0x0800 + tag);
    for (int i = 0; i < 6; ++i) {
        ace.fltr.fltr_addr1[i] = static_cast<uint8_t>(tag + i);
        ace.fltr.fltr_addr3[i] = static_cast<uint8_t>(0x10 * tag + i);
    }
    ace.actn.actn_flags = actn_flags;
    ace.actn.actn_tlv10 = 1;
    ace.actn.actn_tlv11 = tag;
    return ace;
}

void seed_aces() {
    const ostrel_api_ace_t aces[] = {make_ace(1, 1, 1), make_ace(2, 0, 0),
                                     make_ace(3, 1, 3), make_ace(4, 0, 2)};
    int i = 0;
    for (const ostrel_api_ace_t &ace : aces) {
        const std::string name = "ace" + std::to_string(i++);
        seed_record(kAce, name, &ace);
        const Bytes fltr = encode_part(ostrel_api_ace_fltr_struct_to_tlv, ace);
        const Bytes actn = encode_part(ostrel_api_ace_actn_struct_to_tlv, ace);
        write_seed("ace_parts", "fltr_" + name, fltr);
        write_seed("ace_parts", "actn_" + name, actn);
        write_seed("tlv_array", "fltr_" + name, fltr);
        write_seed("tlv_array", "actn_" + name, actn);
    }
}

// A policy update request as the request builder lays one out: header,
// ACE records, then the two closing records.
void seed_request(const std::string &name, uint32_t op, uint32_t n_aces) {
    const uint32_t n = n_aces + 2;
    std::vector<uint64_t> storage((24 + 64 * size_t{n}) / 8 + 1);
    auto *req =
        reinterpret_cast<ostrel_api_plcy_update_req_t *>(storage.data());
    req->plcy = {op, values::kPlcyTlv2};
    req->dst = {values::kDstTlv4, values::kDstTlv5, 100, 0x1234};
    req->num_aces = n;
    for (uint32_t k = 0; k < n_aces; ++k) {
        req->aces[k] = make_ace(static_cast<uint8_t>(k + 1), 1, 1);
    }
    req->aces[n_aces] = make_ace(0, 0, 1);
    req->aces[n_aces].actn.actn_tlv10 = 0;
    req->aces[n_aces + 1] = ostrel_api_ace_t{};
    req->aces[n_aces + 1].fltr.fltr_tlv8 = 1;
    req->aces[n_aces + 1].actn.actn_flags = 1;
    seed_record(kPlcyUpdateReq, name, req);
    write_seed("decode_message", "plcy_update_" + name,
               encode(kPlcyUpdateReq, req));
}

// Programming batches as the library sends them, taken from the simulated
Bytes frame(ostrel::socket_frame::Kind kind, uint32_t token,
            const Bytes &payload, int32_t error = 0) {
    auto head = ostrel::socket_frame::make_head(kind, token);
    head.error = error;
    if (kind == ostrel::socket_frame::Kind::Reply ||
        kind == ostrel::socket_frame::Kind::Answer)
        head.flags = ostrel::socket_frame::kHasPayload;
    return ostrel::socket_frame::encode(head, payload.data(),
                                        static_cast<uint32_t>(payload.size()));
}

// The frames of the socket transport as each side receives them: a client
// sending the batches (then a table query), and a service accepting,
// refusing and replying (one reply out of order, one without payload),
// and a table answer in pages, and replies lost in a restart.
void seed_frames(const std::vector<Bytes> &batches) {
    using ostrel::socket_frame::Kind;
    const Bytes ok(4, 0), malformed{1, 0, 0, 0xe0};
    Bytes sends{0}; // no refusals, no dropped replies
    uint32_t token = 1001;
    for (const Bytes &b : batches)
        frame_input_append(&sends, frame(Kind::Send, token++, b));
    frame_input_append(&sends, frame(Kind::Query, 1, {}));
    write_seed("service_frames", "batches", sends);
    sends[0] = 1 | (1 << 2); // one refusal, one dropped reply
    write_seed("service_frames", "refuse_and_drop", sends);

    Bytes replies;
    frame_input_append(&replies, frame(Kind::Accept, 1001, {}));
    frame_input_append(&replies, frame(Kind::Reply, 1001, ok));
    frame_input_append(&replies, frame(Kind::Accept, 1002, {}, 11));
    frame_input_append(&replies, frame(Kind::Accept, 1002, {}));
    frame_input_append(&replies, frame(Kind::Accept, 1003, {}));
    frame_input_append(&replies, frame(Kind::Reply, 1003, malformed));
    frame_input_append(&replies, frame(Kind::Reply, 1002, ok));
    write_seed("socket_client", "replies", replies);
    Bytes bare;
    frame_input_append(&bare, frame(Kind::Accept, 1001, {}));
    auto no_payload = ostrel::socket_frame::make_head(Kind::Reply, 1001);
    frame_input_append(&bare,
                       ostrel::socket_frame::encode(no_payload, nullptr, 0));
    const std::string table = "programmed table: 0 entries\n";
    frame_input_append(
        &bare, frame(Kind::Answer, 1, Bytes(table.begin(), table.end())));
    write_seed("socket_client", "no_payload_and_answer", bare);
    // Four sends answered, then a table query answered in two pages.
    Bytes paged;
    for (uint32_t t = 1001; t < 1005; ++t) {
        frame_input_append(&paged, frame(Kind::Accept, t, {}));
        frame_input_append(&paged, frame(Kind::Reply, t, ok));
    }
    auto page = ostrel::socket_frame::make_head(Kind::Answer, 1);
    page.flags =
        ostrel::socket_frame::kHasPayload | ostrel::socket_frame::kMorePages;
    frame_input_append(&paged,
                       ostrel::socket_frame::encode(page, table.data(), 18));
    frame_input_append(
        &paged, frame(Kind::Answer, 1, Bytes(table.begin() + 18, table.end())));
    write_seed("socket_client", "paged_answer", paged);
    // Two sends accepted, then the service restarts before replying: both
    // replies are lost with the connection.
    Bytes lost;
    frame_input_append(&lost, frame(Kind::Accept, 1001, {}));
    frame_input_append(&lost, frame(Kind::Accept, 1002, {}));
    write_seed("socket_client", "restart_before_replies", lost);
}

// transport: a VLAN growing to three interfaces (one ACE with an all-zero
// first address), then an ACE on a port channel with two members.
void seed_batches() {
    ostrel::sim::reset();
    ostrel::sim::set_pc_members(100, {4, 5});
    yarl_msg msg{};
    const uint8_t zero[6] = {};
    auto program = [&](uint32_t if_index, uint8_t tag, bool zero_addr1) {
        const ostrel_api_ace_t ace = make_ace(tag, 1, 1);
        const uint8_t *addr1 = zero_addr1 ? zero : ace.fltr.fltr_addr1;
        if (ostrel_api_program_acl(7, addr1, ace.fltr.fltr_addr3, 10, if_index,
                                   tag, &msg, 1) != 0 ||
            brisel_api_yarl_gobble(7, &msg) != 0) {
            std::fprintf(stderr, "cannot program a seed batch\n");
            std::exit(1);
        }
    };
    program(1, 1, false);
    program(2, 2, false);
    program(3, 3, true);
    program(100, 4, false);
    const ostrel_api_ace_t pc_ace = make_ace(5, 1, 1);
    if (ostrel_api_pc_program_acl(7, pc_ace.fltr.fltr_addr1,
                                  pc_ace.fltr.fltr_addr3, 20, 100, 5, &msg,
                                  1) != 0) {
        std::fprintf(stderr, "cannot program a seed port-channel batch\n");
        std::exit(1);
    }
    int i = 0;
    std::vector<Bytes> batches;
    for (const ostrel::sim::Call &c :
         ostrel::sim::calls_of(ostrel::sim::Op::Send)) {
        write_seed("decode_message", "batch" + std::to_string(i++), c.payload);
        batches.push_back(c.payload);
    }
    ostrel::sim::reset();
    seed_frames(batches);
}

void seed_small_records() {
    const ostrel_api_plcy_t install{values::kOpInstall, values::kPlcyTlv2};
    const ostrel_api_plcy_t remove{values::kOpRemove, values::kPlcyTlv2};
    seed_record(kPlcy, "install", &install);
    seed_record(kPlcy, "remove", &remove);
    const ostrel_api_dst_t dst{values::kDstTlv4, values::kDstTlv5, 100, 0x1234};
    const ostrel_api_dst_t wide{0xFFFFFFFFu, 0xFFFF, 4094, 0x80000001u};
    seed_record(kDst, "vlan100", &dst);
    seed_record(kDst, "wide", &wide);
    const ostrel_api_plcy_update_resp_t ok{0};
    const ostrel_api_plcy_update_resp_t err{0x41040002u};
    seed_record(kPlcyUpdateResp, "ok", &ok);
    seed_record(kPlcyUpdateResp, "error", &err);
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 2 || !make_dir(argv[1])) {
        std::fprintf(stderr, "usage: %s <out dir>\n", argv[0]);
        return 2;
    }
    out_dir = argv[1];
    seed_small_records();
    seed_aces();
    seed_request("empty", values::kOpRemove, 0);
    seed_request("one_ace", values::kOpInstall, 1);
    seed_request("three_aces", values::kOpInstall, 3);
    seed_batches();
    return 0;
}
