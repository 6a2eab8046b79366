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
    // The key's first eight bytes, big-endian, zeros after a shorter key: most comparisons end
    // here, in the order the whole keys give.
    uint64_t head;
    size_t keyOffset; // into the shared key buffer
    uint32_t keyLength;
    uint32_t index; // the entry's place before sorting
};

// Every key of a directory goes into one buffer that is reused for the next directory, so
// sorting allocates nothing per entry. Bytes that begin every key of the directory decide
// nothing and are left out (long names of one folder often share most of their bytes).
struct SortScratch {
    std::string keys;
    std::string key; // one name's whole key
    std::vector<SortEntry> entries;
    std::vector<FileNode*> nodes;
};

void makeKey(std::string& key, std::string_view name) {
    key.assign(name);
    // The character before ".BUP" becomes 'X', which sorts after the title set's digits.
    size_t bup = name.find(".BUP");
    if (bup != std::string_view::npos && bup > 0) key[bup - 1] = 'X';
    for (char& c : key) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    }
}

// Byte order of unsigned bytes, a prefix first (memcmp compares unsigned bytes).
int compareBytes(std::string_view a, std::string_view b) {
    int c = std::memcmp(a.data(), b.data(), std::min(a.size(), b.size()));
    if (c != 0) return c;
    return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

// Sorts the indexes 0 .. count - 1 of names (nameAt(i) is the i-th) into scratch.entries.
template <class NameAt> void sortNames(SortScratch& scratch, size_t count, NameAt nameAt) {
    scratch.keys.clear();
    scratch.entries.clear();
    if (count == 0) return;
    // The bytes every key begins with, and the room the rest of the keys take.
    std::string firstKey;
    makeKey(firstKey, nameAt(0));
    size_t common = firstKey.size();
    size_t bytes = 0;
    for (size_t i = 0; i < count; ++i) {
        makeKey(scratch.key, nameAt(i));
        size_t n = 0;
        while (n < common && n < scratch.key.size() && scratch.key[n] == firstKey[n])
            ++n;
        common = n;
        bytes += scratch.key.size();
    }
    scratch.keys.reserve(bytes - count * common);
    scratch.entries.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        makeKey(scratch.key, nameAt(i));
        const size_t length = scratch.key.size() - common;
        uint64_t first = 0;
        for (size_t k = 0; k < 8; ++k) {
            const uint8_t byte = k < length ? static_cast<uint8_t>(scratch.key[common + k]) : 0;
            first = first << 8 | byte;
        }
        scratch.entries.push_back({first, scratch.keys.size(), static_cast<uint32_t>(length),
                                   static_cast<uint32_t>(i)});
        scratch.keys.append(scratch.key, common);
    }
    std::string_view keys = scratch.keys;
    // Names that compare equal keep a fixed order by their exact bytes.
    std::sort(scratch.entries.begin(), scratch.entries.end(),
              [keys, &nameAt](const SortEntry& a, const SortEntry& b) {
                  if (a.head != b.head) return a.head < b.head;
                  int c = compareBytes(keys.substr(a.keyOffset, a.keyLength),
                                       keys.substr(b.keyOffset, b.keyLength));
                  if (c != 0) return c < 0;
                  return compareBytes(nameAt(a.index), nameAt(b.index)) < 0;
              });
}

void sortChain(FileNode* dir, SortScratch& scratch) {
    scratch.nodes.clear();
    for (FileNode* c = dir->firstChild; c; c = c->nextSibling)
        scratch.nodes.push_back(c);
    const std::vector<FileNode*>& nodes = scratch.nodes;
    sortNames(scratch, nodes.size(),
              [&nodes](size_t i) { return std::string_view(nodes[i]->name); });
    FileNode** link = &dir->firstChild;
    for (const SortEntry& entry : scratch.entries) {
        FileNode* node = nodes[entry.index];
        *link = node;
        link = &node->nextSibling;
    }
    *link = nullptr;
}

} // namespace

void Plan_EntryOrder(const std::vector<std::string_view>& names, std::vector<uint32_t>& order) {
    SortScratch scratch;
    sortNames(scratch, names.size(), [&names](size_t i) { return names[i]; });
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
