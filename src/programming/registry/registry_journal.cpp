#include "programming/registry/registry_journal.h"

namespace ostrel {

void RegistryJournal::undo() {
    while (entries_.size() != 0) {
        const Entry entry = entries_.back();
        entries_.pop();
        entry.undo(entry);
    }
}

void RegistryJournal::commit() {
    for (const Entry &entry : entries_) {
        if (entry.commit != nullptr) {
            entry.commit(entry);
        }
    }
    entries_.clear();
}

} // namespace ostrel
