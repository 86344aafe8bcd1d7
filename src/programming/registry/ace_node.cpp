// AceNode: allocation and comparison, shared by the VLAN registry and the
// port-channel registry, which has no ACE type of its own.
#include <cstring>

#include "programming/programming_internal.h"
#include "programming/registry/registry_list.h"

// A new zeroed AceNode, or null when the allocation fails.
extern "C" OSTREL_API AceNode *brisel_ace_malloc(void) {
    return ostrel::registry::allocate<AceNode>();
}

// A new unlinked AceNode holding copies of the six bytes at addr1 and at
// addr2 and the low 16 bits of qualifier; null when the allocation fails.
// addr1 and addr2 must point to six readable bytes (the entry points reject
// null ones before calling).
extern "C" OSTREL_API AceNode *brisel_ace_alloc(const uint8_t *addr1,
                                                const uint8_t *addr2,
                                                uint32_t qualifier) {
    AceNode *ace = brisel_ace_malloc();
    if (ace == nullptr) {
        return nullptr;
    }
    ace->key = ostrel::make_ace_key(addr1, addr2, qualifier);
    return ace;
}

// Equality of two ACE identities: 0 when the first addresses, the second
// addresses and the qualifiers are all equal, else -1 (never positive; no
// order). ace is an AceNode or a bare AceKey: an AceNode starts with its
// key. The two bytes after the qualifier are not compared.
extern "C" OSTREL_API int32_t brisel_ace_cmp(const void *ace,
                                             const AceKey *key) {
    const auto *a = static_cast<const AceKey *>(ace);
    if (std::memcmp(a->addr1, key->addr1, sizeof a->addr1) != 0) {
        return -1;
    }
    if (std::memcmp(a->addr2, key->addr2, sizeof a->addr2) != 0) {
        return -1;
    }
    return a->qualifier == key->qualifier ? 0 : -1;
}
