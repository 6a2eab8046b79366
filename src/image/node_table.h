// An open-addressing hash table of a directory's entries, keyed by one of their names. The table
// is one array of slots, each holding an entry and its key's hash, so adding an entry allocates
// nothing but an occasional growth, and a probe looks at an entry only when the hashes agree.
// Several entries may share a key.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

namespace tvx {

struct FileNode;

class NodeTable {
  public:
    using KeyOf = std::string_view (*)(const FileNode*);
    using HashOf = size_t (*)(std::string_view);
    using Equal = bool (*)(std::string_view, std::string_view);

    NodeTable(KeyOf key, HashOf hash, Equal equal) : key_(key), hash_(hash), equal_(equal) {}

    // May throw std::bad_alloc (when the table grows), and then changes nothing.
    void insert(FileNode* node);
    // Removes this entry (found by its key); nothing when it is not in the table.
    void erase(const FileNode* node);
    bool contains(std::string_view key) const;
    // Calls visit(entry) for every entry whose key equals key, in no particular order.
    template <class Visit> void forEach(std::string_view key, Visit visit) const {
        if (slots_.empty()) return;
        size_t hash = hash_(key);
        size_t mask = slots_.size() - 1;
        for (size_t i = hash & mask;; i = (i + 1) & mask) {
            const Slot& s = slots_[i];
            if (!s.node && s.hash != kRemoved) return;
            if (s.node && s.hash == hash && equal_(key_(s.node), key)) visit(s.node);
        }
    }

  private:
    struct Slot {
        size_t hash = 0; // of the entry's key; kRemoved in a slot whose entry was erased
        FileNode* node = nullptr;
    };
    static constexpr size_t kRemoved = 1;

    void place(std::vector<Slot>& slots, size_t hash, FileNode* node);

    KeyOf key_;
    HashOf hash_;
    Equal equal_;
    std::vector<Slot> slots_; // a power of two in size, at most half of it in use
    size_t used_ = 0;         // entries and erased slots
    size_t entries_ = 0;
};

} // namespace tvx
