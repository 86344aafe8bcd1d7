// What `aclctl --help` and `aclctl help scenario` print.
#pragma once

namespace ostrel::aclctl {

inline constexpr const char *kUsage =
    "usage: aclctl [OPTIONS] SCENARIO     run a scenario\n"
    "       aclctl decode FILE            decode a message or a pcapng "
    "capture\n"
    "       aclctl send --socket PATH [--timeout-ms MS] FILE\n"
    "                                     send a file's bytes to aclsvc-sim\n"
    "       aclctl help [scenario]        this text, or the scenario "
    "language\n"
    "SCENARIO or FILE may be - for standard input.\n"
    "\n"
    "options:\n"
    "  --socket PATH      run against the aclsvc-sim daemon at PATH\n"
    "                     (default: the embedded simulated service)\n"
    "  --timeout-ms MS    bound of every wait on the daemon (default 5000)\n"
    "  --fast-retry       skip the library's 800 ms retry sleeps\n"
    "  --fail-sends N     embedded service: the first N sends fail\n"
    "  --fail-errno E     with error number E (default 11)\n"
    "  --capture DIR      write every sent payload to DIR/send-NNN.bin\n"
    "  --pcap FILE        write every frame, both directions, as pcapng\n"
    "  --json             one JSON object per event and line on stdout\n"
    "  --quiet            silence the TLV library's error print\n"
    "  -h, --help         this text\n"
    "\n"
    "exit status:\n"
    "  0  every call returned status 0 (decode: the input was decoded)\n"
    "  1  a call returned another status (decode: the input is malformed)\n"
    "  2  bad command line, unreadable or bad scenario, daemon unreachable\n"
    "\n"
    "The scenario language: aclctl help scenario, or man aclctl.\n";

inline constexpr const char *kScenarioGrammar =
    "One command per line; '#' starts a comment; words are separated by\n"
    "blanks; keywords come in the order shown.\n"
    "\n"
    "  add    vlan V intf I  addr1 MAC addr2 MAC qual Q\n"
    "  del    vlan V intf I  addr1 MAC addr2 MAC qual Q\n"
    "  pc-add vlan V pc P    addr1 MAC addr2 MAC qual Q\n"
    "  pc-del vlan V pc P    addr1 MAC addr2 MAC qual Q\n"
    "  pc-update intf I override O install 0|1\n"
    "  plcy-update op OP vlan V intf I [ace addr1 MAC addr2 MAC qual Q]...\n"
    "  drain                collect the reply of the last send\n"
    "  show                 print the service's programmed table\n"
    "  pc P members M...    port channel P (type 22), up to 6 members\n"
    "  iftype I T           interface I has type byte T\n"
    "\n"
    "Numbers: decimal digits, or hexadecimal digits after 0x or 0X; a\n"
    "leading 0 does not mean octal (010 is ten). V and Q are at most 65535,\n"
    "T at most 255, I, P, O, OP and M at most 4294967295.\n"
    "VLAN ids outside 1-4094 draw a warning and are sent as given.\n"
    "MAC: six two-digit hexadecimal bytes separated by ':'.\n"
    "\n"
    "The whole scenario is parsed before anything runs; a bad line stops\n"
    "it with FILE:LINE: expected ..., got '...'. A reply left pending by a\n"
    "send is collected by the next drain, or before the next command that\n"
    "sends, or at the end of the scenario.\n";

} // namespace ostrel::aclctl
