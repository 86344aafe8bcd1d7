// Scenario execution: one library call (or platform setting) per command.
// A reply left pending by a send is drained by the next `drain`, or before
// the next command that sends, or at the end of the scenario.
#include "scenario_runner.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "command_json.h"
#include "counted.h"
#include "ifsvc.h"
#include "ostrelapi.h"
#include "ostrelapi/platform/socket_transport.h"
#include "output_sink.h"
#include "progress_line.h"
#include "service_protocol.h"
#include "sim_platform.hpp"
#include "stats_report.h"
#include "status_names.h"
#include "table_summary.h"
#include "text_escape.h"
#include "transport_tap.h"
#include "yarl.h"

namespace ostrel::aclctl {

namespace {

using tools::JsonObject;

constexpr yarl_handle_t kHandle = 1;
// Drains at the end of a scenario: the pending reply, and after a restart
// the resync's (a service that keeps restarting is not waited for).
constexpr int kEndDrains = 3;

class Runner {
  public:
    int run(const std::vector<Command> &commands) {
        int status = run_commands(commands);
        progress::erase();
        return status;
    }

    Runner(bool keep_going, bool resync_on_reconnect)
        : keep_going_(keep_going), resync_on_reconnect_(resync_on_reconnect),
          generation_(tap::connection_generation()) {}

  private:
    int run_commands(const std::vector<Command> &commands) {
        size_t done = 0;
        for (const Command &cmd : commands) {
            line_ = cmd.line;
            if (!out::brief())
                out::emit("line " + std::to_string(cmd.line) + ": " + cmd.text +
                              "\n",
                          command_json(cmd));
            if (!cmd.warning.empty())
                out::emit("", JsonObject()
                                  .add("event", "warning")
                                  .add("line", cmd.line)
                                  .add("message", cmd.warning));
            tap::begin_command();
            resync_if_reconnected();
            execute(cmd);
            reconnect_if_gone();
            if (!keep_going_ && tap::service_gone() != 0)
                return stop_at(cmd);
            if (!keep_going_ && tap::command_unanswered())
                return stop_unanswered(cmd);
            progress::update(++done, commands.size(), tap::messages_sent(),
                             tap::bytes_sent());
        }
        resync_if_reconnected();
        for (int k = 0; k < kEndDrains && pending_; ++k) {
            drain_note("end of scenario\n", "end of scenario");
            drain();
            reconnect_if_gone();
            resync_if_reconnected();
        }
        if (out::brief())
            totals();
        stats::report();
        out::emit("", JsonObject().add("event", "end").add("failed", failed_));
        return failed_ ? 1 : 0;
    }

    int stop_at(const Command &cmd) const {
        progress::erase();
        std::fprintf(stderr,
                     "aclctl: line %d: the service is gone (%s); stopped "
                     "(--keep-going runs the rest)\n",
                     static_cast<int>(cmd.line),
                     std::strerror(tap::service_gone()));
        return 2;
    }

    int stop_unanswered(const Command &cmd) const {
        progress::erase();
        std::fprintf(stderr,
                     "aclctl: line %d: the service does not answer (every "
                     "send of the call timed out); stopped (--keep-going "
                     "runs the rest)\n",
                     cmd.line);
        return 2;
    }

    // A call's status. A reply lost with the connection to a service that
    // restarted is not a failure when a resync makes up for it.
    void status(const char *call, uint32_t s,
                const std::string &changes_text = "",
                const std::string &changes_json = "", bool reply_lost = false) {
        ++calls_;
        const bool failure = s != OSTREL_STATUS_OK && !reply_lost;
        failures_ += failure;
        std::string head = out::brief() ? "line " + std::to_string(line_) +
                                              ": " + call + ": status "
                                        : "  status ";
        JsonObject event;
        event.add("event", "status")
            .add("line", line_)
            .add("call", call)
            .add("status", s)
            .add("name", tools::status_name(s));
        if (!changes_json.empty())
            event.raw("changes", changes_json);
        std::string note;
        if (reply_lost) {
            event.add("reply_lost", true);
            note = "  (the reply was lost with the connection: the service "
                   "restarted; the resync makes up for it)\n";
        }
        out::emit(head + tools::status_text(s) + "\n" + note + changes_text,
                  event);
        if (failure)
            failed_ = true;
    }

