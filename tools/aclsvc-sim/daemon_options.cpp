// Command line of aclsvc-sim.
#include "daemon_options.h"

#include <string_view>

#include "number_parse.h"

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
        } else if (arg == "--delay-ms") {
            ok = number_option(arg, value, 60000, &out->delay_ms, err);
        } else if (arg == "--ready-fd") {
            uint32_t fd = 0;
            ok = number_option(arg, value, 1024, &fd, err);
            out->ready_fd = static_cast<int>(fd);
        } else {
            *err = "unknown or incomplete option '" + std::string(arg) + "'";
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
    return true;
}

} // namespace ostrel::aclsvc
