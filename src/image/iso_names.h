// ISO 9660 identifiers of the tree's entries: an 8-byte base with a "~N" suffix when needed for
// uniqueness within the directory, and for files the extension and ";1".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tvx {

struct FileNode;

// The identifier candidate number `index` for a source name.
std::string Iso_NameCandidate(std::string_view name, bool directoryForm, uint32_t index);
// Gives node (not yet linked) the first candidate that no entry of dir uses. False only when
// the suffixes run out.
bool Iso_MakeName(FileNode* dir, FileNode* node, bool directoryForm);

} // namespace tvx
