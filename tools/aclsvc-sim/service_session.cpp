// The simulated service's answer to each client frame: Accept or refuse a
// Send, apply it to the model, reply (now, later or never), answer a Query.
#include "service_session.h"

#include <cerrno>

#include "counted.h"
#include "service_protocol.h"
#include "status_names.h"
#include "wire_json.h"
#include "yarl.h"

namespace ostrel::aclsvc {

namespace {

using socket_frame::Head;
using socket_frame::Kind;
using tools::JsonObject;

} // namespace

bool ServiceSession::handle(const uint8_t *bytes, size_t n,
                            std::vector<Outgoing> *out) {
    Head head;
    const uint8_t *payload = nullptr;
    if (!socket_frame::decode(bytes, n, &head, &payload))
        return false;
    if (head.kind == static_cast<uint32_t>(Kind::Send))
        on_send(head, payload, out);
    else if (head.kind == static_cast<uint32_t>(Kind::Query))
        on_query(head, out);
    else
        return false; // a frame only the service sends
    return true;
}

void ServiceSession::on_send(const Head &head, const uint8_t *payload,
                             std::vector<Outgoing> *out) {
    if (restart_at(RestartPoint::Stage::Send, out))
        return;
    const auto now = Clock::now();
    const std::string token = "token " + std::to_string(head.token);
    Head accept = socket_frame::make_head(Kind::Accept, head.token);
    if (sends_refused_ < options_.fail_sends) {
        ++sends_refused_;
        accept.error = static_cast<int32_t>(options_.fail_errno);
        out->push_back({socket_frame::encode(accept, nullptr, 0), now});
        log_(token + ": send refused (errno " +
                 std::to_string(options_.fail_errno) + ")\n",
             JsonObject()
                 .add("event", "send_refused")
                 .add("token", head.token)
                 .add("errno", options_.fail_errno));
        return;
    }
    const bool restart = ++accepted_ == options_.restart_after;
    std::string text;
    // The model reads the message from an aligned copy of its own.
    std::vector<uint8_t> message(payload, payload + head.length);
    uint32_t status = model_.handle(head.opcode, message.data(), message.size(),
                                    log_.shows() ? &text : nullptr);
    out->push_back({socket_frame::encode(accept, nullptr, 0), now});
    if (log_.shows())
        log_received(head, message, text);
    if (restart_at(RestartPoint::Stage::Reply, out))
        return;
    const char *cause = restart ? "--restart-after" : nullptr;
    if (replies_dropped_ < options_.drop_replies) {
        ++replies_dropped_;
        out->back().restart = cause;
        log_(token + ": reply dropped\n", JsonObject()
                                              .add("event", "reply_dropped")
                                              .add("token", head.token));
        return;
    }
    Head reply = socket_frame::make_head(Kind::Reply, head.token);
    reply.flags = socket_frame::kHasPayload;
    out->push_back({socket_frame::encode(reply, &status, sizeof status),
                    now + std::chrono::milliseconds(options_.delay_ms),
                    std::nullopt, cause});
    log_(token + ": reply " + tools::status_text(status) + "\n",
         JsonObject()
             .add("event", "reply")
             .add("token", head.token)
             .add("status", status)
             .add("name", tools::status_name(status))
             .add("delay_ms", options_.delay_ms));
}

void ServiceSession::log_received(const Head &head,
                                  const std::vector<uint8_t> &message,
                                  const std::string &text) const {
    JsonObject received;
    received.add("event", "receive").add("token", head.token);
    received.add("opcode", head.opcode).add("length", head.length);
    if (head.opcode == OSTREL_ACL_OPCODE)
        received.raw("message",
                     tools::message_json(message.data(), message.size()));
    log_("token " + std::to_string(head.token) + ", opcode " +
             std::to_string(head.opcode) + ": " + text,
         received);
}

bool ServiceSession::restart_at(RestartPoint::Stage stage,
                                std::vector<Outgoing> *out) {
    const RestartPoint &at = options_.restart_at;
    const uint32_t seen = ++seen_[static_cast<int>(stage)];
    if (at.stage != stage || seen != at.nth)
        return false;
    out->push_back({{}, Clock::now(), std::nullopt, restart_at_cause_.c_str()});
    return true;
}

void ServiceSession::on_query(const Head &head, std::vector<Outgoing> *out) {
    if (restart_at(RestartPoint::Stage::Query, out))
        return;
    std::string answer = model_.answer(head.opcode);
    out->push_back(
        {{},
         Clock::now(),
         AnswerPages(socket_frame::make_head(Kind::Answer, head.token),
                     std::move(answer))});
}

bool ServiceSession::refuse_oversized(const Head &head, size_t total,
                                      std::vector<Outgoing> *out) {
    Head refusal;
    if (head.kind == static_cast<uint32_t>(Kind::Send))
        refusal = socket_frame::make_head(Kind::Accept, head.token);
    else if (head.kind == static_cast<uint32_t>(Kind::Query))
        refusal = socket_frame::make_head(Kind::Answer, head.token);
    else
        return false;
    refusal.error = EMSGSIZE;
    out->push_back({socket_frame::encode(refusal, nullptr, 0), Clock::now()});
    log_("token " + std::to_string(head.token) + ": frame of " +
             tools::counted(total, "byte") + " over the limit refused\n",
         JsonObject()
             .add("event", "oversized_refused")
             .add("token", head.token)
             .add("length", static_cast<uint64_t>(total)));
    return true;
}

} // namespace ostrel::aclsvc
