// Socket transport against a scripted service on a temporary socket. The
// service's frames are queued before the client calls, so every wait ends
// at once: accepted and refused sends, replies by token (one arriving out
// of order is kept), a service that went away, malformed frames, timeouts.
#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "socket_frame.h"
#include "socket_transport.h"

namespace {

using ostrel::socket_frame::Head;
using ostrel::socket_frame::Kind;
using ostrel::socket_frame::make_head;

class ScriptedService : public ::testing::Test {
  protected:
    void SetUp() override {
        char dir[] = "/tmp/ostrel-sock-XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        dir_ = dir;
        path_ = dir_ + "/svc.sock";
        listen_fd_ = socket(AF_UNIX, SOCK_SEQPACKET, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strcpy(addr.sun_path, path_.c_str());
        ASSERT_EQ(
            bind(listen_fd_, reinterpret_cast<sockaddr *>(&addr), sizeof addr),
            0);
        ASSERT_EQ(listen(listen_fd_, 1), 0);
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
        unlink(path_.c_str());
        rmdir(dir_.c_str());
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

    std::string dir_, path_;
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
    EXPECT_EQ(h.kind, static_cast<uint32_t>(Kind::Send));
    EXPECT_EQ(h.token, 1001u);
    EXPECT_EQ(h.node, 0xfe000000u);
    EXPECT_EQ(h.service, 190u);
    EXPECT_EQ(h.opcode, 4810u);
    EXPECT_EQ(payload, "batch");
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
    queue(Kind::Accept, 1001);
    queue(Kind::Accept, 1002);
    queue(Kind::Reply, 1002, 0, "two");
    queue(Kind::Reply, 1001, 0, "", false);
    yarl_msg a{}, b{};
    ASSERT_EQ(send_msg(&a), 0);
    ASSERT_EQ(send_msg(&b), 0);
    yarl_msg r1{}, r2{};
    ASSERT_EQ(recv_reply(1001, &r1), 0);
    EXPECT_EQ(ostrel_socket_yarl_payload_get(&r1), nullptr);
    ASSERT_EQ(recv_reply(1002, &r2), 0); // set aside while waiting for 1001
    EXPECT_EQ(0, memcmp(ostrel_socket_yarl_payload_get(&r2), "two", 3));
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
    EXPECT_EQ(recv_reply(1001, &reply), -1);
    EXPECT_EQ(ostrel_socket_yarl_errno_get(3), ECONNRESET);
    EXPECT_EQ(send_msg(&msg), -1);
    EXPECT_EQ(ostrel_socket_yarl_errno_get(3), ECONNRESET);
}

TEST_F(ScriptedService, MalformedFrameAndSilenceAreErrors) {
    const char junk[] = "not a frame";
    ASSERT_GT(send(peer_, junk, sizeof junk, 0), 0);
    yarl_msg msg{};
    EXPECT_EQ(send_msg(&msg), -1);
    EXPECT_EQ(ostrel_socket_yarl_errno_get(3), EPROTO);
    ostrel_socket_transport_set_timeout_ms(1);
    yarl_msg reply{};
    EXPECT_EQ(recv_reply(1001, &reply), -1);
    EXPECT_EQ(ostrel_socket_yarl_errno_get(3), ETIMEDOUT);
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
