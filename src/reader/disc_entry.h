// The entries of a walked disc: one DiscEntry per file or directory, collected from the
// descriptors of a walk into a list that starts with the root, and the path search over it.
//
// List rule: an entry is inserted directly after its parent, so the list is the tree in depth-
// first order with each directory's children newest first. "The first entry with block b" and
// "the first entry with path p" mean first in that order; the index below answers the first
// question in constant time and the path search builds each path once from its parent's.
#pragma once

#include "reader/udf_reader.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

struct TvxDiscFile;

namespace tvx {

inline constexpr size_t kMaxEntryExtents = 64;
// Paths are at most 259 characters (260 bytes with the terminator).
inline constexpr size_t kMaxDiscPath = 260;
// Decoded names take at most this many bytes, terminator included.
inline constexpr size_t kMaxEntryName = 256;

struct DiscExtent {
    uint32_t length = 0; // bytes, extent type removed
    uint32_t block = 0;  // partition-relative
};

// What the entry's File Entry says it is; unknown while none was read (deleted entries, further
// names of a shared File Entry, damaged entries).
enum class EntryKind : uint8_t { Unknown, File, Directory };

enum class EntryProblem : uint8_t {
    None,
    // The file's data needs more extents than an entry holds (or continues in another
    // allocation extent): it is refused rather than read short.
    TooManyExtents,
    DamagedEntry,     // its File Entry failed the checks: nothing of it is known
    DamagedDirectory, // its listing failed the checks: nothing below it is known
};

struct DiscEntry {
    DiscEntry* parent = nullptr;
    DiscEntry* next = nullptr;
    uint32_t extentCount = 0;
    std::vector<DiscExtent> extents; // extentCount of them, at most kMaxEntryExtents
    uint32_t icbBlock = 0;
    uint64_t size = 0; // a file's Information Length; 0 for a directory
    std::string name;  // empty for the root
    EntryKind kind = EntryKind::Unknown;
    EntryProblem problem = EntryProblem::None;
    // A file whose data cannot be read as its File Entry describes it.
    bool unreadable() const {
        return problem == EntryProblem::TooManyExtents || problem == EntryProblem::DamagedEntry;
    }
    // Position in the tree, for the list-order comparisons of the index.
    uint32_t depth = 0;
    uint64_t sequence = 0; // insertion count: later siblings come first in the list
};

// First entry of the list (after the root) for each File Entry block.
class DiscEntryIndex {
  public:
    DiscEntry* find(uint32_t block) const;
    void add(DiscEntry* entry);

  private:
    std::unordered_map<uint32_t, DiscEntry*> first_;
};

// True when a comes before b in the list.
bool DiscEntry_Precedes(const DiscEntry* a, const DiscEntry* b);

// The visitor that fills a DiscFile's list (context: the TvxDiscFile). Always returns 1.
int DiscEntry_Collect(void* discFile, const uint8_t* descriptor, size_t length,
                      const uint8_t* directoryEntry);
// The damage visitor that goes with it: marks the first entry of the block.
void DiscEntry_Damaged(void* discFile, UdfDamage damage, uint32_t block);
// The entry's path: "/" for the root, a trailing "/" for directories and for entries whose File
// Entry is unknown. False (and an empty text) when the path does not fit 259 characters.
bool DiscEntry_BuildPath(const DiscEntry* entry, char out[kMaxDiscPath]);

enum class PathLookup {
    Found,
    NoVolume,    // the walk failed
    NotFound,    // no entry has the path
    BelowDamage, // no entry has it, and it lies below a damaged entry or directory
};
// Walks the disc of the DiscFile's handle into its list and returns the first entry whose path
// equals the request ("\" read as "/"), or null. Besides its path, an empty file is found with a
// trailing "/" and an entry with a damaged File Entry without one (so that the damage shows).
DiscEntry* DiscEntry_FindPath(TvxDiscFile* file, const char* path, PathLookup* lookup = nullptr);

} // namespace tvx
