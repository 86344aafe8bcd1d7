// Fuzz target for the simulated service's side of the socket transport:
// the messages a client sends, handed to the daemon's frame handling. The
// first byte sets how many sends are refused and replies dropped. Checks
// that a refused message produces nothing, that every frame sent back is
// well formed, that a Send is answered first by an Accept of its token,
// that every Reply carries exactly the 4-byte status, and that a Query's
// answer is pages of its token of which only the last says it is the last.
#include "frame_input.h"
#include "service_session.h"
#include "socket_frame.h"

namespace {

using namespace ostrel_fuzz;
using ostrel::socket_frame::Head;
using ostrel::socket_frame::Kind;

void check_pages(ostrel::aclsvc::AnswerPages pages, uint32_t token) {
    for (bool last = false; !last;) {
        const std::vector<uint8_t> frame = pages.next_page();
        last = pages.done();
        Head h;
        const uint8_t *payload = nullptr;
        OSTREL_FUZZ_CHECK(ostrel::socket_frame::decode(
            frame.data(), frame.size(), &h, &payload));
        OSTREL_FUZZ_CHECK(h.kind == static_cast<uint32_t>(Kind::Answer) &&
                          h.token == token);
        OSTREL_FUZZ_CHECK(((h.flags & ostrel::socket_frame::kMorePages) == 0) ==
                          last);
    }
}

void check_answer(const Block &in, bool handled,
                  const std::vector<ostrel::aclsvc::Outgoing> &out) {
    OSTREL_FUZZ_CHECK(handled || out.empty());
    if (!handled)
        return;
    Head sent;
    const uint8_t *payload = nullptr;
    OSTREL_FUZZ_CHECK(
        ostrel::socket_frame::decode(in.data(), in.size(), &sent, &payload));
    for (size_t i = 0; i < out.size(); ++i) {
        if (sent.kind == static_cast<uint32_t>(Kind::Query)) {
            OSTREL_FUZZ_CHECK(out[i].answer.has_value());
            check_pages(*out[i].answer, sent.token);
            continue;
        }
        Head h;
        OSTREL_FUZZ_CHECK(ostrel::socket_frame::decode(
            out[i].frame.data(), out[i].frame.size(), &h, &payload));
        OSTREL_FUZZ_CHECK(h.token == sent.token);
        const Kind want = i == 0 ? Kind::Accept : Kind::Reply;
        OSTREL_FUZZ_CHECK(h.kind == static_cast<uint32_t>(want));
        OSTREL_FUZZ_CHECK(want != Kind::Reply || h.length == 4);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0)
        return 0;
    ostrel::aclsvc::Options options;
    options.quiet = true;
    options.fail_sends = data[0] & 3;
    options.drop_replies = (data[0] >> 2) & 3;
    const ostrel::aclsvc::EventLog log(options);
    ostrel::aclsvc::ServiceSession session(options, log);
    for (const Block &m : split_messages(data + 1, size - 1)) {
        std::vector<ostrel::aclsvc::Outgoing> out;
        const bool handled = session.handle(m.data(), m.size(), &out);
        check_answer(m, handled, out);
    }
    return 0;
}
