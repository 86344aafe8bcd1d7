// JSON form of a scenario command.
#include "command_json.h"

#include "json_writer.h"
#include "wire_decode.h"

namespace ostrel::aclctl {

namespace {

using tools::JsonObject;

std::string ace_json(const AceArgs &a) {
    return JsonObject()
        .add("addr1", tools::format_mac(a.addr1))
        .add("addr2", tools::format_mac(a.addr2))
        .add("qual", a.qual)
        .str();
}

std::string args_json(const Command &c) {
    JsonObject args;
    switch (c.verb) {
    case Verb::Add:
    case Verb::Del:
    case Verb::PcAdd:
    case Verb::PcDel: {
        bool pc = c.verb == Verb::PcAdd || c.verb == Verb::PcDel;
        args.add("vlan", c.vlan).add(pc ? "pc" : "intf", c.target);
        args.raw("ace", ace_json(c.ace));
        args.add("add", c.verb == Verb::Add || c.verb == Verb::PcAdd);
        break;
    }
    case Verb::PcUpdate:
        args.add("intf", c.target)
            .add("override", c.override_if)
            .add("install", c.install);
        break;
    case Verb::PlcyUpdate: {
        std::vector<std::string> aces;
        for (const AceArgs &a : c.aces)
            aces.push_back(ace_json(a));
        args.add("op", c.op).add("vlan", c.vlan).add("intf", c.target);
        args.raw("aces", tools::json_array(aces));
        break;
    }
    case Verb::PcMembers: {
        std::vector<std::string> members;
        for (uint32_t m : c.members)
            members.push_back(std::to_string(m));
        args.add("pc", c.target).raw("members", tools::json_array(members));
        break;
    }
    case Verb::IfType:
        args.add("intf", c.target).add("type", c.if_type);
        break;
    case Verb::Resync:
        if (!c.all_vlans)
            args.add("vlan", c.vlan);
        break;
    case Verb::Drain:
    case Verb::Show:
    case Verb::Begin:
    case Verb::Commit:
        break;
    }
    return args.str();
}

} // namespace

const char *call_name(Verb verb) {
    switch (verb) {
    case Verb::Add:
    case Verb::Del:
        return "ostrel_api_program_acl";
    case Verb::PcAdd:
    case Verb::PcDel:
        return "ostrel_api_pc_program_acl";
    case Verb::PcUpdate:
        return "ostrel_api_pc_program_acl_update";
    case Verb::PlcyUpdate:
        return "ostrel_api_send_plcy_update";
    case Verb::Drain:
        return "brisel_api_yarl_gobble";
    case Verb::Show:
        return "table query";
    case Verb::PcMembers:
        return "port-channel service";
    case Verb::IfType:
        return "interface service";
    case Verb::Begin:
        return "none (opens a bulk call)";
    case Verb::Commit:
        return "ostrel_api_program_acl_bulk";
    case Verb::Resync:
        return "ostrel_api_resync";
    }
    return "";
}

std::string command_json(const Command &c) {
    return JsonObject()
        .add("event", "command")
        .add("line", c.line)
        .add("text", c.text)
        .add("call", c.in_block ? "ostrel_api_program_acl_bulk (queued)"
                                : call_name(c.verb))
        .raw("args", args_json(c))
        .str();
}

} // namespace ostrel::aclctl