    void drain() {
        const uint32_t s = brisel_api_yarl_gobble(kHandle, &msg_);
        pending_ = false;
        status("brisel_api_yarl_gobble", s, "", "", lost_with_connection(s));
    }

    // With --resync-on-reconnect, a drain that failed because the service
    // closed the connection (it restarted) lost a reply the resync that
    // follows makes up for.
    bool lost_with_connection(uint32_t s) const {
        return resync_on_reconnect_ && tap::socket_backend() && s == ECONNRESET;
    }

    // With --resync-on-reconnect, a call that lost the connection (the
    // service restarted under it) is followed at once by connecting again,
    // so that the resync happens before anything else is asked.
    void reconnect_if_gone() {
        if (resync_on_reconnect_ && tap::service_gone() != 0)
            (void)tap::reconnect();
    }

    bool reconnected() const {
        return tap::connection_generation() != generation_;
    }

    void drain_pending() {
        if (!pending_)
            return;
        drain_note("  (draining the reply still pending)\n", "pending");
        drain();
    }

    static void drain_note(const std::string &text, const char *why) {
        if (!out::brief())
            out::emit(text, JsonObject().add("event", "drain").add("why", why));
    }

    // Brief output's last line: what the run cost.
    void totals() const {
        auto messages = tap::messages_sent();
        auto bytes = tap::bytes_sent();
        using tools::counted;
        out::emit("totals: " + counted(calls_, "call") + ", " +
                      counted(messages, "message") + ", " +
                      counted(bytes, "byte") + ", " +
                      counted(failures_, "failure") + "\n",
                  JsonObject()
                      .add("event", "totals")
                      .add("calls", calls_)
                      .add("messages", messages)
                      .add("bytes", bytes)
                      .add("failures", failures_));
    }

    void sent(const Command &c, uint32_t s) {
        status(call_name(c.verb), s);
        pending_ = did_yarl_send != 0;
        if ((c.verb == Verb::PcAdd || c.verb == Verb::PcDel) &&
            s == OSTREL_STATUS_OK && !has_members(c.target))
            warn(c, "port channel " + std::to_string(c.target) +
                        " has no members: nothing was sent");
    }

    static bool has_members(uint32_t pc) {
        PortChannelInfo info{};
        info.pc_if_index = pc;
        return port_channel_info_get(&info) != 0 || info.member_count != 0;
    }

    void warn(const Command &c, const std::string &why) const {
        progress::erase();
        std::fprintf(stderr, "aclctl: line %d: warning: %s\n", c.line,
                     why.c_str());
        out::emit("", JsonObject()
                          .add("event", "warning")
                          .add("line", c.line)
                          .add("message", why));
    }

    void execute(const Command &c) {
        switch (c.verb) {
        case Verb::Add:
        case Verb::Del:
            if (c.in_block)
                return block_.push_back(&c);
            drain_pending();
            return sent(c, ostrel_api_program_acl(kHandle, c.ace.addr1,
                                                  c.ace.addr2, c.vlan, c.target,
                                                  c.ace.qual, &msg_,
                                                  c.verb == Verb::Add));
        case Verb::PcAdd:
        case Verb::PcDel:
            if (c.in_block)
                return block_.push_back(&c);
            drain_pending();
            return sent(
                c, ostrel_api_pc_program_acl(kHandle, c.ace.addr1, c.ace.addr2,
                                             c.vlan, c.target, c.ace.qual,
                                             &msg_, c.verb == Verb::PcAdd));
        case Verb::PcUpdate:
            drain_pending();
            return sent(c, ostrel_api_pc_program_acl_update(kHandle, c.target,
                                                            c.override_if,
                                                            &msg_, c.install));
        case Verb::PlcyUpdate:
            drain_pending();
            return policy_update(c);
        case Verb::Drain:
            if (pending_)
                drain();
            else
                drain_note("  nothing to drain\n", "nothing pending");
            return;
        case Verb::Show:
            return show(c);
        case Verb::PcMembers:
            ostrel::sim::set_pc_members(c.target, c.members);
            ostrel::sim::set_if_type(c.target, OSTREL_IF_TYPE_PORT_CHANNEL);
            return;
        case Verb::IfType:
            ostrel::sim::set_if_type(c.target, static_cast<uint8_t>(c.if_type));
            return;
        case Verb::Begin:
            block_.clear();
            return;
        case Verb::Commit:
            drain_pending();
            return commit(c);
        case Verb::Resync:
            drain_pending();
            return resync(c);
        }
    }

