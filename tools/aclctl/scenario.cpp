// Parser of the scenario language (see scenario.h).
#include "scenario.h"

#include <cstring>

#include "number_parse.h"
#include "text_escape.h"

namespace ostrel::aclctl {

namespace {

constexpr uint32_t kMaxU16 = 0xffff;
constexpr uint32_t kMaxU32 = 0xffffffff;
constexpr size_t kMaxMembers = 6;

// 'word', escaped. Built by appending: GCC 12 misreads "'" + std::string
// as an overlapping copy (-Wrestrict) in optimised builds.
std::string quoted(std::string_view word) {
    std::string s(1, '\'');
    s += tools::escape_text(word);
    s += '\'';
    return s;
}

std::vector<std::string_view> split_words(std::string_view line) {
    std::vector<std::string_view> words;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
            ++i;
        size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t')
            ++i;
        if (i > start)
            words.push_back(line.substr(start, i - start));
    }
    return words;
}

// Walks the words of one line; the first mismatch keeps its message.
class Cursor {
  public:
    explicit Cursor(std::vector<std::string_view> words)
        : words_(std::move(words)) {}

    bool keyword(std::string_view kw) {
        if (!ok_)
            return false;
        if (pos_ < words_.size() && words_[pos_] == kw) {
            ++pos_;
            return true;
        }
        return expected(quoted(kw));
    }
    bool number(const char *what, uint32_t max, uint32_t *out) {
        if (!ok_)
            return false;
        if (pos_ < words_.size() &&
            tools::parse_number(words_[pos_], max, out)) {
            ++pos_;
            return true;
        }
        return expected(std::string(what) + " (a number up to " +
                        std::to_string(max) + ")");
    }
    bool mac(const char *what, uint8_t out[6]) {
        if (!ok_)
            return false;
        if (pos_ < words_.size() && tools::parse_mac(words_[pos_], out)) {
            ++pos_;
            return true;
        }
        return expected(std::string(what) + " (like 00:11:22:33:44:55)");
    }
    bool peek(std::string_view kw) const {
        return ok_ && pos_ < words_.size() && words_[pos_] == kw;
    }
    bool at_end() const { return pos_ == words_.size(); }
    bool end() {
        if (ok_ && !at_end())
            return expected("end of line");
        return ok_;
    }
    bool expected(const std::string &what) {
        if (ok_) {
            ok_ = false;
            error_ = "expected " + what + ", got " +
                     (pos_ < words_.size() ? quoted(words_[pos_])
                                           : std::string("end of line"));
        }
        return false;
    }
    bool unknown_verb(std::string_view verb, const char *known) {
        ok_ = false;
        error_ = std::string("expected a command (") + known + "), got " +
                 quoted(verb);
        return false;
    }
    const std::string &error() const { return error_; }

