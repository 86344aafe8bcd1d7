// Who may connect to the daemon: a peer (its SO_PEERCRED credentials) is
// allowed when its uid is in the allowed uids or its gid in the allowed
// gids. Without --allow-uid and --allow-gid, the daemon's own uid and root.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <vector>

namespace ostrel::aclsvc {

struct PeerPolicy {
    std::vector<uint32_t> uids;
    std::vector<uint32_t> gids;

    // The default when neither list was given.
    void default_to_own_uid_and_root();
    bool allows(const ucred &peer) const;
};

// "1000,1001" into *out (appended); false on an empty or bad item.
bool parse_id_list(std::string_view text, std::vector<uint32_t> *out);

} // namespace ostrel::aclsvc
