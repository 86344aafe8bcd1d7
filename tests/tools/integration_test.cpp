// aclctl and aclsvc-sim as separate processes: scenarios run against the
// embedded service and against the daemon give the expected output, a
// daemon that refuses sends or drops replies is retried and timed out for
// real, malformed messages are refused by the decoder and the daemon, and
// the daemon stops cleanly on SIGTERM.
#include <filesystem>
#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "process_runner.h"

namespace {

using ::testing::HasSubstr;
using ::testing::Not;

using tools_test::Daemon;
using tools_test::read_text;
using tools_test::Result;
using tools_test::run;

const std::string kDir = TOOLS_TEST_DIR;

std::string scenario(const std::string &name) {
    return kDir + "/scenarios/" + name + ".scn";
}

std::string expected(const std::string &name) {
    return read_text(kDir + "/expected/" + name + ".out");
}

Result aclctl(std::vector<std::string> args) {
    args.insert(args.begin(), ACLCTL_PATH);
    return run(args);
}

void write_file(const std::string &path, const std::vector<uint8_t> &bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char *>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

class Scenario : public ::testing::TestWithParam<const char *> {};

TEST_P(Scenario, EmbeddedAndDaemonGiveTheExpectedMessagesAndTable) {
    const std::string name = GetParam();
    Result embedded = aclctl({scenario(name)});
    EXPECT_EQ(embedded.exit_code, 0) << embedded.err;
    EXPECT_EQ(embedded.out, expected(name));

    Daemon daemon({"--quiet"});
    ASSERT_TRUE(daemon.ok());
    Result remote = aclctl({"--socket", daemon.socket(), scenario(name)});
    EXPECT_EQ(remote.exit_code, 0) << remote.err;
    EXPECT_EQ(remote.out, expected(name));
    EXPECT_EQ(daemon.stop(), 0);
    EXPECT_FALSE(std::filesystem::exists(daemon.socket()));
}

INSTANTIATE_TEST_SUITE_P(Tools, Scenario,
                         ::testing::Values("interfaces", "port_channels",
                                           "policy_update"));

TEST(Retries, RefusedSendsAreRetriedAgainstBothServices) {
    Daemon daemon({"--fail-sends", "2"});
    ASSERT_TRUE(daemon.ok());
    Result remote = aclctl(
        {"--socket", daemon.socket(), "--fast-retry", scenario("retries")});
    EXPECT_EQ(remote.exit_code, 0) << remote.err;
    EXPECT_EQ(remote.out, expected("retries"));
    Result embedded =
        aclctl({"--fail-sends", "2", "--fast-retry", scenario("retries")});
    EXPECT_EQ(embedded.out, expected("retries"));
    std::string log;
    EXPECT_EQ(daemon.stop(&log), 0);
    EXPECT_THAT(log, HasSubstr("token 1001: send refused (errno 11)\n"
                               "token 1001: send refused (errno 11)\n"
                               "token 1001, opcode 4810: batch of 160 bytes"));
}

TEST(Retries, FourRefusalsFailTheCallWithTheServicesErrorNumber) {
    Daemon daemon({"--fail-sends", "4", "--fail-errno", "0x123"});
    ASSERT_TRUE(daemon.ok());
    Result r = aclctl(
        {"--socket", daemon.socket(), "--fast-retry", scenario("retries")});
    EXPECT_EQ(r.exit_code, 1);
    // Four attempts and three retry sleeps for the first add.
    std::string first = r.out.substr(0, r.out.find("line 3:"));
    size_t refusals = 0;
    for (size_t at = 0;
         (at = first.find("-> refused, errno 291", at)) != std::string::npos;
         ++at)
        ++refusals;
    EXPECT_EQ(refusals, 4u);
    EXPECT_THAT(
        first,
        HasSubstr("  status 0x81040123 (send failed: errno 291 (Unknown "
                  "error 291))\n"));
    EXPECT_THAT(r.err, HasSubstr("Unable to send YARL message"));
    // The second add goes through: only the failed batch was lost.
    EXPECT_THAT(r.out, HasSubstr("programmed table: 1 entry\n"));
}

TEST(Timeouts, DroppedReplyFailsTheDrainWithTimedOut) {
    Daemon daemon({"--drop-replies", "1"});
    ASSERT_TRUE(daemon.ok());
    Result r = aclctl({"--socket", daemon.socket(), "--timeout-ms",
                       std::to_string(tools_test::scaled_ms(50)),
                       scenario("retries")});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_THAT(r.out,
                HasSubstr("  reply token 1001: receive failed, errno 110\n"
                          "  status 0x0000006e (receive failed: errno 110 "
                          "ETIMEDOUT (Connection timed out))\n"));
    EXPECT_THAT(r.out,
                HasSubstr("  reply token 1002: status 0x00000000 (ok)\n"));
}

TEST(Timeouts, DelayedRepliesStillMeetTheirDrains) {
    Daemon daemon({"--delay-ms", "5", "--quiet"});
    ASSERT_TRUE(daemon.ok());
    Result r = aclctl({"--socket", daemon.socket(), scenario("interfaces")});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out, expected("interfaces"));
}

TEST(Malformed, DecoderAndDaemonRefuseDamagedMessagesAndKeepServing) {
    tools_test::TempDir dir;
    Result captured = aclctl({"--capture", dir.path(), scenario("retries")});
    ASSERT_EQ(captured.exit_code, 0);
    const std::string good = dir.path() + "/send-002.bin";
    std::string bytes = read_text(good);
    ASSERT_EQ(bytes.size(), 224u);
    Result decoded = aclctl({"decode", good});
    EXPECT_EQ(decoded.exit_code, 0);
    EXPECT_EQ(decoded.out.substr(0, 40),
              "batch of 224 bytes, word0 1, 1 request\n ");

    std::vector<std::vector<uint8_t>> damaged;
    damaged.emplace_back(bytes.begin(), bytes.begin() + 100); // truncated
    damaged.emplace_back(bytes.begin(), bytes.end() - 1);
    std::vector<uint8_t> garbage(bytes.begin(), bytes.end());
    garbage[4] = 0x7f; // request count
    damaged.push_back(garbage);
    damaged.push_back({0xde, 0xad, 0xbe});
    damaged.push_back({});

    Daemon daemon({});
    ASSERT_TRUE(daemon.ok());
    for (size_t i = 0; i < damaged.size(); ++i) {
        std::string path = dir.path() + "/damaged-" + std::to_string(i);
        write_file(path, damaged[i]);
        Result d = aclctl({"decode", path});
        EXPECT_EQ(d.exit_code, 1) << i;
        EXPECT_TRUE(d.out.empty());
        EXPECT_THAT(d.err, HasSubstr("neither a batch nor a policy update"));
        Result s = aclctl({"send", "--socket", daemon.socket(), path});
        EXPECT_EQ(s.exit_code, 1) << i;
        EXPECT_THAT(s.out,
                    HasSubstr(": status 0xe0000001 (malformed message)\n"));
    }
    Result s = aclctl({"send", "--socket", daemon.socket(), good});
    EXPECT_EQ(s.exit_code, 0);
    std::string show = dir.path() + "/show.scn";
    write_file(show, {'s', 'h', 'o', 'w', '\n'});
    Result table = aclctl({"--socket", daemon.socket(), show});
    EXPECT_EQ(table.out, "line 1: show\n"
                         "  programmed table: 1 entry\n"
                         "    (batch) install vlan 10 intf 5, 3 records\n"
                         "      [0] ace qual 8 addr1 00:11:22:33:44:56 addr2 "
                         "66:77:88:99:aa:bc\n"
                         "      [1] close qual 7\n"
                         "          slot 1: qual 7, replaced by the closing "
                         "record (only its qualifier is sent)\n"
                         "      [2] end\n");
    std::string log;
    EXPECT_EQ(daemon.stop(&log), 0);
    EXPECT_THAT(
        log, HasSubstr("refused: batch of 3 bytes is shorter than its 8-byte "
                       "head"));
}

TEST(BadScenario, NothingRunsAndTheLineIsNamed) {
    Daemon daemon({});
    ASSERT_TRUE(daemon.ok());
    const std::string file = scenario("bad_line");
    Result r = aclctl({"--socket", daemon.socket(), file});
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_TRUE(r.out.empty());
    EXPECT_EQ(r.err, "aclctl: " + file +
                         ":3: expected interface index (a number up to "
                         "4294967295), got 'five' (nothing was run)\n");
    std::string log;
    EXPECT_EQ(daemon.stop(&log), 0);
    EXPECT_THAT(log, Not(HasSubstr("token")));
}

TEST(Daemon, BadCommandLineAndUnreachableDaemonAreReported) {
    Result r = run({ACLSVC_SIM_PATH, "--fail-sends", "many"});
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_THAT(r.err, HasSubstr("--fail-sends needs a number"));
    tools_test::TempDir dir;
    Result c =
        aclctl({"--socket", dir.path() + "/none.sock", scenario("retries")});
    EXPECT_EQ(c.exit_code, 2);
    EXPECT_THAT(c.err, HasSubstr("cannot connect"));
}

} // namespace
