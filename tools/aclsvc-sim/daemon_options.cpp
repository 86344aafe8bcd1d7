// Command line of aclsvc-sim.
#include "daemon_options.h"

#include <fcntl.h>
#include <grp.h>
#include <string_view>

#include "number_parse.h"
#include "service_protocol.h"

namespace ostrel::aclsvc {

namespace {

// Reads one option's value (null when the command line ends there) into
// *o; false with *err set.
using ValueReader = bool (*)(std::string_view name, const char *value,
                             Options *o, std::string *err);

struct DaemonOption {
    std::string_view name;
    bool takes_value;
    ValueReader read;
};

bool missing_value(std::string_view name, std::string *err) {
    *err = "bad or missing value for " + std::string(name);
    return false;
}

template <bool Options::*Field>
bool flag(std::string_view, const char *, Options *o, std::string *) {
    o->*Field = true;
    return true;
}

template <std::string Options::*Field>
bool text(std::string_view name, const char *value, Options *o,
          std::string *err) {
    if (value == nullptr)
        return missing_value(name, err);
    o->*Field = value;
    return true;
}

bool read_number(std::string_view name, const char *value, uint32_t max,
                 uint32_t *out, std::string *err) {
    if (value == nullptr || !tools::parse_number(value, max, out)) {
        *err =
            std::string(name) + " needs a number up to " + std::to_string(max);
        return false;
    }
    return true;
}

template <uint32_t Options::*Field, uint32_t Max>
bool number(std::string_view name, const char *value, Options *o,
            std::string *err) {
    return read_number(name, value, Max, &(o->*Field), err);
}

bool error_number(std::string_view name, const char *value, Options *o,
                  std::string *err) {
    if (!read_number(name, value, 4095, &o->fail_errno, err))
        return false;
    if (o->fail_errno == 0)
        *err = std::string(name) + " must not be 0";
    return o->fail_errno != 0;
}

bool log_format(std::string_view name, const char *value, Options *o,
                std::string *err) {
    std::string_view format = value != nullptr ? value : "";
    if (format != "json" && format != "text")
        return missing_value(name, err);
    o->json_log = format == "json";
    return true;
}

bool file_mode(std::string_view, const char *value, Options *o,
               std::string *err) {
    uint32_t mode = 0;
    std::string_view text = value != nullptr ? value : "";
    bool ok = !text.empty() && text.size() <= 4 &&
              text.find_first_not_of("01234567") == std::string_view::npos;
    for (char c : text)
        mode = mode * 8 + static_cast<uint32_t>(c - '0');
    if (!ok || mode > 0777) {
        *err = "--mode needs an octal file mode up to 0777";
        return false;
    }
    o->mode = static_cast<int>(mode);
    return true;
}

template <std::vector<uint32_t> PeerPolicy::*Field>
bool id_list(std::string_view name, const char *value, Options *o,
             std::string *err) {
    if (value == nullptr || !parse_id_list(value, &(o->peers.*Field))) {
        *err = std::string(name) + " needs a comma-separated list of numbers";
        return false;
    }
    return true;
}

bool ready_fd(std::string_view name, const char *value, Options *o,
              std::string *err) {
    uint32_t fd = 0;
    if (!read_number(name, value, 1024, &fd, err))
        return false;
    if (::fcntl(static_cast<int>(fd), F_GETFD) < 0) {
        *err =
            "--ready-fd " + std::to_string(fd) + " is not an open descriptor";
        return false;
    }
    o->ready_fd = static_cast<int>(fd);
    return true;
}

// STAGE:N, the stage being send, reply or query and N from 1.
bool restart_point(std::string_view name, const char *value, Options *o,
                   std::string *err) {
    using Stage = RestartPoint::Stage;
    RestartPoint &at = o->restart_at;
    std::string_view text = value != nullptr ? value : "";
    const size_t colon = text.find(':');
    const std::string_view stage = text.substr(0, colon);
    at.stage = stage == "send"    ? Stage::Send
               : stage == "reply" ? Stage::Reply
               : stage == "query" ? Stage::Query
                                  : Stage::None;
    const std::string_view nth =
        colon == std::string_view::npos ? "" : text.substr(colon + 1);
    if (at.stage == Stage::None ||
        !tools::parse_number(nth, 1000000000, &at.nth) || at.nth == 0) {
        *err =
            std::string(name) + " needs send:N, reply:N or query:N (N from 1)";
        return false;
    }
    at.text = text;
    return true;
}

constexpr DaemonOption kOptions[] = {
    {"--quiet", false, flag<&Options::quiet>},
    {"--version", false, flag<&Options::version>},
    {"--log-format", true, log_format},
    {"--pcap", true, text<&Options::pcap_path>},
    {"--socket", true, text<&Options::socket_path>},
    {"--group", true, text<&Options::group>},
    {"--fail-sends", true, number<&Options::fail_sends, 1000000>},
    {"--fail-errno", true, error_number},
    {"--drop-replies", true, number<&Options::drop_replies, 1000000>},
    {"--restart-after", true, number<&Options::restart_after, 1000000000>},
    {"--restart-at", true, restart_point},
    {"--delay-ms", true, number<&Options::delay_ms, 60000>},
    {"--ready-fd", true, ready_fd},
    {"--mode", true, file_mode},
    {"--allow-uid", true, id_list<&PeerPolicy::uids>},
    {"--allow-gid", true, id_list<&PeerPolicy::gids>},
};

// Reads the option at argv[*i] (and its value); false with *err set.
bool read_option(int argc, char **argv, int *i, Options *o, std::string *err) {
    std::string_view arg = argv[*i];
    for (const DaemonOption &option : kOptions) {
        if (arg != option.name)
            continue;
        const char *value =
            option.takes_value && *i + 1 < argc ? argv[*i + 1] : nullptr;
        *i += option.takes_value;
        return option.read(option.name, value, o, err);
    }
    *err = "unknown option " + std::string(arg);
    return false;
}

// The checks made once every option is read.
bool check(Options *o, std::string *err) {
    if (o->version)
        return true;
    if (o->socket_path.empty()) {
        *err = "--socket PATH is required";
        return false;
    }
    *err = tools::socket_path_problem(o->socket_path);
    if (err->empty() && !o->group.empty() &&
        ::getgrnam(o->group.c_str()) == nullptr)
        *err = "--group " + o->group + ": no such group";
    if (!err->empty())
        return false;
    o->peers.default_to_own_uid_and_root();
    return true;
}

} // namespace

bool parse_options(int argc, char **argv, Options *out, std::string *err) {
    for (int i = 1; i < argc; ++i)
        if (!read_option(argc, argv, &i, out, err))
            return false;
    return check(out, err);
}

} // namespace ostrel::aclsvc