  private:
    std::vector<std::string_view> words_;
    size_t pos_ = 1; // the verb is read by the caller
    bool ok_ = true;
    std::string error_;
};

// A VLAN id the switch cannot carry is still sent (the library accepts
// it), with a warning.
bool vlan_id(Cursor &c, Command *cmd) {
    if (!c.number("VLAN id", kMaxU16, &cmd->vlan))
        return false;
    if (cmd->vlan < 1 || cmd->vlan > 4094)
        cmd->warning = "VLAN id " + std::to_string(cmd->vlan) +
                       " is outside 1-4094 (sent as given)";
    return true;
}

bool ace_args(Cursor &c, AceArgs *ace) {
    return c.keyword("addr1") && c.mac("first address", ace->addr1) &&
           c.keyword("addr2") && c.mac("second address", ace->addr2) &&
           c.keyword("qual") && c.number("qualifier", kMaxU16, &ace->qual);
}

bool ace_command(Cursor &c, const char *target_kw, Command *cmd) {
    return c.keyword("vlan") && vlan_id(c, cmd) && c.keyword(target_kw) &&
           c.number("interface index", kMaxU32, &cmd->target) &&
           ace_args(c, &cmd->ace) && c.end();
}

bool plcy_update(Cursor &c, Command *cmd) {
    if (!(c.keyword("op") && c.number("operation", kMaxU32, &cmd->op) &&
          c.keyword("vlan") && vlan_id(c, cmd) && c.keyword("intf") &&
          c.number("interface index", kMaxU32, &cmd->target)))
        return false;
    while (c.peek("ace")) {
        c.keyword("ace");
        AceArgs ace;
        if (!ace_args(c, &ace))
            return false;
        cmd->aces.push_back(ace);
    }
    return c.at_end() ? true : c.expected("'ace' or end of line");
}

bool members(Cursor &c, Command *cmd) {
    if (!(c.number("port-channel index", kMaxU32, &cmd->target) &&
          c.keyword("members")))
        return false;
    while (!c.at_end()) {
        uint32_t m = 0;
        if (cmd->members.size() == kMaxMembers)
            return c.expected("end of line (at most 6 members)");
        if (!c.number("member interface index", kMaxU32, &m))
            return false;
        cmd->members.push_back(m);
    }
    return true;
}

bool parse_words(std::string_view verb, Cursor &c, Command *cmd) {
    if (verb == "add" || verb == "del") {
        cmd->verb = verb == "add" ? Verb::Add : Verb::Del;
        return ace_command(c, "intf", cmd);
    }
    if (verb == "pc-add" || verb == "pc-del") {
        cmd->verb = verb == "pc-add" ? Verb::PcAdd : Verb::PcDel;
        return ace_command(c, "pc", cmd);
    }
    if (verb == "pc-update") {
        cmd->verb = Verb::PcUpdate;
        return c.keyword("intf") &&
               c.number("interface index", kMaxU32, &cmd->target) &&
               c.keyword("override") &&
               c.number("override interface index", kMaxU32,
                        &cmd->override_if) &&
               c.keyword("install") &&
               c.number("install flag", 1, &cmd->install) && c.end();
    }
    if (verb == "plcy-update") {
        cmd->verb = Verb::PlcyUpdate;
        return plcy_update(c, cmd);
    }
    if (verb == "drain") {
        cmd->verb = Verb::Drain;
        return c.end();
    }
    if (verb == "show") {
        cmd->verb = Verb::Show;
        cmd->full = c.peek("full");
        return (!cmd->full || c.keyword("full")) && c.end();
    }
    if (verb == "pc") {
        cmd->verb = Verb::PcMembers;
        return members(c, cmd);
    }
    if (verb == "begin" || verb == "commit") {
        cmd->verb = verb == "begin" ? Verb::Begin : Verb::Commit;
        return c.end();
    }
    if (verb == "resync") {
        cmd->verb = Verb::Resync;
        cmd->all_vlans = !c.peek("vlan");
        return (cmd->all_vlans || (c.keyword("vlan") && vlan_id(c, cmd))) &&
               c.end();
    }
    if (verb == "iftype") {
        cmd->verb = Verb::IfType;
        return c.number("interface index", kMaxU32, &cmd->target) &&
               c.number("type byte", 0xff, &cmd->if_type) && c.end();
    }
    return c.unknown_verb(verb, "add, del, pc-add, pc-del, pc-update, "
                                "plcy-update, drain, show, pc, iftype, "
                                "begin, commit, resync");
}

// Where the command stands against the begin ... commit block opened on
// line *open (0: none): empty, or what is wrong.
std::string block_problem(Command &cmd, int *open) {
    const std::string opened =
        "the block opened by begin on line " + std::to_string(*open);
    if (cmd.verb == Verb::Begin && *open != 0)
        return "begin inside " + opened +
               ": blocks do not nest; commit "
               "that block first";
    if (cmd.verb == Verb::Commit && *open == 0)
        return "commit without a begin before it";
    if (*open != 0 && cmd.verb != Verb::Commit && !is_change(cmd.verb))
        return "only add, del, pc-add, pc-del and commit in " + opened +
               ", got " + quoted(cmd.text.substr(0, cmd.text.find(' ')));
    cmd.in_block = *open != 0 && is_change(cmd.verb);
    if (cmd.verb == Verb::Begin)
        *open = cmd.line;
    if (cmd.verb == Verb::Commit)
        *open = 0;
    return "";
}

std::string_view trim(std::string_view s) {
    size_t hash = s.find('#');
    if (hash != std::string_view::npos)
        s = s.substr(0, hash);
    while (!s.empty() &&
           (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    return s;
}

} // namespace

bool is_change(Verb verb) {
    return verb == Verb::Add || verb == Verb::Del || verb == Verb::PcAdd ||
           verb == Verb::PcDel;
}

ostrel_api_acl_change_t change_of(const Command &c) {
    ostrel_api_acl_change_t change{};
    std::memcpy(change.addr1, c.ace.addr1, 6);
    std::memcpy(change.addr2, c.ace.addr2, 6);
    change.vlan_id = c.vlan;
    change.if_index = c.target;
    change.qualifier = c.ace.qual;
    change.add = c.verb == Verb::Add || c.verb == Verb::PcAdd;
    change.on_port_channel = c.verb == Verb::PcAdd || c.verb == Verb::PcDel;
    return change;
}

bool parse_scenario(std::string_view text, std::vector<Command> *out,
                    std::string *err) {
    std::vector<Command> commands;
    int line_no = 0;
    int open_block = 0;
    while (!text.empty()) {
        size_t nl = text.find('\n');
        std::string_view line = text.substr(0, nl);
        text = nl == std::string_view::npos ? std::string_view{}
                                            : text.substr(nl + 1);
        ++line_no;
        line = trim(line);
        if (line.empty())
            continue;
        Command cmd;
        cmd.line = line_no;
        cmd.text = std::string(line);
        std::vector<std::string_view> words = split_words(line);
        Cursor c(words);
        std::string problem = parse_words(words[0], c, &cmd)
                                  ? block_problem(cmd, &open_block)
                                  : c.error();
        if (!problem.empty()) {
            *err = std::to_string(line_no) + ": " + problem;
            out->clear();
            return false;
        }
        commands.push_back(std::move(cmd));
    }
    if (open_block != 0) {
        *err = std::to_string(open_block) + ": begin without a commit";
        out->clear();
        return false;
    }
    *out = std::move(commands);
    return true;
}

} // namespace ostrel::aclctl
