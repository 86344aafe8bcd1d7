// Scenario parsing of aclctl: ACE commands read into their fields (the
// scenarios run by integration_test cover the others), every bad line
// refused with its line number and what was expected, and none kept.
#include <gtest/gtest.h>

#include "scenario.h"

namespace {

using ostrel::aclctl::Command;
using ostrel::aclctl::parse_scenario;
using ostrel::aclctl::Verb;

std::vector<Command> parse_ok(const char *text) {
    std::vector<Command> cmds;
    std::string err;
    EXPECT_TRUE(parse_scenario(text, &cmds, &err)) << err;
    return cmds;
}

std::string parse_error(const char *text) {
    std::vector<Command> cmds(1);
    std::string err;
    EXPECT_FALSE(parse_scenario(text, &cmds, &err));
    EXPECT_TRUE(cmds.empty());
    return err;
}

TEST(ScenarioParse, AceCommandsCarryTargetAddressesAndQualifier) {
    auto cmds = parse_ok(
        "# comment line\n"
        "\n"
        "  add vlan 10 intf 5 addr1 00:11:22:33:44:55 addr2 66:77:88:99:aA:bB "
        "qual 7  # trailing comment\n"
        "pc-del vlan 0x14 pc 100 addr1 0a:0b:0c:0d:0e:0f addr2 "
        "10:20:30:40:50:60 qual 65535\r\n");
    ASSERT_EQ(cmds.size(), 2u);
    EXPECT_EQ(cmds[0].line, 3);
    EXPECT_EQ(cmds[0].verb, Verb::Add);
    EXPECT_EQ(cmds[0].text, "add vlan 10 intf 5 addr1 00:11:22:33:44:55 addr2 "
                            "66:77:88:99:aA:bB qual 7");
    EXPECT_EQ(cmds[0].vlan, 10u);
    EXPECT_EQ(cmds[0].target, 5u);
    const uint8_t a1[6] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
    const uint8_t a2[6] = {0x66, 0x77, 0x88, 0x99, 0xaa, 0xbb};
    EXPECT_EQ(0, memcmp(cmds[0].ace.addr1, a1, 6));
    EXPECT_EQ(0, memcmp(cmds[0].ace.addr2, a2, 6));
    EXPECT_EQ(cmds[0].ace.qual, 7u);
    EXPECT_EQ(cmds[1].line, 4);
    EXPECT_EQ(cmds[1].verb, Verb::PcDel);
    EXPECT_EQ(cmds[1].vlan, 20u);
    EXPECT_EQ(cmds[1].target, 100u);
    EXPECT_EQ(cmds[1].ace.qual, 65535u);
}

TEST(ScenarioParse, BadLinesNameTheLineAndWhatWasExpected) {
    const char *good = "drain\n";
    struct Case {
        std::string line, error;
    } cases[] = {
        {"frobnicate", "expected a command (add, del, pc-add, pc-del, "
                       "pc-update, plcy-update, drain, show, pc, iftype, "
                       "begin, commit, resync), got 'frobnicate'"},
        {"commit", "commit without a begin before it"},
        {"resync vlan", "expected VLAN id (a number up to 65535), got end "
                        "of line"},
        {"add vlan 10 pc 5", "expected 'intf', got 'pc'"},
        {"add vlan 70000 intf 5", "expected VLAN id (a number up to 65535), "
                                  "got '70000'"},
        {"del vlan 10 intf 5 addr1 00:11:22:33:44", "expected first address "
                                                    "(like 00:11:22:33:44:55), "
                                                    "got '00:11:22:33:44'"},
        {"add vlan 1 intf 2 addr1 00:11:22:33:44:55 addr2 00:11:22:33:44:55",
         "expected 'qual', got end of line"},
        {"add vlan 1 intf 2 addr1 00:11:22:33:44:55 addr2 00:11:22:33:44:55 "
         "qual 1 extra",
         "expected end of line, got 'extra'"},
        {"pc-update intf 1 override 2 install 2", "expected install flag (a "
                                                  "number up to 1), got '2'"},
        {"plcy-update op 1 vlan 1 intf 2 acl", "expected 'ace' or end of line, "
                                               "got 'acl'"},
        {"pc 1 members 1 2 3 4 5 6 7", "expected end of line (at most 6 "
                                       "members), got '7'"},
        {"iftype 5 256", "expected type byte (a number up to 255), got '256'"},
        {"show now", "expected end of line, got 'now'"},
        {"drain 0x", "expected end of line, got '0x'"},
    };
    for (const Case &c : cases) {
        std::string text = std::string(good) + good + c.line + "\n" + good;
        EXPECT_EQ(parse_error(text.c_str()), "3: " + c.error) << c.line;
    }
}

TEST(ScenarioParse, ABlockHoldsOnlyChangesAndIsClosed) {
    EXPECT_EQ(parse_error("begin\nshow\ncommit\n"),
              "2: only add, del, pc-add, pc-del and commit in the block "
              "opened by begin on line 1, got 'show'");
    EXPECT_EQ(parse_error("begin\nbegin\n"),
              "2: begin inside the block opened by begin on line 1: blocks "
              "do not nest; commit that block first");
    EXPECT_EQ(parse_error("drain\nbegin\n"), "2: begin without a commit");
    const std::string ace =
        " addr1 00:11:22:33:44:55 addr2 00:11:22:33:44:55 qual 1\n";
    auto cmds = parse_ok(("begin\nadd vlan 1 intf 2" + ace + "commit\n" +
                          "pc-del vlan 1 pc 3" + ace + "resync vlan 7\nresync")
                             .c_str());
    ASSERT_EQ(cmds.size(), 6u);
    EXPECT_TRUE(cmds[1].in_block);
    EXPECT_FALSE(cmds[3].in_block);
    EXPECT_FALSE(cmds[4].all_vlans);
    EXPECT_EQ(cmds[4].vlan, 7u);
    EXPECT_TRUE(cmds[5].all_vlans);
}

} // namespace
