// aclsvc-sim: a simulated ACL service daemon on a Unix-domain socket.
// Stops on SIGTERM or SIGINT and removes its socket; restarts on SIGHUP.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <sys/signalfd.h>
#include <unistd.h>

#include "daemon_options.h"
#include "help_text.h"
#include "ostrelapi.h"
#include "ostrelapi/platform/tlv_error_print_switch.h"
#include "service_daemon.h"

namespace {

// Blocks the stop and restart signals and returns a descriptor that reads
// them: the event loop handles them like any other input.
int stop_signal_fd() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGHUP);
    if (sigprocmask(SIG_BLOCK, &set, nullptr) != 0)
        return -1;
    return signalfd(-1, &set, SFD_CLOEXEC);
}

// False when the descriptor given with --ready-fd cannot take the line.
bool report_ready(int fd) {
    if (fd < 0)
        return true;
    bool ok = write(fd, "ready\n", 6) == 6;
    close(fd);
    return ok;
}

} // namespace

int main(int argc, char **argv) {
    ostrel::aclsvc::Options options;
    std::string err;
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--help") == 0 ||
            std::strcmp(argv[i], "-h") == 0) {
            std::fputs(ostrel::aclsvc::kUsage, stdout);
            return 0;
        }
    if (!ostrel::aclsvc::parse_options(argc, argv, &options, &err)) {
        std::fprintf(stderr, "aclsvc-sim: %s\nTry 'aclsvc-sim --help'.\n",
                     err.c_str());
        return 2;
    }
    if (options.version)
        return std::printf("aclsvc-sim %s\n", ostrel_version()) < 0;
    if (options.quiet)
        tlvu_set_error_print_enabled(0);
    std::signal(SIGPIPE, SIG_IGN);
    int signal_fd = stop_signal_fd();
    if (signal_fd < 0) {
        std::perror("aclsvc-sim: signalfd");
        return 1;
    }
    int ready_fd = options.ready_fd;
    ostrel::aclsvc::ServiceDaemon daemon(std::move(options));
    if (daemon.start(&err) != 0) {
        std::fprintf(stderr, "aclsvc-sim: %s\n", err.c_str());
        return 1;
    }
    if (!report_ready(ready_fd)) {
        std::perror("aclsvc-sim: --ready-fd");
        return 1;
    }
    int status = daemon.run(signal_fd);
    close(signal_fd);
    return status;
}
