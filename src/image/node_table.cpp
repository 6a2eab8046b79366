#include "image/node_table.h"

namespace tvx {

void NodeTable::place(std::vector<Slot>& slots, size_t hash, FileNode* node) {
    size_t mask = slots.size() - 1;
    size_t i = hash & mask;
    while (slots[i].node || slots[i].hash == kRemoved)
        i = (i + 1) & mask;
    slots[i].hash = hash;
    slots[i].node = node;
}

void NodeTable::insert(FileNode* node) {
    size_t hash = hash_(key_(node));
    if ((used_ + 1) * 2 > slots_.size()) {
        // Grown (or, with many erased slots, only cleaned) into a new array that is at most
        // half full: twice the old one as a table fills, so it holds 2-4 slots per entry.
        size_t size = 16;
        while ((entries_ + 1) * 2 >= size)
            size *= 2;
        std::vector<Slot> slots(size);
        for (const Slot& s : slots_) {
            if (s.node) place(slots, s.hash, s.node);
        }
        slots_.swap(slots);
        used_ = entries_;
    }
    place(slots_, hash, node);
    ++used_;
    ++entries_;
}

void NodeTable::erase(const FileNode* node) {
    if (slots_.empty()) return;
    size_t hash = hash_(key_(node));
    size_t mask = slots_.size() - 1;
    for (size_t i = hash & mask;; i = (i + 1) & mask) {
        Slot& s = slots_[i];
        if (!s.node && s.hash != kRemoved) return;
        if (s.node == node) {
            s.node = nullptr;
            s.hash = kRemoved;
            --entries_;
            return;
        }
    }
}

bool NodeTable::contains(std::string_view key) const {
    bool found = false;
    forEach(key, [&found](FileNode*) { found = true; });
    return found;
}

} // namespace tvx
