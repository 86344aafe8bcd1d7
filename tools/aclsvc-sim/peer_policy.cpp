// The daemon's allowed peers.
#include "peer_policy.h"

#include <algorithm>
#include <unistd.h>

#include "number_parse.h"

namespace ostrel::aclsvc {

void PeerPolicy::default_to_own_uid_and_root() {
    if (!uids.empty() || !gids.empty())
        return;
    uids = {static_cast<uint32_t>(::getuid()), 0};
}

bool PeerPolicy::allows(const ucred &peer) const {
    auto has = [](const std::vector<uint32_t> &ids, uint32_t id) {
        return std::find(ids.begin(), ids.end(), id) != ids.end();
    };
    return has(uids, peer.uid) || has(gids, peer.gid);
}

bool parse_id_list(std::string_view text, std::vector<uint32_t> *out) {
    for (;;) {
        size_t comma = text.find(',');
        uint32_t id = 0;
        if (!tools::parse_number(text.substr(0, comma), 0xfffffffeu, &id))
            return false;
        out->push_back(id);
        if (comma == std::string_view::npos)
            return true;
        text.remove_prefix(comma + 1);
    }
}

} // namespace ostrel::aclsvc
