// Where the daemon's events go: one text line each, or one JSON object per
// line with --log-format json, on stdout. --quiet silences them, except the
// events about access and dropped clients.
#pragma once

#include <cstdio>
#include <string>

#include "daemon_options.h"
#include "json_writer.h"

namespace ostrel::aclsvc {

class EventLog {
  public:
    explicit EventLog(const Options &options)
        : quiet_(options.quiet), json_(options.json_log) {}

    enum class Show { UnlessQuiet, Always };

    // False when events shown unless quiet go nowhere (skip building them).
    bool shows() const { return !quiet_; }

    void operator()(const std::string &text, const tools::JsonObject &event,
                    Show show = Show::UnlessQuiet) const {
        if (quiet_ && show == Show::UnlessQuiet)
            return;
        std::string line = json_ ? event.str() + "\n" : text;
        std::fputs(line.c_str(), stdout);
        std::fflush(stdout);
    }

  private:
    bool quiet_;
    bool json_;
};

} // namespace ostrel::aclsvc
