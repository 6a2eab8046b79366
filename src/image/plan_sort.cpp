// DVD-Video entry order: case-insensitive name order in which each title set's backup file
// (".BUP") follows all the other files of its title set.
#include "image/plan.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace tvx {

namespace {

struct SortEntry {
    size_t keyOffset; // into the shared key buffer
    size_t keyLength;
    std::string_view name;
    size_t index; // the entry's place before sorting
};

// Every key of a directory goes into one buffer that is reused for the next directory, so
// sorting allocates nothing per entry.
struct SortScratch {
    std::string keys;
    std::vector<SortEntry> entries;
    std::vector<FileNode*> nodes;
};

void appendKey(std::string& keys, std::string_view name) {
    size_t at = keys.size();
    keys.append(name);
    char* key = keys.data() + at;
    // The character before ".BUP" becomes 'X', which sorts after the title set's digits.
    size_t bup = name.find(".BUP");
    if (bup != std::string_view::npos && bup > 0) key[bup - 1] = 'X';
    for (size_t i = 0; i < name.size(); ++i) {
        if (key[i] >= 'A' && key[i] <= 'Z') key[i] = static_cast<char>(key[i] + 32);
    }
}

// Byte order of unsigned bytes, a prefix first (memcmp compares unsigned bytes).
int compareBytes(std::string_view a, std::string_view b) {
    int c = std::memcmp(a.data(), b.data(), std::min(a.size(), b.size()));
    if (c != 0) return c;
    return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

void addEntry(SortScratch& scratch, std::string_view name) {
    scratch.entries.push_back({scratch.keys.size(), name.size(), name, scratch.entries.size()});
    appendKey(scratch.keys, name);
}

void sortEntries(SortScratch& scratch) {
    if (scratch.entries.empty()) return;
    std::string_view keys = scratch.keys;
    // Bytes that begin every key decide nothing: comparisons start after them (long names of
    // one folder often share most of their bytes).
    std::string_view first =
        keys.substr(scratch.entries[0].keyOffset, scratch.entries[0].keyLength);
    size_t common = first.size();
    for (const SortEntry& e : scratch.entries) {
        std::string_view key = keys.substr(e.keyOffset, e.keyLength);
        size_t n = 0;
        while (n < common && n < key.size() && key[n] == first[n])
            ++n;
        common = n;
    }
    // Names that compare equal keep a fixed order by their exact bytes.
    std::sort(scratch.entries.begin(), scratch.entries.end(),
              [keys, common](const SortEntry& a, const SortEntry& b) {
                  int c = compareBytes(keys.substr(a.keyOffset + common, a.keyLength - common),
                                       keys.substr(b.keyOffset + common, b.keyLength - common));
                  if (c != 0) return c < 0;
                  return compareBytes(a.name, b.name) < 0;
              });
}

void sortChain(FileNode* dir, SortScratch& scratch) {
    scratch.keys.clear();
    scratch.entries.clear();
    scratch.nodes.clear();
    for (FileNode* c = dir->firstChild; c; c = c->nextSibling) {
        addEntry(scratch, c->name);
        scratch.nodes.push_back(c);
    }
    sortEntries(scratch);
    FileNode** link = &dir->firstChild;
    for (const SortEntry& entry : scratch.entries) {
        FileNode* node = scratch.nodes[entry.index];
        *link = node;
        link = &node->nextSibling;
    }
    *link = nullptr;
}

} // namespace

void Plan_EntryOrder(const std::vector<std::string_view>& names, std::vector<size_t>& order) {
    SortScratch scratch;
    scratch.entries.reserve(names.size());
    for (std::string_view name : names)
        addEntry(scratch, name);
    sortEntries(scratch);
    order.clear();
    order.reserve(names.size());
    for (const SortEntry& entry : scratch.entries)
        order.push_back(entry.index);
}

void Plan_SortTree(VolumePlan* plan) {
    SortScratch scratch;
    std::vector<FileNode*> pending{&plan->root};
    while (!pending.empty()) {
        FileNode* dir = pending.back();
        pending.pop_back();
        sortChain(dir, scratch);
        for (FileNode* c = dir->firstChild; c; c = c->nextSibling) {
            if (c->isDirectory()) pending.push_back(c);
        }
    }
}

} // namespace tvx
