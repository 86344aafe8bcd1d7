// Child processes for the tools' integration tests: run a command with its
// output captured and a bounded wait, and a daemon that is stopped (and
// killed if it does not stop in time) on every exit path of a test.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace tools_test {

struct Result {
    int exit_code = -1; // -1: killed after the timeout, or not started
    std::string out;
    std::string err;
};

// A time limit of the process tests, multiplied by OSTREL_TEST_TIME_SCALE
// when set (cmake/memcheck.cmake sets it: under valgrind every process
// runs many times slower). Every wait below is scaled this way.
int scaled_ms(int ms);

// Runs argv[0] with the given arguments; kills it after timeout_ms.
Result run(const std::vector<std::string> &argv, int timeout_ms = 20000);

// A temporary directory removed with its files at destruction.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    const std::string &path() const { return path_; }

  private:
    std::string path_;
};

// aclsvc-sim on a socket in its own temporary directory.
class Daemon {
  public:
    // Starts the daemon with extra arguments and waits (bounded) until it
    // reports that it listens. ok() tells whether it did.
    explicit Daemon(const std::vector<std::string> &extra_args);
    ~Daemon();
    bool ok() const { return ok_; }
    const std::string &socket() const { return socket_; }
    void signal(int sig) const;
    // SIGTERM and a bounded wait; returns the exit status (-1 if it had to
    // be killed) and fills *log with what it printed.
    int stop(std::string *log = nullptr);

  private:
    TempDir dir_;
    std::string socket_;
    std::string log_path_;
    pid_t pid_ = -1;
    bool ok_ = false;
};

std::string read_text(const std::string &path);

} // namespace tools_test
