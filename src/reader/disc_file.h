// A file opened on a disc: the result of one complete walk (every entry of the disc), the entry
// the path named, a read position, and the mapped windows opened on it.
#pragma once

#include "reader/disc_entry.h"
#include "reader/map_window.h"
#include "transport/rec_handle.h"

#include <cstdint>

struct TvxDiscFile {
    tvx::DiscEntry rootEntry; // head of the list of every entry of the disc
    uint32_t partitionStart = 0;
    uint32_t partitionLength = 0; // blocks; no extent read reaches beyond it
    tvx::MapWindowList windows;
    tvx::DiscEntry* openEntry = nullptr;
    tvx::RecHandle* recHandle = nullptr;
    uint64_t position = 0;
    tvx::DiscEntryIndex index;
    uint64_t insertions = 0;

    TvxDiscFile() { windows.owner = this; }
    ~TvxDiscFile();
    TvxDiscFile(const TvxDiscFile&) = delete;
    TvxDiscFile& operator=(const TvxDiscFile&) = delete;
};

namespace tvx {

using DiscFile = TvxDiscFile;

// One piece of a file range: byteCount bytes starting skip bytes into sector.
struct DiscPiece {
    uint32_t byteCount = 0;
    uint32_t sector = 0;
    uint32_t skip = 0; // 0 unless an extent of the file ends inside a sector
};

// Maps [offset, offset + count) of the open entry onto at most one piece per extent; the range
// is cut at the end of the last extent, and before any extent that leaves the partition.
// Returns the number of pieces.
uint32_t DiscFile_MapRange(const DiscFile* file, uint64_t offset, uint32_t count,
                           DiscPiece pieces[kMaxEntryExtents]);
// True when every extent of the entry lies inside the file's partition.
bool DiscFile_ExtentsInPartition(const DiscFile* file, const DiscEntry* entry);
// Commands of at most 32 sectors; the buffer holds byteCount rounded up to whole sectors.
// Return the bytes transferred before the first failed command.
uint32_t DiscFile_ReadSectors(RecHandle* handle, void* buffer, uint32_t sector, uint32_t byteCount);
uint32_t DiscFile_WriteSectors(RecHandle* handle, const void* buffer, uint32_t sector,
                               uint32_t byteCount);

} // namespace tvx
