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
    FileNode* node;
};

// Every key of a directory goes into one buffer that is reused for the next directory, so
// sorting allocates nothing per entry.
struct SortScratch {
    std::string keys;
    std::vector<SortEntry> entries;
};

void appendKey(std::string& keys, const std::string& name) {
    size_t at = keys.size();
    keys.append(name);
    char* key = keys.data() + at;
    // The character before ".BUP" becomes 'X', which sorts after the title set's digits.
    size_t bup = name.find(".BUP");
    if (bup != std::string::npos && bup > 0) key[bup - 1] = 'X';
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

void sortChain(FileNode* dir, SortScratch& scratch) {
    scratch.keys.clear();
    scratch.entries.clear();
    for (FileNode* c = dir->firstChild; c; c = c->nextSibling) {
        scratch.entries.push_back({scratch.keys.size(), c->name.size(), c});
        appendKey(scratch.keys, c->name);
    }
    const std::string& keys = scratch.keys;
    // Names that compare equal keep a fixed order by their exact bytes.
    std::sort(scratch.entries.begin(), scratch.entries.end(),
              [&keys](const SortEntry& a, const SortEntry& b) {
                  int c = compareBytes(std::string_view(keys).substr(a.keyOffset, a.keyLength),
                                       std::string_view(keys).substr(b.keyOffset, b.keyLength));
                  if (c != 0) return c < 0;
                  return compareBytes(a.node->name, b.node->name) < 0;
              });
    FileNode** link = &dir->firstChild;
    for (SortEntry& entry : scratch.entries) {
        *link = entry.node;
        link = &entry.node->nextSibling;
    }
    *link = nullptr;
}

} // namespace

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
