// aclctl: runs an ACL scenario through the library against an embedded
// service or an aclsvc-sim daemon, or decodes a captured message.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "capture_decode.h"
#include "cli_options.h"
#include "daemon_connect.h"
#include "help_text.h"
#include "input_file.h"
#include "number_parse.h"
#include "ostrelapi/platform/socket_transport.h"
#include "ostrelapi/platform/tlv_error_print_switch.h"
#include "output_sink.h"
#include "pcapng.h"
#include "progress_line.h"
#include "raw_send.h"
#include "registry_notes.h"
#include "scenario.h"
#include "scenario_runner.h"
#include "service_stats.h"
#include "sim_platform.hpp"
#include "stats_report.h"
#include "transport_tap.h"
#include "wire_decode.h"
#include "worker_runner.h"

namespace {

using ostrel::aclctl::kUsage;
using ostrel::aclctl::Options;

// Largest scenario or message to send read: well above any of them.
constexpr size_t kMaxFile = ostrel::aclctl::kMaxMessageFile;

bool read_file(const std::string &path, std::vector<uint8_t> *out,
               std::string *err) {
    return ostrel::aclctl::read_file(path, kMaxFile, out, err);
}

int fail_usage(const std::string &why) {
    std::fprintf(stderr, "aclctl: %s\nTry 'aclctl --help'.\n", why.c_str());
    return 2;
}

// `--help` anywhere, `help` or `help scenario`: the text on stdout.
bool help_asked(int argc, char **argv, int *status) {
    bool help_verb = argc >= 2 && std::strcmp(argv[1], "help") == 0;
    for (int i = 1; i < argc && !help_verb; ++i)
        help_verb = std::strcmp(argv[i], "--help") == 0 ||
                    std::strcmp(argv[i], "-h") == 0;
    if (!help_verb)
        return false;
    if (argc == 3 && std::strcmp(argv[2], "scenario") == 0) {
        std::fputs(ostrel::aclctl::kScenarioGrammar, stdout);
        *status = 0;
    } else if (argc > 2 && std::strcmp(argv[1], "help") == 0) {
        *status = fail_usage("help knows only 'help scenario'");
    } else {
        std::fputs(kUsage, stdout);
        *status = 0;
    }
    return true;
}

// The capture directory must exist and take files before anything runs;
// false with the reason printed.
bool capture_dir_usable(const std::string &dir) {
    struct stat st;
    const char *why = nullptr;
    if (::stat(dir.c_str(), &st) != 0)
        why = std::strerror(errno);
    else if (!S_ISDIR(st.st_mode))
        why = "not a directory";
    else if (::access(dir.c_str(), W_OK | X_OK) != 0)
        why = std::strerror(errno);
    if (why != nullptr)
        std::fprintf(stderr, "aclctl: --capture %s: %s (nothing was run)\n",
                     dir.c_str(), why);
    return why == nullptr;
}

// Connects the chosen backend; false with a message printed.
bool set_up_backend(const Options &o) {
    ostrel::sim::reset();
    ostrel::sim::set_copy_payloads(false);
    ostrel::aclctl::tap::set_fast_retry(o.fast_retry);
    ostrel::aclctl::out::set_json(o.json);
    ostrel::aclctl::out::set_brief(o.brief);
    ostrel::aclctl::tap::set_keep_going(o.keep_going);
    ostrel::aclctl::stats::set_enabled(o.stats);
    ostrel::tools::set_slot_note_source(ostrel::aclctl::registry_slot_notes);
    std::string why;
    if (!o.pcap_path.empty() &&
        !ostrel::aclctl::tap::set_pcap_file(o.pcap_path, &why)) {
        std::fprintf(stderr, "aclctl: %s\n", why.c_str());
        return false;
    }
    ostrel::aclctl::tap::set_capture_dir(o.capture_dir);
    if (o.socket_path.empty()) {
        if (o.fail_sends > 0)
            ostrel::sim::fail_next_sends(static_cast<int>(o.fail_sends),
                                         static_cast<int>(o.fail_errno));
        return true;
    }
    ostrel_socket_transport_set_timeout_ms(static_cast<int>(o.timeout_ms));
    if (!ostrel::aclctl::connect_daemon(o.socket_path, o.wait_for_socket_ms))
        return false;
    ostrel::aclctl::tap::use_socket_backend(true);
    return true;
}

int run(const Options &o) {
    std::vector<uint8_t> bytes;
    std::string err;
    if (!read_file(o.scenario, &bytes, &err)) {
        std::fprintf(stderr, "aclctl: %s\n", err.c_str());
        return 2;
    }
    std::vector<ostrel::aclctl::Command> commands;
    std::string_view text(reinterpret_cast<const char *>(bytes.data()),
                          bytes.size());
    if (!ostrel::aclctl::parse_scenario(text, &commands, &err)) {
        std::fprintf(stderr, "aclctl: %s:%s (nothing was run)\n",
                     o.scenario.c_str(), err.c_str());
        return 2;
    }
    for (const ostrel::aclctl::Command &c : commands)
        if (!c.warning.empty())
            std::fprintf(stderr, "aclctl: %s:%d: warning: %s\n",
                         o.scenario.c_str(), c.line, c.warning.c_str());
    if (commands.empty()) {
        std::fprintf(stderr, "aclctl: %s: no commands (nothing was run)\n",
                     o.scenario.c_str());
        return 0;
    }
    if (!o.capture_dir.empty() && !capture_dir_usable(o.capture_dir))
        return 2;
    if (!set_up_backend(o))
        return 2;
    ostrel::aclctl::progress::start(o.json);
    int status = o.worker ? ostrel::aclctl::run_through_worker(commands)
                          : ostrel::aclctl::run_scenario(commands, o.keep_going,
                                                         o.resync_on_reconnect);
    ostrel_socket_transport_disconnect();
    return status;
}

int send_file(const Options &o) {
    if (o.socket_path.empty())
        return fail_usage("send needs --socket PATH");
    std::vector<uint8_t> bytes;
    std::string err;
    if (!read_file(o.scenario, &bytes, &err)) {
        std::fprintf(stderr, "aclctl: %s\n", err.c_str());
        return 2;
    }
    return ostrel::aclctl::send_raw(o.socket_path, bytes, o.timeout_ms);
}

} // namespace

int main(int argc, char **argv) {
    int status = 0;
    if (help_asked(argc, argv, &status))
        return status;
    std::string_view verb = argc >= 2 ? argv[1] : "";
    bool decode = verb == "decode";
    bool send = verb == "send";
    Options options;
    options.service_stats = verb == "service-stats";
    const bool verb_given = decode || send || options.service_stats;
    std::string err;
    if (!ostrel::aclctl::parse_args(argc - verb_given, argv + verb_given,
                                    &options, &err))
        return fail_usage(err);
    if (options.version)
        return std::printf("aclctl %s\n", ostrel_version()) < 0;
    if (options.quiet)
        tlvu_set_error_print_enabled(0);
    if (decode)
        return ostrel::aclctl::decode_file(options.scenario);
    if (options.service_stats)
        return ostrel::aclctl::show_service_stats(options);
    return send ? send_file(options) : run(options);
}
