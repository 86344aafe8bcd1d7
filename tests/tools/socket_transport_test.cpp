// Socket transport against a scripted service on a temporary socket. The
// service's frames are queued before the client calls, so every wait ends
// at once: accepted and refused sends, replies by token (one arriving out
// of order is kept, one over the size limit is refused alone), a service
// that went away, malformed frames (which close the connection and never
// lead to a second delivery), and bounded waits on a silent service, one
// that never reads and a full backlog.
#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>
#include <malloc.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <tuple>
#include <unistd.h>

#include "process_runner.h"
#include "socket_frame.h"
#include "ostrelapi/platform/socket_transport.h"

namespace {

using ostrel::socket_frame::Head;
using ostrel::socket_frame::Kind;
using ostrel::socket_frame::make_head;

// A listening socket at <dir>/svc.sock.
int listen_in(const tools_test::TempDir &dir, sockaddr_un *addr, int backlog) {
    *addr = sockaddr_un{};
    addr->sun_family = AF_UNIX;
    std::strcpy(addr->sun_path, (dir.path() + "/svc.sock").c_str());
    int fd = socket(AF_UNIX, SOCK_SEQPACKET, 0);
    if (bind(fd, reinterpret_cast<sockaddr *>(addr), sizeof *addr) != 0 ||
        listen(fd, backlog) != 0)
        ADD_FAILURE() << "cannot listen at " << addr->sun_path;
    return fd;
}

class ScriptedService : public ::testing::Test {
  protected:
    void SetUp() override {
        sockaddr_un addr;
        listen_fd_ = listen_in(dir_, &addr, 1);
        path_ = addr.sun_path;
        ASSERT_EQ(ostrel_socket_transport_connect(path_.c_str()), 0);
        ostrel_socket_transport_set_timeout_ms(2000);
        peer_ = accept(listen_fd_, nullptr, nullptr);
        ASSERT_GE(peer_, 0);
    }
    void TearDown() override {
        ostrel_socket_transport_disconnect();
        if (peer_ >= 0)
            close(peer_);
        close(listen_fd_);
    }

    void queue(Kind kind, uint32_t token, int error = 0,
               const std::string &payload = "", bool has_payload = true) {
        Head h = make_head(kind, token);
        h.error = error;
        h.flags = has_payload ? ostrel::socket_frame::kHasPayload : 0;
        auto bytes = ostrel::socket_frame::encode(
            h, payload.data(), static_cast<uint32_t>(payload.size()));
        ASSERT_EQ(send(peer_, bytes.data(), bytes.size(), 0),
                  static_cast<ssize_t>(bytes.size()));
    }
    // The next frame the client sent.
    Head sent(std::string *payload = nullptr) {
        uint8_t buf[512];
        ssize_t n = recv(peer_, buf, sizeof buf, MSG_DONTWAIT);
        Head h{};
        const uint8_t *p = nullptr;
        EXPECT_TRUE(ostrel::socket_frame::decode(buf, n > 0 ? n : 0, &h, &p));
        if (payload != nullptr)
            payload->assign(reinterpret_cast<const char *>(p), h.length);
        return h;
    }
    int send_msg(yarl_msg *msg, const char *text = "batch") {
        yarl_addr dst{0xfe000000u, 190};
        yarl_send_opts opts{};
        return ostrel_socket_yarl_send(3, &dst, 4810, text,
                                       static_cast<uint32_t>(strlen(text)), msg,
                                       0, &opts);
    }
    int recv_reply(uint32_t token, yarl_msg *record) {
        yarl_recv_opts opts{};
        opts.word[3] = token;
        return ostrel_socket_yarl_recv(3, record, &opts);
    }

