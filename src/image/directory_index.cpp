#include "image/directory_index.h"

#include "image/plan.h"

#include <functional>

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

namespace {

std::string_view nameOf(const FileNode* n) {
    return n->name;
}
std::string_view isoNameOf(const FileNode* n) {
    return {n->isoName, n->isoNameLength};
}
std::string_view udfNameOf(const FileNode* n) {
    return n->udfName;
}
size_t noCaseHash(std::string_view s) {
    return NoCaseHash()(s);
}
bool noCaseEqual(std::string_view a, std::string_view b) {
    return NoCaseEqual()(a, b);
}
size_t exactHash(std::string_view s) {
    return std::hash<std::string_view>()(s);
}
bool exactEqual(std::string_view a, std::string_view b) {
    return a == b;
}

// The first of several entries of dir that match, in chain order, as a walk would find it.
FileNode* firstInChain(const FileNode* dir, std::string_view name, bool exact) {
    NoCaseEqual equal;
    for (FileNode* c = dir->firstChild; c; c = c->nextSibling) {
        if (exact ? c->name == name : equal(c->name, name)) return c;
    }
    return nullptr;
}

} // namespace

DirectoryIndex::DirectoryIndex()
    : byName(nameOf, noCaseHash, noCaseEqual), isoNames(isoNameOf, exactHash, exactEqual),
      udfNames(udfNameOf, exactHash, exactEqual) {}

void Dir_LinkHead(FileNode* dir, FileNode* child) {
    if (!dir->index) dir->index = std::make_unique<DirectoryIndex>();
    // Nothing changes when an insertion runs out of memory.
    DirectoryIndex& index = *dir->index;
    index.byName.insert(child);
    bool isoAdded = false;
    try {
        if (child->isoNameLength > 0) {
            index.isoNames.insert(child);
            isoAdded = true;
        }
        if (!child->udfName.empty()) index.udfNames.insert(child);
    } catch (...) {
        index.byName.erase(child);
        if (isoAdded) index.isoNames.erase(child);
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
    dir->index->byName.erase(child);
    dir->index->isoNames.erase(child);
    dir->index->udfNames.erase(child);
    // A freed ISO name may be the first free candidate again.
    dir->index->isoNextCandidate.clear();
    dir->index->isoFirstFree.clear();
}

FileNode* Dir_FindExact(const FileNode* dir, std::string_view name) {
    if (!dir->index) return firstInChain(dir, name, true);
    FileNode* found = nullptr;
    bool several = false;
    dir->index->byName.forEach(name, [&](FileNode* n) {
        if (n->name != name) return;
        several = several || found;
        found = n;
    });
    return several ? firstInChain(dir, name, true) : found;
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
    FileNode* found = nullptr;
    size_t count = 0;
    dir->index->byName.forEach(name, [&](FileNode* n) {
        found = n;
        ++count;
    });
    if (count == 1) {
        out.push_back(found);
    } else if (count > 1) {
        // Several spellings of one name: chain order decides, as a walk would.
        for (FileNode* c = dir->firstChild; c; c = c->nextSibling) {
            if (equal(c->name, name)) out.push_back(c);
        }
    }
}

bool Dir_IsoNameUsed(const FileNode* dir, std::string_view isoName) {
    if (dir->index) return dir->index->isoNames.contains(isoName);
    for (const FileNode* c = dir->firstChild; c; c = c->nextSibling) {
        if (std::string_view(c->isoName, c->isoNameLength) == isoName) return true;
    }
    return false;
}

bool Dir_UdfNameUsed(const FileNode* dir, std::string_view udfName) {
    // An empty form is a plain ASCII name: only the same host name records like it, and that is
    // found by name. Every other form holds a byte no plain name has.
    if (udfName.empty()) return false;
    if (dir->index) return dir->index->udfNames.contains(udfName);
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