    // The changes queued since begin, as one bulk call; every change's
    // status is reported with the line that made it.
    void commit(const Command &c) {
        std::vector<ostrel_api_acl_change_t> changes;
        for (const Command *q : block_)
            changes.push_back(change_of(*q));
        std::vector<uint32_t> statuses(changes.size());
        uint32_t s = ostrel_api_program_acl_bulk(
            kHandle, changes.data(), static_cast<uint32_t>(changes.size()),
            statuses.data(), &msg_);
        std::string text;
        std::vector<std::string> json;
        for (size_t k = 0; k < block_.size(); ++k) {
            if (!out::brief() || statuses[k] != OSTREL_STATUS_OK)
                text += "    line " + std::to_string(block_[k]->line) +
                        ": status " + tools::status_text(statuses[k]) + "\n";
            json.push_back(JsonObject()
                               .add("line", block_[k]->line)
                               .add("status", statuses[k])
                               .add("name", tools::status_name(statuses[k]))
                               .str());
        }
        status(call_name(c.verb), s, text, tools::json_array(json));
        pending_ = did_yarl_send != 0;
        block_.clear();
    }

    void resync(const Command &c) {
        uint32_t vlan = c.vlan;
        sent(c,
             ostrel_api_resync(kHandle, c.all_vlans ? nullptr : &vlan, &msg_));
    }

    // With --resync-on-reconnect: when the socket transport connected
    // again since the last look (the service restarted and forgot its
    // table), the registry is sent again before the scenario goes on.
    void resync_if_reconnected() {
        uint32_t now = tap::connection_generation();
        if (!resync_on_reconnect_ || !reconnected())
            return;
        generation_ = now;
        out::emit("  (connected again to the service: resync)\n",
                  JsonObject()
                      .add("event", "reconnected")
                      .add("line", line_)
                      .add("generation", now));
        drain_pending();
        status("ostrel_api_resync", ostrel_api_resync(kHandle, nullptr, &msg_));
        pending_ = did_yarl_send != 0;
    }

    // Sends the request, then receives its reply and reads it with the
    // library's policy update parser.
    void policy_update(const Command &c) {
        size_t n = c.aces.size();
        std::vector<uint64_t> storage((OSTREL_PLCY_UPDATE_REQ_SIZE(n) + 7) / 8);
        auto *req =
            reinterpret_cast<ostrel_api_plcy_update_req_t *>(storage.data());
        fill_request(c, req);
        uint32_t s = ostrel_api_send_plcy_update(kHandle, 0, req, &msg_);
        status(call_name(c.verb), s);
        if (s != OSTREL_STATUS_OK)
            return;
        yarl_recv_opts opts{};
        opts.word[0] = 1;
        opts.word[2] = 20;
        opts.word[3] = yarl_rr_token_get(&msg_);
        yarl_msg reply{};
        (void)yarl_drop(kHandle, &msg_);
        if (yarl_recv(kHandle, &reply, &opts) == -1) {
            failed_ = true;
            return;
        }
        void *payload = nullptr;
        uint32_t word = ostrel_api_parse_plcy_update(&reply, &payload);
        JsonObject event;
        event.add("event", "parsed_reply").add("payload", payload != nullptr);
        if (payload != nullptr)
            event.add("word", word).add("name", tools::status_name(word));
        out::emit("  parsed reply: " +
                      (payload != nullptr ? "word " + tools::status_text(word)
                                          : std::string("no payload")) +
                      "\n",
                  event);
        (void)yarl_drop(kHandle, &reply);
    }

