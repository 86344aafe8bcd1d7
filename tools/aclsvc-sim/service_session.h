// What the simulated ACL service does with the frames its clients send,
// without any socket: each received message gives the frames to send back
// (an Accept, a Reply due now or after the configured delay, an answer in
// pages) and the lines to log. The daemon owns the sockets; fuzz targets
// feed this class bytes directly.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "answer_pages.h"
#include "daemon_options.h"
#include "event_log.h"
#include "service_model.h"
#include "socket_frame.h"

namespace ostrel::aclsvc {

using Clock = std::chrono::steady_clock;

struct Outgoing {
    std::vector<uint8_t> frame; // empty when `answer` is set, or for a
                                // restart in place of an answer
    Clock::time_point due;      // send at or after this time
    std::optional<AnswerPages> answer = std::nullopt; // a query's answer
    // Why the service restarts once this is sent (--restart-after), or
    // instead of answering when there is nothing to send (--restart-at);
    // null: no restart.
    const char *restart = nullptr;
};

class ServiceSession {
  public:
    ServiceSession(const Options &options, const EventLog &log)
        : options_(options), log_(log),
          restart_at_cause_("--restart-at " + options.restart_at.text) {}

    // Handles one received message of n bytes: appends the frames to send
    // to *out and logs what happened. False when the bytes are not a
    // well-formed Send or Query frame (nothing is appended to *out).
    bool handle(const uint8_t *bytes, size_t n, std::vector<Outgoing> *out);
    // Refuses a Send or Query of `total` bytes, over the frame size limit,
    // of which `head` was read: an Accept or Answer carrying EMSGSIZE.
    // False for another kind (nothing is appended).
    bool refuse_oversized(const socket_frame::Head &head, size_t total,
                          std::vector<Outgoing> *out);
    // A service restart: the programmed table is forgotten.
    void restart() { model_ = tools::ServiceModel(); }

    const tools::ServiceModel &model() const { return model_; }

  private:
    void on_send(const socket_frame::Head &head, const uint8_t *payload,
                 std::vector<Outgoing> *out);
    void on_query(const socket_frame::Head &head, std::vector<Outgoing> *out);
    void log_received(const socket_frame::Head &head,
                      const std::vector<uint8_t> &message,
                      const std::string &text) const;
    // Counts one exchange of `stage`; true (once) when --restart-at names
    // this one, and then *out gets the restart in place of the answer.
    bool restart_at(RestartPoint::Stage stage, std::vector<Outgoing> *out);

    const Options &options_;
    const EventLog &log_;
    tools::ServiceModel model_;
    uint32_t sends_refused_ = 0;
    uint32_t replies_dropped_ = 0;
    uint32_t accepted_ = 0;
    uint32_t seen_[4] = {}; // exchanges so far, by RestartPoint::Stage
    std::string restart_at_cause_;
};

} // namespace ostrel::aclsvc
