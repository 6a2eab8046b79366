// One walk of a source folder before a job: the sizes of its files, and the entries a burn
// leaves out, named before the burn starts so that nobody learns from a finished disc that a
// file is missing.
#pragma once

#include "commands.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tvxcli {

// An entry below a source folder that the library does not record, and what it is ("a named
// pipe", "a symbolic link that leads nowhere", ...).
struct LeftOutEntry {
    std::string path;
    const char* kind;
};

// Sees a regular file of the walk (links followed) with its size.
using WalkedFile = std::function<void(const std::string& path, uint64_t size)>;

// Walks root's tree once, by directory descriptor and with the entries' own types where the
// file system gives them: no lookup by full path, and a file is looked at only when file is
// set. Links are followed as the library follows them, but never back into a folder that holds
// them; a folder that cannot be read is skipped (the library names it).
void WalkSourceFolder(const std::string& root, const WalkedFile& file,
                      std::vector<LeftOutEntry>& leftOut);

// "left out: PATH (KIND)" on standard error for each entry.
void NameLeftOut(const std::vector<LeftOutEntry>& leftOut);

} // namespace tvxcli
