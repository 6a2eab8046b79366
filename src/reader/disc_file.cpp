#include "reader/disc_file.h"

#include "mmc/commands.h"
#include "reader/open_failure.h"
#include "reader/udf_reader.h"
#include "transport/job_lock.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <optional>

using tvx::DiscEntry;
using tvx::DiscFile;
using tvx::DiscPiece;
using tvx::kSectorSize;

TvxDiscFile::~TvxDiscFile() {
    DiscEntry* e = rootEntry.next;
    while (e) {
        DiscEntry* next = e->next;
        delete e;
        e = next;
    }
    rootEntry.next = nullptr;
    tvx::MapWindow_FreeAll(windows);
}

namespace tvx {

namespace {

constexpr uint32_t kMaxCommandSectors = 32;

template <typename Command, typename Buffer>
uint32_t transferSectors(Command command, RecHandle* handle, Buffer* buffer, uint32_t sector,
                         uint32_t byteCount) {
    uint32_t sectors =
        static_cast<uint32_t>((static_cast<uint64_t>(byteCount) + kSectorSize - 1) / kSectorSize);
    uint32_t left = byteCount;
    uint32_t done = 0;
    while (sectors > 0) {
        const uint32_t n = std::min(kMaxCommandSectors, sectors);
        if (!command(handle, buffer + done, n * kSectorSize, sector, static_cast<uint16_t>(n))) {
            break;
        }
        const uint32_t step = std::min(n * kSectorSize, left);
        done += step;
        left -= step;
        sector += n;
        sectors -= n;
    }
    return done;
}

// Reads one piece of a file into out; returns the bytes delivered before any failure. Whole
// sectors go straight into out; only a partial first or last sector passes through a bounce.
uint32_t readPiece(RecHandle* handle, const DiscPiece& piece, uint8_t* out) {
    uint8_t bounce[kSectorSize];
    uint32_t sector = piece.sector;
    uint32_t left = piece.byteCount;
    uint32_t done = 0;
    if (piece.skip != 0) {
        if (!Mmc_Read10(handle, bounce, kSectorSize, sector, 1)) return 0;
        const uint32_t n = std::min(kSectorSize - piece.skip, left);
        std::memcpy(out, bounce + piece.skip, n);
        done += n;
        left -= n;
        ++sector;
    }
    const uint32_t whole = left / kSectorSize * kSectorSize;
    if (whole > 0) {
        const uint32_t got = DiscFile_ReadSectors(handle, out + done, sector, whole);
        done += got;
        if (got < whole) return done;
        left -= whole;
        sector += whole / kSectorSize;
    }
    if (left > 0) {
        if (!Mmc_Read10(handle, bounce, kSectorSize, sector, 1)) return done;
        std::memcpy(out + done, bounce, left);
        done += left;
    }
    return done;
}

} // namespace

uint32_t DiscFile_ReadSectors(RecHandle* handle, void* buffer, uint32_t sector,
                              uint32_t byteCount) {
    return transferSectors(Mmc_Read10, handle, static_cast<uint8_t*>(buffer), sector, byteCount);
}

uint32_t DiscFile_WriteSectors(RecHandle* handle, const void* buffer, uint32_t sector,
                               uint32_t byteCount) {
    return transferSectors(Mmc_Write10, handle, static_cast<const uint8_t*>(buffer), sector,
                           byteCount);
}

namespace {

bool inPartition(const DiscFile* file, const DiscExtent& extent) {
    const uint64_t blocks = (static_cast<uint64_t>(extent.length) + kSectorSize - 1) / kSectorSize;
    return extent.length == 0 || extent.block + blocks <= file->partitionLength;
}

} // namespace

bool DiscFile_ExtentsInPartition(const DiscFile* file, const DiscEntry* entry) {
    for (const DiscExtent& extent : entry->extents) {
        if (!inPartition(file, extent)) return false;
    }
    return true;
}

uint32_t DiscFile_MapRange(const DiscFile* file, uint64_t offset, uint32_t count,
                           DiscPiece pieces[kMaxEntryExtents]) {
    const DiscEntry* entry = file->openEntry;
    if (!entry) return 0;
    uint32_t made = 0;
    uint64_t position = offset;
    uint64_t wanted = count;
    uint64_t extentStart = 0;
    for (const DiscExtent& extent : entry->extents) {
        if (wanted == 0 || made == kMaxEntryExtents) break;
        // Nothing outside the partition is read as the file's data. The partition's sectors
        // all have 32-bit addresses, so no sector below wraps.
        if (!inPartition(file, extent)) break;
        const uint64_t extentEnd = extentStart + extent.length;
        if (position >= extentStart && position < extentEnd) {
            const uint64_t into = position - extentStart;
            const uint64_t length = std::min(extentEnd - position, wanted);
            DiscPiece& piece = pieces[made++];
            piece.sector = static_cast<uint32_t>(static_cast<uint64_t>(file->partitionStart) +
                                                 extent.block + into / kSectorSize);
            piece.skip = static_cast<uint32_t>(into % kSectorSize);
            piece.byteCount = static_cast<uint32_t>(length);
            position += length;
            wanted -= length;
        }
        extentStart = extentEnd;
    }
    return made;
}

} // namespace tvx

