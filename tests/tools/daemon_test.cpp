// aclsvc-sim and aclctl as processes facing hostile or broken peers: a
// client that never reads, a peer that is not allowed, a second daemon on
// a live socket, a socket file under a permissive umask, bad descriptors
// and directories on the command line.
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "process_runner.h"
#include "socket_frame.h"

namespace {

using ::testing::HasSubstr;
using ::testing::Not;

using tools_test::Daemon;
using tools_test::Result;
using tools_test::run;

const std::string kScenario = TOOLS_TEST_DIR "/scenarios/interfaces.scn";

Result aclctl(std::vector<std::string> args, int timeout_ms = 20000) {
    args.insert(args.begin(), ACLCTL_PATH);
    return run(args, timeout_ms);
}

int connect_to(const std::string &path) {
    int fd = socket(AF_UNIX, SOCK_SEQPACKET, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strcpy(addr.sun_path, path.c_str());
    timeval tv{tools_test::scaled_ms(2000) / 1000, 0}; // bounds every send
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    if (connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

TEST(HostilePeers, ClientThatNeverReadsIsDroppedAndOthersAreServed) {
    Daemon daemon({"--quiet"});
    ASSERT_TRUE(daemon.ok());
    int slow = connect_to(daemon.socket());
    ASSERT_GE(slow, 0);
    auto query = ostrel::socket_frame::encode(
        ostrel::socket_frame::make_head(ostrel::socket_frame::Kind::Query, 1),
        nullptr, 0);
    int sends = 0, err = 0;
    for (; sends < 1000000; ++sends) {
        if (send(slow, query.data(), query.size(), MSG_NOSIGNAL) < 0) {
            err = errno;
            break;
        }
    }
    // Dropped for its unread answers, not left to block the daemon.
    EXPECT_TRUE(err == EPIPE || err == ECONNRESET) << std::strerror(err);
    Result r = aclctl({"--socket", daemon.socket(), "--timeout-ms",
                       std::to_string(tools_test::scaled_ms(2000)), kScenario});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    close(slow);
    std::string log;
    EXPECT_EQ(daemon.stop(&log), 0);
    EXPECT_THAT(log, HasSubstr("dropped client 1 (pid "));
    EXPECT_THAT(log, HasSubstr(": output queue full ("));
}

TEST(HostilePeers, PeerNotAllowedIsRefusedAndAclctlStopsWithinASecond) {
    Daemon refusing({"--allow-uid", "4242"});
    ASSERT_TRUE(refusing.ok());
    Result r = aclctl({"--socket", refusing.socket(), kScenario}, 3000);
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_THAT(r.err, HasSubstr("aclctl: line 3: the service is gone ("));
    // --keep-going runs every line against the gone service.
    Result all = aclctl({"--socket", refusing.socket(), "--keep-going",
                         "--fast-retry", kScenario},
                        3000);
    EXPECT_EQ(all.exit_code, 1);
    EXPECT_THAT(all.out, HasSubstr("line 14: show"));
    std::string log;
    EXPECT_EQ(refusing.stop(&log), 0);
    EXPECT_THAT(log, HasSubstr("refused a peer (pid "));
    EXPECT_THAT(log, Not(HasSubstr("token")));

    Daemon by_group({"--quiet", "--allow-uid", "4242", "--allow-gid",
                     std::to_string(getgid())});
    ASSERT_TRUE(by_group.ok());
    Result ok = aclctl({"--socket", by_group.socket(), kScenario});
    EXPECT_EQ(ok.exit_code, 0) << ok.err;
}

TEST(SocketPath, LiveSocketIsKeptStaleOneReplacedOthersNamed) {
    Daemon first({"--quiet"});
    ASSERT_TRUE(first.ok());
    Result second = run({ACLSVC_SIM_PATH, "--socket", first.socket()}, 5000);
    EXPECT_EQ(second.exit_code, 1);
    EXPECT_THAT(second.err, HasSubstr("another service is listening there"));
    EXPECT_EQ(aclctl({"--socket", first.socket(), kScenario}).exit_code, 0);
    first.stop();

    tools_test::TempDir dir;
    const std::string stale = dir.path() + "/stale.sock";
    int fd = socket(AF_UNIX, SOCK_SEQPACKET, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strcpy(addr.sun_path, stale.c_str());
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
    close(fd); // the file stays, nobody listens
    Daemon replacing({"--quiet", "--socket", stale});
    EXPECT_TRUE(replacing.ok());

    for (const char *what : {"regular file", "directory"}) {
        const std::string path = dir.path() + "/" + what;
        if (what[0] == 'd')
            mkdir(path.c_str(), 0700);
        else
            close(creat(path.c_str(), 0600));
        Result r = run({ACLSVC_SIM_PATH, "--socket", path}, 5000);
        EXPECT_EQ(r.exit_code, 1);
        EXPECT_THAT(r.err,
                    HasSubstr(std::string("is a ") + what + ", not a socket"));
    }
}

TEST(SocketPath, ModeIsTheOneAskedForWhateverTheUmask) {
    mode_t old = umask(0);
    Daemon plain({"--quiet"});
    Daemon shared({"--quiet", "--mode", "0660"});
    umask(old);
    ASSERT_TRUE(plain.ok() && shared.ok());
    struct stat st {};
    ASSERT_EQ(stat(plain.socket().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(stat(shared.socket().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0660u);
}

TEST(CommandLine, BadReadyFdAndUnusableCaptureDirStopBeforeAnythingRuns) {
    tools_test::TempDir dir;
    Result d = run({ACLSVC_SIM_PATH, "--socket", dir.path() + "/s.sock",
                    "--ready-fd", "999"},
                   5000);
    EXPECT_EQ(d.exit_code, 2);
    EXPECT_THAT(d.err, HasSubstr("--ready-fd 999 is not an open descriptor"));
    Result c = aclctl({"--capture", dir.path() + "/missing", kScenario});
    EXPECT_EQ(c.exit_code, 2);
    EXPECT_EQ(c.err, "aclctl: --capture " + dir.path() +
                         "/missing: No such file or directory (nothing was "
                         "run)\n");
    EXPECT_TRUE(c.out.empty());
}

} // namespace
