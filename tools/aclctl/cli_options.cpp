// Command line of aclctl.
#include "cli_options.h"

#include <string_view>

#include "number_parse.h"
#include "service_protocol.h"

namespace ostrel::aclctl {

namespace {

struct Flag {
    std::string_view name;
    bool Options::*field;
};

constexpr Flag kFlags[] = {
    {"--quiet", &Options::quiet},
    {"--json", &Options::json},
    {"--brief", &Options::brief},
    {"--fast-retry", &Options::fast_retry},
    {"--keep-going", &Options::keep_going},
    {"--resync-on-reconnect", &Options::resync_on_reconnect},
    {"--stats", &Options::stats},
    {"--worker", &Options::worker},
    {"--version", &Options::version},
};

struct Number {
    std::string_view name;
    uint32_t Options::*field;
    uint32_t min;
    uint32_t max;
};

// A timeout of 0 would make every send time out.
constexpr Number kNumbers[] = {
    {"--timeout-ms", &Options::timeout_ms, 1, 600000},
    {"--wait-for-socket", &Options::wait_for_socket_ms, 0, 600000},
    {"--fail-sends", &Options::fail_sends, 0, 1000000},
    {"--fail-errno", &Options::fail_errno, 0, 4095},
};

bool read_number(const Number &n, const char *value, Options *o,
                 std::string *err) {
    uint32_t v = 0;
    if (value != nullptr && tools::parse_number(value, n.max, &v) &&
        v >= n.min) {
        o->*n.field = v;
        return true;
    }
    *err = std::string(n.name) + " needs a number " +
           (n.min == 0 ? "up to " : "from " + std::to_string(n.min) + " to ") +
           std::to_string(n.max);
    return false;
}

struct Text {
    std::string_view name;
    std::string Options::*field;
};

constexpr Text kTexts[] = {
    {"--socket", &Options::socket_path},
    {"--pcap", &Options::pcap_path},
    {"--capture", &Options::capture_dir},
};

// Reads the option at argv[*i] (and its value); false with *err set.
bool read_option(int argc, char **argv, int *i, Options *o, std::string *err) {
    std::string_view a = argv[*i];
    const char *value = *i + 1 < argc ? argv[*i + 1] : nullptr;
    for (const Flag &f : kFlags)
        if (a == f.name) {
            o->*f.field = true;
            return true;
        }
    for (const Number &n : kNumbers)
        if (a == n.name) {
            ++*i;
            return read_number(n, value, o, err);
        }
    for (const Text &t : kTexts)
        if (a == t.name) {
            if (value == nullptr) {
                *err = std::string(a) + " needs a value";
                return false;
            }
            o->*t.field = argv[++*i];
            return true;
        }
    *err = "unknown option " + std::string(a);
    return false;
}

bool check(const Options &o, std::string *err) {
    if (o.version)
        err->clear();
    else if (o.service_stats && o.socket_path.empty())
        *err = "service-stats needs --socket PATH";
    else if (o.service_stats && !o.scenario.empty())
        *err = "service-stats takes no file, got '" + o.scenario + "'";
    else if (o.scenario.empty() && !o.service_stats)
        *err = "no scenario or file given";
    else if (!o.socket_path.empty() && o.fail_sends > 0)
        *err = "--fail-sends is for the embedded service; "
               "tell aclsvc-sim instead";
    else
        *err = tools::socket_path_problem(o.socket_path);
    return err->empty();
}

} // namespace

bool parse_args(int argc, char **argv, Options *o, std::string *err) {
    for (int i = 1; i < argc; ++i) {
        std::string_view a = argv[i];
        bool operand = a == "-" || a.empty() || a[0] != '-';
        if (operand && o->scenario.empty()) {
            o->scenario = argv[i];
            continue;
        }
        if (operand) {
            *err = "one scenario or file at a time, not also '" +
                   std::string(a) + "'";
            return false;
        }
        if (!read_option(argc, argv, &i, o, err))
            return false;
    }
    return check(*o, err);
}

} // namespace ostrel::aclctl
