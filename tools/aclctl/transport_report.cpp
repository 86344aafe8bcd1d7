// Text and JSON forms of the transport tap's events.
#include "transport_report.h"

#include <cstring>

#include "counted.h"
#include "output_sink.h"
#include "status_names.h"
#include "wire_decode.h"
#include "wire_json.h"

namespace ostrel::aclctl::out {

using tools::JsonObject;

void report_send(const yarl_addr *dst, uint32_t opcode, const void *payload,
                 uint32_t length) {
    if (brief())
        return;
    std::string head = "  send " + tools::counted(length, "byte") +
                       ", opcode " + std::to_string(opcode);
    if (dst != nullptr)
        head += ", to " + tools::hex_word(dst->node) + ":" +
                std::to_string(dst->service);
    std::string text;
    std::string err;
    const auto *bytes = static_cast<const uint8_t *>(payload);
    if (!tools::decode_message(bytes, length, &text, &err))
        text = "undecodable: " + err + "\n";
    JsonObject event;
    event.add("event", "send").add("opcode", opcode).add("length", length);
    if (dst != nullptr)
        event.add("node", dst->node).add("service", dst->service);
    event.raw("message", tools::message_json(bytes, length));
    emit(head + "\n" + indent(text, 4), event);
}

void report_accepted(uint32_t token) {
    if (brief())
        return;
    emit("  -> accepted, reply token " + std::to_string(token) + "\n",
         JsonObject().add("event", "accepted").add("token", token));
}

void report_refused(int err) {
    if (brief())
        return;
    emit("  -> refused, errno " + std::to_string(err) + "\n",
         JsonObject().add("event", "refused").add("errno", err));
}

void report_receive_failed(uint32_t token, int err) {
    emit("  reply token " + std::to_string(token) + ": receive failed, errno " +
             std::to_string(err) + "\n",
         JsonObject()
             .add("event", "receive_failed")
             .add("token", token)
             .add("errno", err));
}

void report_reply(uint32_t token, const void *payload) {
    if (brief())
        return;
    uint32_t word = 0;
    if (payload != nullptr)
        std::memcpy(&word, payload, sizeof word);
    JsonObject event;
    event.add("event", "reply").add("token", token);
    event.add("payload", payload != nullptr);
    if (payload != nullptr)
        event.add("status", word).add("name", tools::status_name(word));
    emit("  reply token " + std::to_string(token) + ": " +
             (payload != nullptr ? "status " + tools::status_text(word)
                                 : std::string("no payload")) +
             "\n",
         event);
}

void report_retry(useconds_t us, bool skipped) {
    if (brief())
        return;
    emit("  retry after " + std::to_string(us) + " us" +
             (skipped ? " (skipped)" : "") + "\n",
         JsonObject()
             .add("event", "retry")
             .add("sleep_us", us)
             .add("skipped", skipped));
}

void report_captured(const std::string &path, bool ok, int err) {
    if (brief() && ok)
        return;
    emit(ok ? "  captured " + path + "\n"
            : "  capture to " + path + " failed: " + std::strerror(err) + "\n",
         JsonObject().add("event", "captured").add("path", path).add("ok", ok));
}

} // namespace ostrel::aclctl::out
