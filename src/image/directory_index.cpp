#include "image/directory_index.h"

#include "image/plan.h"

namespace tvx {

size_t NoCaseHash::operator()(std::string_view s) const {
    // FNV-1a over the upper-cased bytes.
    uint64_t h = 1469598103934665603ULL;
    for (char c : s) {
        h ^= static_cast<uint8_t>(AsciiUpper(c));
        h *= 1099511628211ULL;
    }
    return static_cast<size_t>(h);
}

bool NoCaseEqual::operator()(std::string_view a, std::string_view b) const {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
    }
    return true;
}

void Dir_LinkHead(FileNode* dir, FileNode* child) {
    if (!dir->index) dir->index = std::make_unique<DirectoryIndex>();
    // Nothing changes when an insertion runs out of memory.
    DirectoryIndex& index = *dir->index;
    auto named = index.byName.emplace(std::string_view(child->name), child);
    std::string_view iso(child->isoName, child->isoNameLength);
    bool isoAdded = false;
    try {
        if (!iso.empty()) isoAdded = index.isoNames.insert(iso).second;
        if (!child->udfName.empty()) index.udfNames.insert(std::string_view(child->udfName));
    } catch (...) {
        index.byName.erase(named);
        if (isoAdded) index.isoNames.erase(iso);
        throw;
    }
    child->parent = dir;
    child->nextSibling = dir->firstChild;
    dir->firstChild = child;
}

void Dir_Unlink(FileNode* child) {
    FileNode* dir = child->parent;
    if (!dir) return;
    FileNode** link = &dir->firstChild;
    while (*link && *link != child)
        link = &(*link)->nextSibling;
    if (*link) *link = child->nextSibling;
    child->nextSibling = nullptr;
    child->parent = nullptr;
    if (!dir->index) return;
    auto range = dir->index->byName.equal_range(std::string_view(child->name));
    for (auto it = range.first; it != range.second; ++it) {
        if (it->second == child) {
            dir->index->byName.erase(it);
            break;
        }
    }
    dir->index->isoNames.erase(std::string_view(child->isoName, child->isoNameLength));
    dir->index->udfNames.erase(std::string_view(child->udfName));
    // A freed ISO name may be the first free candidate again.
    dir->index->isoNextCandidate.clear();
}

FileNode* Dir_FindExact(const FileNode* dir, std::string_view name) {
    if (!dir->index) {
        for (FileNode* c = dir->firstChild; c; c = c->nextSibling) {
            if (c->name == name) return c;
        }
        return nullptr;
    }
    auto range = dir->index->byName.equal_range(name);
    for (auto it = range.first; it != range.second; ++it) {
        if (it->second->name == name) return it->second;
    }
    return nullptr;
}

void Dir_FindNoCase(const FileNode* dir, std::string_view name, std::vector<FileNode*>& out) {
    out.clear();
    NoCaseEqual equal;
    if (!dir->index) {
        for (FileNode* c = dir->firstChild; c; c = c->nextSibling) {
            if (equal(c->name, name)) out.push_back(c);
        }
        return;
    }
    auto range = dir->index->byName.equal_range(name);
    size_t count = static_cast<size_t>(std::distance(range.first, range.second));
    if (count == 1) {
        out.push_back(range.first->second);
    } else if (count > 1) {
        // Several spellings of one name: chain order decides, as a walk would.
        for (FileNode* c = dir->firstChild; c; c = c->nextSibling) {
            if (equal(c->name, name)) out.push_back(c);
        }
    }
}

bool Dir_IsoNameUsed(const FileNode* dir, std::string_view isoName) {
    if (dir->index) return dir->index->isoNames.count(isoName) > 0;
    for (const FileNode* c = dir->firstChild; c; c = c->nextSibling) {
        if (std::string_view(c->isoName, c->isoNameLength) == isoName) return true;
    }
    return false;
}

bool Dir_UdfNameUsed(const FileNode* dir, std::string_view udfName) {
    // An empty form is a plain ASCII name: only the same host name records like it, and that is
    // found by name. Every other form holds a byte no plain name has.
    if (udfName.empty()) return false;
    if (dir->index) return dir->index->udfNames.count(udfName) > 0;
    for (const FileNode* c = dir->firstChild; c; c = c->nextSibling) {
        if (c->udfName == udfName) return true;
    }
    return false;
}

void Dir_DropIndexes(FileNode* dir) {
    dir->index.reset();
    for (FileNode* c = dir->firstChild; c; c = c->nextSibling) {
        if (c->isDirectory()) Dir_DropIndexes(c);
    }
}

} // namespace tvx
