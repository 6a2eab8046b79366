// Per-directory indexes: entries by name (ASCII case-insensitive, as lookups compare) and the ISO
// and UDF names in use. They answer exactly what a walk of the directory's chain would answer,
// without the walk, so filling and looking up stay linear in the number of entries. A directory
// without an index (none made yet, or dropped once the plan is laid out) is walked instead.
#pragma once

#include "image/node_table.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tvx {

struct FileNode;

struct NoCaseHash {
    size_t operator()(std::string_view s) const;
};
struct NoCaseEqual {
    bool operator()(std::string_view a, std::string_view b) const;
};

struct DirectoryIndex {
    DirectoryIndex();
    // Entries by their own `name`, `isoName` and `udfName`, which never change once linked.
    NodeTable byName; // ASCII letters in either case
    NodeTable isoNames;
    NodeTable udfNames; // only the entries that have a recorded form of their own
    // For a band of ISO name candidates (same prefix, extension, form and suffix digits), every
    // index below the stored one is known to be taken.
    std::unordered_map<std::string, uint32_t> isoNextCandidate;
    // For names of the same first candidate (and form), every suffix below the stored one is
    // known to be taken.
    std::unordered_map<std::string, uint32_t> isoFirstFree;
};

// ASCII upper-casing of one byte; other bytes stay.
inline char AsciiUpper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
}

// Links child at the head of dir's chain and indexes it. May throw std::bad_alloc, and then
// changes nothing.
void Dir_LinkHead(FileNode* dir, FileNode* child);
// Unlinks child from its parent's chain and index (it stays allocated).
void Dir_Unlink(FileNode* child);
// The entry whose name equals name byte for byte, or null.
FileNode* Dir_FindExact(const FileNode* dir, std::string_view name);
// Entries whose name equals name ignoring ASCII case, in chain order.
void Dir_FindNoCase(const FileNode* dir, std::string_view name, std::vector<FileNode*>& out);
bool Dir_IsoNameUsed(const FileNode* dir, std::string_view isoName);
// True when an entry of dir has this recorded UDF name (compressed d-characters).
bool Dir_UdfNameUsed(const FileNode* dir, std::string_view udfName);
// Releases the indexes of dir and every directory below it; lookups then walk the chains.
void Dir_DropIndexes(FileNode* dir);

} // namespace tvx