extern "C" {

TVX_DiscFile TVX_CALL TVX_OpenFile(TVX_RecHandle handle, const char* path) {
    std::unique_ptr<DiscFile> file(new (std::nothrow) DiscFile);
    if (!file) return nullptr;
    file->recHandle = handle;
    tvx::PathLookup lookup = tvx::PathLookup::NotFound;
    DiscEntry* entry = tvx::DiscEntry_FindPath(file.get(), path, &lookup);
    // An entry whose data cannot be described is refused rather than read short or from
    // elsewhere; every refusal says why in the LastError record.
    std::optional<tvx::OpenFailure> failure;
    if (!entry) {
        failure = lookup == tvx::PathLookup::NoVolume      ? tvx::OpenFailure::NoVolume
                  : lookup == tvx::PathLookup::BelowDamage ? tvx::OpenFailure::BelowDamage
                                                           : tvx::OpenFailure::NotFound;
    } else if (entry->problem == tvx::EntryProblem::DamagedEntry) {
        failure = tvx::OpenFailure::DamagedEntry;
    } else if (entry->problem == tvx::EntryProblem::TooManyExtents) {
        failure = tvx::OpenFailure::TooManyExtents;
    } else if (!tvx::DiscFile_ExtentsInPartition(file.get(), entry)) {
        failure = tvx::OpenFailure::OutsidePartition;
    }
    if (failure) {
        // While another job writes to the disc (a window written back, a burn) its reads see a
        // volume in the middle of a change: that, not the disc, is the reason to report. The
        // lock is only looked at: a job starting now must not find it taken by a reader.
        if (tvx::JobLock_HeldElsewhere(handle))
            tvx::JobLock_RecordBusy(handle);
        else
            tvx::OpenFailure_Record(handle, *failure);
        return nullptr;
    }
    file->openEntry = entry;
    file->position = 0;
    return file.release();
}

void TVX_CALL TVX_CloseFile(TVX_DiscFile file) {
    delete file;
}

uint64_t TVX_CALL TVX_GetFileSize(TVX_DiscFile file) {
    return file->openEntry->size;
}

uint64_t TVX_CALL TVX_SeekFile(TVX_DiscFile file, uint32_t offsetLow, uint32_t offsetHigh,
                               int32_t origin) {
    const uint64_t offset = static_cast<uint64_t>(offsetHigh) << 32 | offsetLow;
    const uint64_t size = file->openEntry->size;
    uint64_t target = 0;
    switch (origin) {
    case TVX_SEEK_SET:
        target = offset;
        break;
    case TVX_SEEK_CUR:
        target = file->position + offset;
        break;
    case TVX_SEEK_END:
        target = size + offset;
        break;
    default:
        return file->position;
    }
    if (target <= size) file->position = target;
    return file->position;
}

int32_t TVX_CALL TVX_ReadFile(TVX_DiscFile file, void* buffer, uint32_t count,
                              uint32_t* bytesRead) {
    if (bytesRead) *bytesRead = 0;
    const uint64_t size = file->openEntry->size;
    if (file->position >= size) return 0;
    // Extents that claim more than the file holds do not reach past its end.
    count = static_cast<uint32_t>(std::min<uint64_t>(count, size - file->position));

    DiscPiece pieces[tvx::kMaxEntryExtents];
    const uint32_t made = tvx::DiscFile_MapRange(file, file->position, count, pieces);
    uint8_t* out = static_cast<uint8_t*>(buffer);
    uint32_t delivered = 0;
    for (uint32_t i = 0; i < made; ++i) {
        const uint32_t got = tvx::readPiece(file->recHandle, pieces[i], out + delivered);
        delivered += got;
        if (got < pieces[i].byteCount) break;
    }
    file->position += delivered;
    if (bytesRead) *bytesRead = delivered;
    return 1;
}

} // extern "C"
