// Child processes for the tools' integration tests. Waits are bounded by
// polling a pidfd, so a hung child fails the test instead of hanging it.
#include "process_runner.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace tools_test {

int scaled_ms(int ms) {
    const char *scale = std::getenv("OSTREL_TEST_TIME_SCALE");
    int factor = scale != nullptr ? std::atoi(scale) : 1;
    return ms * (factor > 1 ? factor : 1);
}

namespace {

// Waits up to timeout_ms (scaled) for pid to end; kills it after that. Returns
// its exit code, or -1 when it was killed or died of a signal.
int wait_bounded(pid_t pid, int timeout_ms) {
    int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    bool ended = true;
    if (pidfd >= 0) {
        pollfd p{pidfd, POLLIN, 0};
        ended = poll(&p, 1, scaled_ms(timeout_ms)) == 1;
        close(pidfd);
    }
    if (!ended)
        kill(pid, SIGKILL);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!ended || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

pid_t spawn(const std::vector<std::string> &argv, const std::string &out,
            const std::string &err, int keep_fd) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    (void)keep_fd; // inherited: created without close-on-exec
    std::vector<char *> args;
    for (const std::string &a : argv)
        args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ) !=
        0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

} // namespace

std::string read_text(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TempDir::TempDir() {
    char templ[] = "/tmp/ostrel-tools-XXXXXX";
    if (mkdtemp(templ) != nullptr)
        path_ = templ;
}

TempDir::~TempDir() {
    if (path_.empty())
        return;
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

Result run(const std::vector<std::string> &argv, int timeout_ms) {
    TempDir dir;
    Result r;
    std::string out = dir.path() + "/out", err = dir.path() + "/err";
    pid_t pid = spawn(argv, out, err, -1);
    if (pid < 0)
        return r;
    r.exit_code = wait_bounded(pid, timeout_ms);
    r.out = read_text(out);
    r.err = read_text(err);
    return r;
}

Daemon::Daemon(const std::vector<std::string> &extra_args) {
    socket_ = dir_.path() + "/aclsvc.sock";
    log_path_ = dir_.path() + "/daemon.log";
    int ready[2];
    if (pipe(ready) != 0)
        return;
    fcntl(ready[0], F_SETFD, FD_CLOEXEC);
    std::vector<std::string> argv{ACLSVC_SIM_PATH, "--socket", socket_,
                                  "--ready-fd", std::to_string(ready[1])};
    argv.insert(argv.end(), extra_args.begin(), extra_args.end());
    pid_ = spawn(argv, log_path_, dir_.path() + "/daemon.err", ready[1]);
    close(ready[1]);
    if (pid_ > 0) {
        pollfd p{ready[0], POLLIN, 0};
        char buf[8] = {};
        ok_ = poll(&p, 1, scaled_ms(10000)) == 1 &&
              read(ready[0], buf, 6) == 6 && std::string(buf) == "ready\n";
    }
    close(ready[0]);
}

int Daemon::stop(std::string *log) {
    int status = -1;
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        status = wait_bounded(pid_, 10000);
        pid_ = -1;
    }
    if (log != nullptr)
        *log = read_text(log_path_);
    return status;
}

void Daemon::signal(int sig) const {
    if (pid_ > 0)
        kill(pid_, sig);
}

Daemon::~Daemon() {
    (void)stop();
}

} // namespace tools_test
