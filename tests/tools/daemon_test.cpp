// aclsvc-sim and aclctl as processes facing hostile or broken peers: a
// client that never reads, a peer that is not allowed, a frame over the
// size limit, a second daemon on a live socket, a socket file under a
// permissive umask, bad descriptors and directories on the command line.
// Then the daemon as a service that restarts and holds a large table,
// through the socket transport.
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <tuple>
#include <unistd.h>

#include "ostrelapi/platform/socket_transport.h"
#include "process_runner.h"
#include "service_model.h"
#include "service_protocol.h"
#include "socket_frame.h"
#include "yarl.h"

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
    timeval tv{tools_test::scaled_ms(2000) / 1000, 0}; // bounds every call
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    if (connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

TEST(HostilePeers, ClientThatNeverReadsIsDroppedAndOthersAreServed) {
    Daemon daemon({"--quiet"});
    ASSERT_TRUE(daemon.ok());
    // Dropped for its unread replies, or answers, not left to block the
    // daemon.
    for (auto kind : {ostrel::socket_frame::Kind::Send,
                      ostrel::socket_frame::Kind::Query}) {
        int slow = connect_to(daemon.socket()), err = 0;
        auto frame = ostrel::socket_frame::encode(
            ostrel::socket_frame::make_head(kind, 1), nullptr, 0);
        for (int sends = 0; sends < 1000000 && err == 0; ++sends)
            if (send(slow, frame.data(), frame.size(), MSG_NOSIGNAL) < 0)
                err = errno;
        EXPECT_TRUE(err == EPIPE || err == ECONNRESET) << std::strerror(err);
        close(slow);
    }
    Result r = aclctl({"--socket", daemon.socket(), "--timeout-ms",
                       std::to_string(tools_test::scaled_ms(2000)), kScenario});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    std::string log;
    EXPECT_EQ(daemon.stop(&log), 0);
    EXPECT_THAT(log, HasSubstr("dropped client 1 (pid "));
    EXPECT_THAT(log, HasSubstr(": output queue full ("));
}

TEST(HostilePeers, FrameOverTheLimitIsRefusedAndTheSessionGoesOn) {
    using namespace ostrel::socket_frame;
    Daemon daemon({"--quiet"});
    ASSERT_TRUE(daemon.ok());
    int fd = connect_to(daemon.socket()), room = 1 << 20;
    setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &room, sizeof room);
    const std::string big(kMaxPayload + 1, 'x');
    for (const auto &f :
         {encode(make_head(Kind::Send, 7), big.data(), kMaxPayload + 1),
          encode(make_head(Kind::Query, 8), nullptr, 0)})
        ASSERT_EQ(send(fd, f.data(), f.size(), 0), ssize_t(f.size()));
    Head a{}, b{};
    EXPECT_EQ(recv(fd, &a, sizeof a, 0), ssize_t(sizeof a));
    EXPECT_EQ(recv(fd, &b, sizeof b, 0), ssize_t(sizeof b));
    EXPECT_EQ(std::tie(a.kind, a.token, a.error, b.kind, b.token, b.error),
              std::make_tuple(uint32_t(Kind::Accept), 7u, EMSGSIZE,
                              uint32_t(Kind::Answer), 8u, 0));
    close(fd);
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

using ostrel::tools::ServiceModel;

// A policy update of n ACEs for (vlan, intf) over the socket transport:
// the reply's status, or ~0u when the send or receive failed (errno says
// why). *model, when given, applies the same message.
uint32_t program(uint16_t vlan, uint32_t intf, uint32_t n,
                 ServiceModel *model = nullptr) {
    std::vector<uint64_t> words((OSTREL_PLCY_UPDATE_REQ_SIZE(n) + 7) / 8);
    auto *req = reinterpret_cast<ostrel_api_plcy_update_req_t *>(words.data());
    *req = {{1, 3}, {1, 1, vlan, intf}, n};
    for (uint32_t i = 0; i < n; ++i) {
        req->aces[i].fltr.fltr_flags = OSTREL_FLTR_FLAG_PRESENT;
        std::memcpy(req->aces[i].fltr.fltr_addr1, &i, sizeof i);
    }
    uint8_t *tlv = nullptr;
    uint32_t len = 0, status = ~0u;
    EXPECT_EQ(ostrel_api_plcy_update_req_to_tlv(req, &tlv, &len, 0, nullptr, 0),
              0u);
    if (model != nullptr)
        model->handle(OSTREL_ACL_OPCODE, tlv, len, nullptr);
    yarl_addr dst{OSTREL_ACL_SERVICE_NODE, OSTREL_ACL_SERVICE_PORT};
    yarl_msg msg{}, reply{};
    yarl_recv_opts opts{};
    int sent = ostrel_socket_yarl_send(0, &dst, OSTREL_ACL_OPCODE, tlv, len,
                                       &msg, 0, nullptr);
    std::free(tlv);
    opts.word[3] = ostrel_socket_yarl_rr_token_get(&msg);
    if (sent == 0 && ostrel_socket_yarl_recv(0, &reply, &opts) == 0)
        std::memcpy(&status, ostrel_socket_yarl_payload_get(&reply), 4);
    (void)ostrel_socket_yarl_drop(0, &reply);
    (void)ostrel_socket_yarl_drop(0, &msg);
    return status;
}

// Connects this process's socket transport to the daemon.
int connect_transport(const Daemon &daemon) {
    ostrel_socket_transport_set_timeout_ms(tools_test::scaled_ms(5000));
    return ostrel_socket_transport_connect(daemon.socket().c_str());
}

std::string table() {
    std::vector<uint8_t> answer;
    EXPECT_EQ(
        ostrel::socket_transport::query(ostrel::tools::kQueryTable, &answer),
        0);
    return std::string(answer.begin(), answer.end());
}

// True when the daemon closed the connection fd (which never sends).
bool closed_by_daemon(int fd) {
    char byte;
    bool eof = recv(fd, &byte, 1, 0) == 0;
    close(fd);
    return eof;
}

// --restart-after 1, then SIGHUP: each time the connections are closed,
// the table is forgotten and the transport's next call connects again.
TEST(ServiceRestart, AfterTheNthSendAndOnSighupTheTableStartsEmpty) {
    Daemon daemon({"--restart-after", "1"});
    ASSERT_TRUE(daemon.ok());
    ASSERT_EQ(connect_transport(daemon), 0);
    const uint32_t generation = ostrel_socket_generation(0);
    int watcher = connect_to(daemon.socket());
    EXPECT_EQ(program(10, 1, 1), 0u);
    EXPECT_TRUE(closed_by_daemon(watcher));
    ServiceModel after;
    EXPECT_EQ(program(10, 2, 1, &after), 0u);
    EXPECT_EQ(ostrel_socket_generation(0), generation + 1);
    EXPECT_EQ(table(), after.table());
    watcher = connect_to(daemon.socket());
    daemon.signal(SIGHUP);
    EXPECT_TRUE(closed_by_daemon(watcher));
    EXPECT_EQ(table(), "programmed table: empty\n");
    EXPECT_EQ(ostrel_socket_generation(0), generation + 2);
    ostrel_socket_transport_disconnect();
}

// The reply to a send accepted just before a restart never comes: its
// receive fails at once with ECONNRESET instead of waiting out the timeout,
// before the transport connected again and after.
TEST(ServiceRestart, ReplyLostWithTheOldConnectionFailsAtOnce) {
    Daemon daemon({"--quiet", "--drop-replies", "1", "--restart-after", "1"});
    ASSERT_TRUE(daemon.ok());
    ASSERT_EQ(connect_transport(daemon), 0);
    int watcher = connect_to(daemon.socket());
    yarl_addr dst{OSTREL_ACL_SERVICE_NODE, OSTREL_ACL_SERVICE_PORT};
    yarl_msg msg{}, reply{};
    ASSERT_EQ(ostrel_socket_yarl_send(0, &dst, OSTREL_ACL_OPCODE, "x", 1, &msg,
                                      0, nullptr),
              0);
    yarl_recv_opts lost{};
    lost.word[3] = ostrel_socket_yarl_rr_token_get(&msg);
    ASSERT_TRUE(closed_by_daemon(watcher));
    // Its end of stream is read, then the connection is known closed, then
    // a new one is made.
    for (std::string when : {"closing", "closed", "connected again"}) {
        if (when == "connected again") {
            EXPECT_EQ(program(10, 2, 1), 0u);
        }
        errno = 0;
        EXPECT_EQ(ostrel_socket_yarl_recv(0, &reply, &lost), -1);
        EXPECT_EQ(errno, ECONNRESET) << when;
    }
    (void)ostrel_socket_yarl_drop(0, &msg);
    ostrel_socket_transport_disconnect();
}

TEST(LargeTable, SeveralMegabytesArriveWholeAndTheSessionGoesOn) {
    Daemon daemon({"--quiet"});
    ASSERT_TRUE(daemon.ok());
    ASSERT_EQ(connect_transport(daemon), 0);
    ServiceModel expected;
    for (uint16_t vlan : {10, 11})
        for (uint32_t intf = 1; intf <= 24; ++intf)
            ASSERT_EQ(program(vlan, intf, 1000, &expected), 0u);
    const std::string whole = table();
    EXPECT_GT(whole.size(), 3u << 20);
    EXPECT_TRUE(whole == expected.table()) << whole.size() << " bytes";
    EXPECT_EQ(program(12, 5, 1), 0u); // the connection is still usable
    ostrel_socket_transport_disconnect();
}

} // namespace
