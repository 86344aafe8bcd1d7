// Command line of aclsvc-sim.
#include "daemon_options.h"

#include <fcntl.h>
#include <grp.h>
#include <string_view>

#include "number_parse.h"
#include "service_protocol.h"

namespace ostrel::aclsvc {

namespace {

bool number_option(std::string_view name, const char *value, uint32_t max,
                   uint32_t *out, std::string *err) {
    if (value == nullptr || !tools::parse_number(value, max, out)) {
        *err =
            std::string(name) + " needs a number up to " + std::to_string(max);
        return false;
    }
    return true;
}

bool mode_option(const char *value, int *out, std::string *err) {
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
    *out = static_cast<int>(mode);
    return true;
}

bool id_list_option(std::string_view name, const char *value,
                    std::vector<uint32_t> *out, std::string *err) {
    if (value == nullptr || !parse_id_list(value, out)) {
        *err = std::string(name) + " needs a comma-separated list of numbers";
        return false;
    }
    return true;
}

bool ready_fd_option(const char *value, int *out, std::string *err) {
    uint32_t fd = 0;
    if (!number_option("--ready-fd", value, 1024, &fd, err))
        return false;
    if (::fcntl(static_cast<int>(fd), F_GETFD) < 0) {
        *err =
            "--ready-fd " + std::to_string(fd) + " is not an open descriptor";
        return false;
    }
    *out = static_cast<int>(fd);
    return true;
}

// The options that take a value, for telling a missing value from a
// misspelt option.
bool known_option(std::string_view arg) {
    for (std::string_view name :
         {"--log-format", "--pcap", "--socket", "--fail-sends", "--fail-errno",
          "--drop-replies", "--delay-ms", "--ready-fd", "--mode", "--group",
          "--allow-uid", "--allow-gid"})
        if (arg == name)
            return true;
    return false;
}

} // namespace

bool parse_options(int argc, char **argv, Options *out, std::string *err) {
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        const char *value = i + 1 < argc ? argv[i + 1] : nullptr;
        bool ok = true;
        if (arg == "--quiet") {
            out->quiet = true;
            continue;
        }
        if (arg == "--log-format" && value != nullptr &&
            (std::string_view(value) == "json" ||
             std::string_view(value) == "text")) {
            out->json_log = std::string_view(value) == "json";
        } else if (arg == "--pcap" && value != nullptr) {
            out->pcap_path = value;
        } else if (arg == "--socket" && value != nullptr) {
            out->socket_path = value;
        } else if (arg == "--fail-sends") {
            ok = number_option(arg, value, 1000000, &out->fail_sends, err);
        } else if (arg == "--fail-errno") {
            ok = number_option(arg, value, 4095, &out->fail_errno, err) &&
                 out->fail_errno != 0;
            if (!ok && out->fail_errno == 0)
                *err = "--fail-errno must not be 0";
        } else if (arg == "--drop-replies") {
            ok = number_option(arg, value, 1000000, &out->drop_replies, err);
        } else if (arg == "--restart-after") {
            ok =
                number_option(arg, value, 1000000000, &out->restart_after, err);
        } else if (arg == "--delay-ms") {
            ok = number_option(arg, value, 60000, &out->delay_ms, err);
        } else if (arg == "--ready-fd") {
            ok = ready_fd_option(value, &out->ready_fd, err);
        } else if (arg == "--mode") {
            ok = mode_option(value, &out->mode, err);
        } else if (arg == "--group" && value != nullptr) {
            out->group = value;
        } else if (arg == "--allow-uid") {
            ok = id_list_option(arg, value, &out->peers.uids, err);
        } else if (arg == "--allow-gid") {
            ok = id_list_option(arg, value, &out->peers.gids, err);
        } else {
            *err = (known_option(arg) ? "bad or missing value for "
                                      : "unknown option ") +
                   std::string(arg);
            return false;
        }
        if (!ok)
            return false;
        ++i;
    }
    if (out->socket_path.empty()) {
        *err = "--socket PATH is required";
        return false;
    }
    *err = tools::socket_path_problem(out->socket_path);
    if (err->empty() && !out->group.empty() &&
        ::getgrnam(out->group.c_str()) == nullptr)
        *err = "--group " + out->group + ": no such group";
    if (!err->empty())
        return false;
    out->peers.default_to_own_uid_and_root();
    return true;
}

} // namespace ostrel::aclsvc