    static void fill_request(const Command &c,
                             ostrel_api_plcy_update_req_t *req) {
        req->plcy.plcy_op = c.op;
        req->plcy.plcy_tlv2 = request_values::kPlcyTlv2;
        req->dst.dst_tlv4 = request_values::kDstTlv4;
        req->dst.dst_tlv5 = request_values::kDstTlv5;
        req->dst.dst_vlan = static_cast<uint16_t>(c.vlan);
        req->dst.dst_if_index = c.target;
        req->num_aces = static_cast<uint32_t>(c.aces.size());
        for (size_t k = 0; k < c.aces.size(); ++k) {
            ostrel_api_ace_t &a = req->aces[k];
            a.fltr.fltr_tlv8 = request_values::kFltrTlv8Ace;
            a.fltr.fltr_flags = OSTREL_FLTR_FLAG_PRESENT;
            a.fltr.fltr_qualifier = static_cast<uint16_t>(c.aces[k].qual);
            std::memcpy(a.fltr.fltr_addr1, c.aces[k].addr1, 6);
            std::memcpy(a.fltr.fltr_addr3, c.aces[k].addr2, 6);
            a.actn.actn_flags = OSTREL_ACTN_FLAG_TLV10;
            a.actn.actn_tlv10 = 1;
        }
    }

    // The whole table, or in brief mode its summary unless `show full`.
    void show(const Command &cmd) {
        const bool summary = out::brief() && !cmd.full;
        const uint32_t query = summary       ? tools::kQueryTableSummary
                               : out::json() ? tools::kQueryTableJson
                                             : tools::kQueryTable;
        std::string answer;
        if (!table_answer(query, &answer))
            return;
        if (summary)
            return table_summary(answer);
        table(answer);
    }

    // The embedded service's answer, or the daemon's; false when the
    // query failed (reported).
    bool table_answer(uint32_t query, std::string *answer) {
        if (!tap::socket_backend()) {
            *answer = tap::embedded_service().answer(query);
            return true;
        }
        std::vector<uint8_t> bytes;
        int err = query_service(query, &bytes);
        // A service that restarted under the query, or just before it, is
        // asked again once the resync brought its table back.
        if (resync_on_reconnect_ && (err != 0 || reconnected())) {
            reconnect_if_gone();
            if (reconnected()) {
                resync_if_reconnected();
                err = query_service(query, &bytes);
            }
        }
        if (err == 0) {
            answer->assign(bytes.begin(), bytes.end());
            return true;
        }
        out::emit(
            "  table query failed: " + std::string(std::strerror(err)) + "\n",
            JsonObject().add("event", "table_query_failed").add("errno", err));
        failed_ = true;
        return false;
    }

    static int query_service(uint32_t query, std::vector<uint8_t> *bytes) {
        int err = socket_transport::query(query, bytes);
        if (err != 0)
            tap::note_transport_error(err);
        return err;
    }

    // The table as text, or in JSON mode its entries array.
    static void table(const std::string &answer) {
        if (!out::json())
            return out::print(out::indent(answer, 2));
        out::emit("",
                  JsonObject().add("event", "table").raw("entries", answer));
    }

    void table_summary(const std::string &answer) {
        tools::TableSummary s;
        if (tools::read_summary_answer(answer, &s))
            return out::emit("  " + tools::summary_text(s),
                             tools::summary_event(s));
        out::emit("  table summary not understood: " +
                      tools::escape_text(answer, 40) + "\n",
                  JsonObject().add("event", "table_query_failed"));
        failed_ = true;
    }

    yarl_msg msg_{};
    int line_ = 0;
    unsigned long long calls_ = 0;
    unsigned long long failures_ = 0;
    bool pending_ = false;
    bool failed_ = false;
    bool keep_going_;
    bool resync_on_reconnect_;
    uint32_t generation_;
    std::vector<const Command *> block_; // changes queued since begin
};

} // namespace

int run_scenario(const std::vector<Command> &commands, bool keep_going,
                 bool resync_on_reconnect) {
    Runner runner(keep_going, resync_on_reconnect);
    return runner.run(commands);
}

} // namespace ostrel::aclctl
