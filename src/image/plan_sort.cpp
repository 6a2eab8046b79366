// DVD-Video entry order: case-insensitive name order in which each title set's backup file
// (".BUP") follows all the other files of its title set.
#include "image/plan.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

namespace tvx {

namespace {

std::string sortKey(const std::string& name) {
    std::string key = name;
    // The character before ".BUP" becomes 'X', which sorts after the title set's digits.
    size_t bup = key.find(".BUP");
    if (bup != std::string::npos && bup > 0) key[bup - 1] = 'X';
    for (char& c : key) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    }
    return key;
}

bool lessBytes(const std::string& a, const std::string& b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return static_cast<uint8_t>(x) < static_cast<uint8_t>(y);
    });
}

void sortChain(FileNode* dir, std::vector<std::pair<std::string, FileNode*>>& scratch) {
    scratch.clear();
    for (FileNode* c = dir->firstChild; c; c = c->nextSibling) {
        scratch.emplace_back(sortKey(c->name), c);
    }
    // Names that compare equal keep a fixed order by their exact bytes.
    std::sort(scratch.begin(), scratch.end(), [](const auto& a, const auto& b) {
        if (a.first != b.first) return lessBytes(a.first, b.first);
        return lessBytes(a.second->name, b.second->name);
    });
    FileNode** link = &dir->firstChild;
    for (auto& entry : scratch) {
        *link = entry.second;
        link = &entry.second->nextSibling;
    }
    *link = nullptr;
}

} // namespace

void Plan_SortTree(VolumePlan* plan) {
    std::vector<std::pair<std::string, FileNode*>> scratch;
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
