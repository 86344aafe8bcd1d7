// The scenario language of aclctl: one command a line, '#' starts a
// comment, words separated by blanks, keywords in the order shown.
//
//   add    vlan V intf I  addr1 MAC addr2 MAC qual Q
//   del    vlan V intf I  addr1 MAC addr2 MAC qual Q
//   pc-add vlan V pc P    addr1 MAC addr2 MAC qual Q
//   pc-del vlan V pc P    addr1 MAC addr2 MAC qual Q
//   pc-update intf I override O install 0|1
//   plcy-update op OP vlan V intf I [ace addr1 MAC addr2 MAC qual Q]...
//   drain                      collect the reply of the last send
//   show                       print the service's programmed table
//   pc P members M...          port channel P (type 22) with up to 6 members
//   iftype I T                 interface I has type byte T
//   begin                      the add, del, pc-add and pc-del lines up to
//   commit                     commit are applied as one bulk call
//   resync [vlan V]            send the registry again
//
// Numbers are decimal digits, or hexadecimal digits after 0x or 0X (a
// leading 0 is still decimal); MAC is six hex bytes with ':' between them.
// VLAN ids outside 1-4094 are accepted with a warning in Command::warning.
// Input echoed in an error is escaped and cut at 80 characters. A whole
// scenario is parsed before any of it runs.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ostrelapi.h"

namespace ostrel::aclctl {

enum class Verb {
    Add,
    Del,
    PcAdd,
    PcDel,
    PcUpdate,
    PlcyUpdate,
    Drain,
    Show,
    PcMembers,
    IfType,
    Begin,
    Commit,
    Resync,
};

struct AceArgs {
    uint8_t addr1[6] = {};
    uint8_t addr2[6] = {};
    uint32_t qual = 0;
};

struct Command {
    int line = 0;
    std::string text; // the line as written, comment and edges trimmed
    Verb verb = Verb::Drain;
    uint32_t vlan = 0;
    uint32_t target = 0; // interface or port-channel index
    uint32_t override_if = 0;
    uint32_t install = 0;
    uint32_t op = 0;               // plcy-update
    uint32_t if_type = 0;          // iftype
    AceArgs ace;                   // add, del, pc-add, pc-del
    std::vector<AceArgs> aces;     // plcy-update
    std::vector<uint32_t> members; // pc ... members
    std::string warning;           // e.g. a VLAN id outside 1-4094
    bool all_vlans = true;         // resync without `vlan V`
    bool in_block = false;         // a change between begin and commit
    bool full = false;             // show full: the whole table even brief
};

// Whether the command is one a begin ... commit block may hold.
bool is_change(Verb verb);

// The change an add, del, pc-add or pc-del command stands for, as the bulk
// call and the worker take it.
ostrel_api_acl_change_t change_of(const Command &c);

// Parses a whole scenario. On the first bad line returns false with *err
// "LINE: what was expected"; *out is then left empty. A block holds only
// changes, does not nest, and is closed by the end of the scenario.
bool parse_scenario(std::string_view text, std::vector<Command> *out,
                    std::string *err);

} // namespace ostrel::aclctl