    tools_test::TempDir dir_;
    std::string path_;
    int listen_fd_ = -1;
    int peer_ = -1;
};

TEST_F(ScriptedService, AcceptedSendCarriesItsFieldsAndGetsItsReply) {
    queue(Kind::Accept, 1001);
    queue(Kind::Reply, 1001, 0, std::string("\x05\0\0\0", 4));
    yarl_msg msg{};
    ASSERT_EQ(send_msg(&msg), 0);
    std::string payload;
    Head h = sent(&payload);
    EXPECT_EQ(std::tie(h.kind, h.token, h.node, h.service, h.opcode, payload),
              std::make_tuple(uint32_t(Kind::Send), 1001u, 0xfe000000u, 190u,
                              4810u, std::string("batch")));
    EXPECT_EQ(ostrel_socket_yarl_rr_token_get(&msg), 1001u);
    yarl_msg reply{};
    ASSERT_EQ(recv_reply(1001, &reply), 0);
    const void *p = ostrel_socket_yarl_payload_get(&reply);
    ASSERT_NE(p, nullptr);
    uint32_t word = 0;
    std::memcpy(&word, p, 4);
    EXPECT_EQ(word, 5u);
    EXPECT_EQ(ostrel_socket_yarl_drop(3, &reply), 0);
    EXPECT_EQ(ostrel_socket_yarl_payload_get(&reply), nullptr);
    EXPECT_EQ(ostrel_socket_yarl_drop(3, &reply), -1);
    EXPECT_EQ(ostrel_socket_yarl_drop(3, &msg), 0);
}

TEST_F(ScriptedService, RefusedSendFailsWithTheServicesErrorAndKeepsItsToken) {
    queue(Kind::Accept, 1001, 11);
    queue(Kind::Accept, 1001);
    yarl_msg msg{};
    EXPECT_EQ(send_msg(&msg), -1);
    EXPECT_EQ(ostrel_socket_yarl_errno_get(3), 11);
    EXPECT_EQ(ostrel_socket_yarl_errno_get(4), 0);
    ASSERT_EQ(send_msg(&msg), 0);
    EXPECT_EQ(ostrel_socket_yarl_rr_token_get(&msg), 1001u);
}

TEST_F(ScriptedService, RepliesArriveOutOfOrderAndEachIsFoundByToken) {
    int room = 1 << 20; // for a reply over the size limit
    setsockopt(peer_, SOL_SOCKET, SO_SNDBUF, &room, sizeof room);
    queue(Kind::Accept, 1001);
    queue(Kind::Accept, 1002);
    queue(Kind::Reply, 1002, 0, "two!");
    queue(Kind::Reply, 1003, 0,
          std::string(ostrel::socket_frame::kMaxPayload + 1, 'r'));
    queue(Kind::Reply, 1001, 0, "", false);
    yarl_msg a{}, b{};
    ASSERT_EQ(send_msg(&a), 0);
    ASSERT_EQ(send_msg(&b), 0);
    yarl_msg r1{}, r2{};
    ASSERT_EQ(recv_reply(1001, &r1), 0);
    EXPECT_EQ(ostrel_socket_yarl_payload_get(&r1), nullptr);
    ASSERT_EQ(recv_reply(1002, &r2), 0); // set aside while waiting for 1001
    EXPECT_EQ(0, memcmp(ostrel_socket_yarl_payload_get(&r2), "two!", 4));
    EXPECT_EQ(recv_reply(1003, &b), -1); // over the limit: refused alone
    EXPECT_EQ(ostrel_socket_yarl_errno_get(3), EMSGSIZE);
    EXPECT_EQ(ostrel_socket_yarl_drop(3, &r1), 0);
    EXPECT_EQ(ostrel_socket_yarl_drop(3, &r2), 0);
}

TEST_F(ScriptedService, ServiceThatWentAwayIsAnErrorNotAHang) {
    queue(Kind::Accept, 1001);
    yarl_msg msg{};
    ASSERT_EQ(send_msg(&msg), 0);
    close(peer_);
    peer_ = -1;
    yarl_msg reply{};
    errno = 0;
    EXPECT_EQ(recv_reply(1001, &reply), -1);
    EXPECT_EQ(ostrel_socket_yarl_errno_get(3), ECONNRESET);
    EXPECT_EQ(errno, ECONNRESET); // what the library's perror line names
}

// Each of these arrives where the client waits for the Accept (first) or
// the Reply (second) of token 1001.
struct BadFrame {
    const char *what;
    bool before_accept;
    std::string bytes;
};

std::string frame(Kind kind, uint32_t token, const std::string &payload,
                  uint32_t flags = ostrel::socket_frame::kHasPayload) {
    Head h = make_head(kind, token);
    h.flags = flags;
    auto b = ostrel::socket_frame::encode(
        h, payload.data(), static_cast<uint32_t>(payload.size()));
    return std::string(b.begin(), b.end());
}

class ProtocolError : public ScriptedService,
                      public ::testing::WithParamInterface<BadFrame> {};

TEST_P(ProtocolError, ClosesTheConnectionAndNothingIsDeliveredTwice) {
    const BadFrame &bad = GetParam();
    if (!bad.before_accept)
        queue(Kind::Accept, 1001);
    ASSERT_GT(send(peer_, bad.bytes.data(), bad.bytes.size(), 0), 0);
    yarl_msg msg{}, reply{};
    int r = send_msg(&msg);
    if (!bad.before_accept) {
        ASSERT_EQ(r, 0);
        r = recv_reply(1001, &reply);
    }
    EXPECT_EQ(r, -1);
    EXPECT_EQ(ostrel_socket_yarl_errno_get(3), EPROTO);
    EXPECT_EQ(errno, EPROTO);
    // A retry by the library goes nowhere: the service saw the batch once.
    EXPECT_EQ(send_msg(&msg), -1);
    EXPECT_EQ(ostrel_socket_yarl_errno_get(3), ENOTCONN);
    EXPECT_EQ(sent().token, 1001u);
    uint8_t more[64];
    EXPECT_LE(recv(peer_, more, sizeof more, MSG_DONTWAIT), 0);
}

INSTANTIATE_TEST_SUITE_P(
    SocketTransport, ProtocolError,
    ::testing::Values(
        BadFrame{"junk", true, "not a frame"},
        BadFrame{"send_from_service", true, frame(Kind::Send, 1001, "")},
        BadFrame{"three_byte_reply", false, frame(Kind::Reply, 1001, "abc")}),
    [](const auto &info) { return std::string(info.param.what); });

TEST(SocketFrame, DecodeRefusesUnknownKindsAndBytesPastTheLength) {
    Head h{};
    const uint8_t *p = nullptr;
    for (const std::string &bad : {frame(Kind{0}, 1, ""), frame(Kind{6}, 1, ""),
                                   frame(Kind::Accept, 1, "") + "x"})
        EXPECT_FALSE(ostrel::socket_frame::decode(
            reinterpret_cast<const uint8_t *>(bad.data()), bad.size(), &h, &p));
}

// Without a sanitizer a leak shows in glibc's count of bytes in use.
TEST_F(ScriptedService, DroppingAReplyFreesItsPayload) {
    const std::string big(8000, 'r');
    size_t before = 0;
    for (uint32_t token = 1001; token < 1007; ++token) {
        queue(Kind::Reply, token, 0, big);
        yarl_msg reply{};
        ASSERT_EQ(recv_reply(token, &reply), 0);
        ASSERT_EQ(ostrel_socket_yarl_drop(3, &reply), 0);
        before = token == 1001 ? mallinfo2().uordblks : before;
    }
    EXPECT_LT(mallinfo2().uordblks, before + big.size());
}

TEST_F(ScriptedService, EveryWaitIsBoundedByTheTimeout) {
    ostrel_socket_transport_set_timeout_ms(1);
    yarl_msg reply{};
    errno = 0;
    EXPECT_EQ(recv_reply(1001, &reply), -1);
    EXPECT_EQ(ostrel_socket_yarl_errno_get(3), ETIMEDOUT);
    EXPECT_EQ(errno, ETIMEDOUT);
    // A service that never reads: its queue fills and sends time out
    // instead of blocking. Each of them may have arrived: no token twice.
    std::string big(ostrel::socket_frame::kMaxPayload, 'x');
    int timeouts = 0;
    for (int i = 0; i < 64; ++i) {
        yarl_msg msg{};
        yarl_addr dst{0xfe000000u, 190};
        timeouts += ostrel_socket_yarl_send(3, &dst, 4810, big.data(),
                                            static_cast<uint32_t>(big.size()),
                                            &msg, 0, nullptr) == -1 &&
                    errno == ETIMEDOUT;
    }
    EXPECT_EQ(timeouts, 64);
    uint32_t last = 0;
    Head h{};
    while (recv(peer_, &h, sizeof h, MSG_DONTWAIT) == sizeof h) {
        EXPECT_GT(h.token, last);
        last = h.token;
    }
    EXPECT_GT(last, 1001u);
}

TEST(SocketTransport, ConnectToAFullBacklogTimesOut) {
    tools_test::TempDir dir;
    sockaddr_un addr;
    int listener = listen_in(dir, &addr, 0);
    int first = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK, 0);
    ASSERT_EQ(connect(first, reinterpret_cast<sockaddr *>(&addr), sizeof addr),
              0); // fills the backlog of 0: nobody accepts
    ostrel_socket_transport_set_timeout_ms(20);
    EXPECT_EQ(ostrel_socket_transport_connect(addr.sun_path), ETIMEDOUT);
    EXPECT_EQ(errno, ETIMEDOUT);
    close(first);
    close(listener);
}

TEST(SocketTransport, CallsWithoutAConnectionOrRecordFail) {
    ostrel_socket_transport_disconnect();
    yarl_msg msg{};
    yarl_addr dst{0xfe000000u, 190};
    EXPECT_EQ(ostrel_socket_yarl_send(8, &dst, 4810, "x", 1, &msg, 0, nullptr),
              -1);
    EXPECT_EQ(ostrel_socket_yarl_errno_get(8), ENOTCONN);
    EXPECT_EQ(
        ostrel_socket_yarl_send(8, &dst, 4810, "x", 1, nullptr, 0, nullptr),
        -1);
    EXPECT_EQ(ostrel_socket_yarl_errno_get(8), EINVAL);
    EXPECT_EQ(ostrel_socket_transport_connect("/nonexistent/dir/sock"), ENOENT);
}

} // namespace
