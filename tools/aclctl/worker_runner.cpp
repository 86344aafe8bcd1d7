// Scenario execution through the worker: the main thread submits and
// prints only while the worker is idle (after a flush), so the transport
// tap's output from the worker's thread never interleaves with its own.
#include "worker_runner.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "ifsvc.h"
#include "ostrelapi/platform/socket_transport.h"
#include "ostrelapi/worker.h"
#include "output_sink.h"
#include "service_protocol.h"
#include "sim_platform.hpp"
#include "status_names.h"
#include "transport_tap.h"

namespace ostrel::aclctl {
namespace {

using tools::JsonObject;

uint32_t connection_generation(yarl_handle_t) {
    return tap::connection_generation();
}

const char *skipped_verb(Verb verb) {
    switch (verb) {
    case Verb::Resync:
        return "resync (the worker resyncs by itself)";
    case Verb::PcUpdate:
        return "pc-update";
    case Verb::PlcyUpdate:
        return "plcy-update";
    default:
        return "this line";
    }
}

// Prints the service's programmed table (the embedded service's, or the
// daemon's); false when the query failed.
bool print_table() {
    const uint32_t query =
        out::json() ? tools::kQueryTableJson : tools::kQueryTable;
    std::string answer;
    if (!tap::socket_backend()) {
        answer = tap::embedded_service().answer(query);
    } else {
        std::vector<uint8_t> bytes;
        if (int err = socket_transport::query(query, &bytes); err != 0) {
            tap::note_transport_error(err);
            out::emit("  table query failed: " +
                          std::string(std::strerror(err)) + "\n",
                      JsonObject()
                          .add("event", "table_query_failed")
                          .add("errno", err));
            return false;
        }
        answer.assign(bytes.begin(), bytes.end());
    }
    if (out::json())
        out::emit("",
                  JsonObject().add("event", "table").raw("entries", answer));
    else
        out::print(out::indent(answer, 2));
    return true;
}

class WorkerRunner {
  public:
    explicit WorkerRunner(ostrel_worker_t *w) : w_(w) {}

    int run(const std::vector<Command> &commands) {
        for (const Command &c : commands)
            step(c);
        settle();
        counts();
        out::emit("", JsonObject().add("event", "end").add("failed", failed_));
        return failed_ ? 1 : 0;
    }

  private:
    void step(const Command &c) {
        switch (c.verb) {
        case Verb::Add:
        case Verb::Del:
        case Verb::PcAdd:
        case Verb::PcDel:
            if (c.in_block)
                return block_.push_back(&c);
            return submit({&c});
        case Verb::Begin:
            return block_.clear();
        case Verb::Commit:
            submit(block_);
            return block_.clear();
        case Verb::Show:
            settle();
            failed_ |= !print_table();
            return;
        case Verb::PcMembers:
            settle();
            ostrel::sim::set_pc_members(c.target, c.members);
            ostrel::sim::set_if_type(c.target, OSTREL_IF_TYPE_PORT_CHANNEL);
            return;
        case Verb::IfType:
            settle();
            ostrel::sim::set_if_type(c.target, static_cast<uint8_t>(c.if_type));
            return;
        case Verb::Drain: // the worker drains every reply itself
            return;
        default:
            return skipped(c);
        }
    }

    static void skipped(const Command &c) {
        const std::string why =
            std::string(skipped_verb(c.verb)) + " is not run with --worker";
        std::fprintf(stderr, "aclctl: line %d: warning: %s\n", c.line,
                     why.c_str());
        out::emit("", JsonObject()
                          .add("event", "warning")
                          .add("line", c.line)
                          .add("message", why));
    }

    void submit(const std::vector<const Command *> &lines) {
        std::vector<ostrel_api_acl_change_t> changes;
        for (const Command *c : lines)
            changes.push_back(change_of(*c));
        if (ostrel_worker_submit(w_, changes.data(), uint32_t(changes.size()),
                                 submissions_.size()) != 0) {
            std::fprintf(stderr, "aclctl: the worker refused a submission\n");
            failed_ = true;
            return;
        }
        submissions_.push_back(lines);
    }

    // Waits for the worker, then prints every completion waiting.
    void settle() {
        (void)ostrel_worker_flush(w_, -1);
        ostrel_worker_completion_t c;
        while (ostrel_worker_next(w_, &c) == 1)
            completion(c);
    }

    void completion(const ostrel_worker_completion_t &c) {
        const std::vector<const Command *> &lines = submissions_[c.cookie];
        std::string text = "completion " + std::to_string(c.cookie) + " (" +
                           where(lines) + "): status " +
                           tools::status_text(c.status) + "\n";
        if (c.status != OSTREL_STATUS_OK && lines.size() > 1)
            for (uint32_t k = 0; k < c.count; ++k)
                text += "    line " + std::to_string(lines[k]->line) +
                        ": status " + tools::status_text(c.statuses[k]) + "\n";
        out::emit(text, JsonObject()
                            .add("event", "completion")
                            .add("submission", c.cookie)
                            .add("first_line",
                                 lines.empty() ? 0 : lines.front()->line)
                            .add("changes", c.count)
                            .add("status", c.status)
                            .add("name", tools::status_name(c.status)));
        failed_ |= c.status != OSTREL_STATUS_OK;
    }

    static std::string where(const std::vector<const Command *> &lines) {
        if (lines.empty())
            return "an empty block";
        const std::string first = std::to_string(lines.front()->line);
        return lines.size() == 1 ? "line " + first
                                 : "lines " + first + "-" +
                                       std::to_string(lines.back()->line);
    }

    void counts() {
        ostrel_worker_stats_t s{};
        s.struct_size = sizeof s;
        (void)ostrel_worker_stats(w_, &s);
        out::emit("worker: " + std::to_string(s.submissions) +
                      " submissions, " + std::to_string(s.bulk_calls) +
                      " bulk calls, " + std::to_string(s.coalesced) +
                      " coalesced, " + std::to_string(s.replayed) +
                      " applied again alone, " + std::to_string(s.resyncs) +
                      " resyncs\n",
                  JsonObject()
                      .add("event", "worker")
                      .add("submissions", s.submissions)
                      .add("bulk_calls", s.bulk_calls)
                      .add("coalesced", s.coalesced)
                      .add("replayed", s.replayed)
                      .add("resyncs", s.resyncs));
    }

    ostrel_worker_t *w_;
    std::vector<std::vector<const Command *>> submissions_;
    std::vector<const Command *> block_;
    bool failed_ = false;
};

} // namespace

int run_through_worker(const std::vector<Command> &commands) {
    ostrel_worker_config_t config{};
    config.struct_size = sizeof config;
    config.handle = 1;
    config.generation = connection_generation;
    ostrel_worker_t *w = nullptr;
    if (int err = ostrel_worker_create(&config, &w); err != 0) {
        std::fprintf(stderr, "aclctl: the worker did not start: %s\n",
                     std::strerror(err));
        return 2;
    }
    const int status = WorkerRunner(w).run(commands);
    ostrel_worker_destroy(w);
    return status;
}

} // namespace ostrel::aclctl
