#include "reader/map_window.h"

#include "mmc/commands.h"
#include "mmc/execute.h"
#include "mmc/locations.h"
#include "reader/disc_file.h"
#include "reader/open_failure.h"
#include "reader/udf_reader.h"
#include "recording/engine.h"
#include "transport/job_lock.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace tvx {

static_assert(sizeof(MapWindow) <= MapWindow::kDataOffset, "window header fits before its data");

MapWindow* MapWindow_Create(MapWindowList& list, uint64_t start, uint32_t count, uint32_t mode) {
    const size_t length = static_cast<size_t>(count) * kSectorSize;
    void* raw =
        ::operator new (MapWindow::kDataOffset + length, std::align_val_t{64}, std::nothrow);
    if (!raw) return nullptr;
    MapWindow* window = new (raw) MapWindow;
    window->start = start;
    window->length = static_cast<uint32_t>(length);
    window->mode = mode;
    // Cleared, so bytes past the end of a file never show old heap contents.
    std::memset(window->data(), 0, length);
    window->link.prev = &list.head;
    window->link.next = list.head.next;
    if (list.head.next) list.head.next->prev = &window->link;
    list.head.next = &window->link;
    return window;
}

MapWindow* MapWindow_Find(MapWindowList& list, const void* data) {
    for (MapWindowLink* link = list.head.next; link; link = link->next) {
        MapWindow* window = reinterpret_cast<MapWindow*>(link);
        if (window->data() == data) return window;
    }
    return nullptr;
}

void MapWindow_Unlink(MapWindow* window) {
    window->link.prev->next = window->link.next;
    if (window->link.next) window->link.next->prev = window->link.prev;
    window->~MapWindow();
    ::operator delete (window, std::align_val_t{64});
}

void MapWindow_FreeAll(MapWindowList& list) {
    while (list.head.next)
        MapWindow_Unlink(reinterpret_cast<MapWindow*>(list.head.next));
}

TvxDiscFile* MapWindow_Owner(void* data) {
    MapWindowLink* link =
        reinterpret_cast<MapWindowLink*>(static_cast<uint8_t*>(data) - MapWindow::kDataOffset);
    while (link->prev)
        link = link->prev;
    return reinterpret_cast<MapWindowList*>(link)->owner;
}

namespace {

MapWindow* windowOf(void* data) {
    if (!data) return nullptr;
    TvxDiscFile* file = MapWindow_Owner(data);
    return file ? MapWindow_Find(file->windows, data) : nullptr;
}

// Writes a file window back through the file's extents, from the window's own start.
int writeFileWindow(DiscFile* file, MapWindow* window) {
    if (window->start >= file->openEntry->size) return 0;
    DiscPiece pieces[kMaxEntryExtents];
    const uint32_t made = DiscFile_MapRange(file, window->start, window->length, pieces);
    // Every byte of the window that lies in the file must reach the disc: a file without
    // extents (embedded data) or with extents shorter than its size is not written back.
    const uint64_t inFile =
        std::min<uint64_t>(window->length, file->openEntry->size - window->start);
    int ok = 1;
    uint32_t offset = 0;
    for (uint32_t i = 0; i < made; ++i) {
        const DiscPiece& piece = pieces[i];
        // Whole sectors are written from the window: a piece that does not start on a sector
        // of both the disc and the window would carry bytes that belong elsewhere.
        if (piece.skip != 0 || offset % kSectorSize != 0) {
            ok = 0;
        } else if (DiscFile_WriteSectors(file->recHandle, window->data() + offset, piece.sector,
                                         piece.byteCount) != piece.byteCount) {
            ok = 0;
        }
        offset += piece.byteCount;
    }
    return ok && offset == inFile ? 1 : 0;
}

} // namespace

} // namespace tvx

using tvx::MapWindow;

extern "C" {

void* TVX_CALL TVX_OpenMMap(TVX_DiscFile file, uint32_t first, uint32_t count, uint32_t mode) {
    if (count == 0 || count > tvx::kMaxWindowSectors) return nullptr;
    if (mode > tvx::kWindowFile) return nullptr;
    uint64_t start = first;
    if (mode == tvx::kWindowPartition) start = static_cast<uint64_t>(first) + file->partitionStart;
    bool outside = false;
    if (mode == tvx::kWindowFile) {
        start = static_cast<uint64_t>(first) * tvx::kSectorSize;
        outside = start >= file->openEntry->size;
    } else {
        // Sectors past the disc's end are neither read nor written back.
        TVX_DiscInfo info = {};
        outside = TVX_GetDiscInfo(file->recHandle, &info) >= 0 && info.capacityBlocks != 0 &&
                  start + count > info.capacityBlocks;
    }
    if (outside) {
        tvx::OpenFailure_Record(file->recHandle, tvx::OpenFailure::WindowOutside);
        return nullptr;
    }
    MapWindow* window = tvx::MapWindow_Create(file->windows, start, count, mode);
    if (!window) return nullptr;

    uint64_t got = 0;
    uint64_t wanted = window->length;
    if (mode == tvx::kWindowFile) {
        TVX_SeekFile(file, static_cast<uint32_t>(start), static_cast<uint32_t>(start >> 32),
                     TVX_SEEK_SET);
        uint32_t read = 0;
        if (!TVX_ReadFile(file, window->data(), window->length, &read)) read = 0;
        got = read;
        wanted = std::min<uint64_t>(window->length, file->openEntry->size - start);
        TVX_SeekFile(file, static_cast<uint32_t>(start), static_cast<uint32_t>(start >> 32),
                     TVX_SEEK_SET);
    } else {
        got = tvx::DiscFile_ReadSectors(file->recHandle, window->data(),
                                        static_cast<uint32_t>(start), window->length);
    }
    window->wholeRead = got == wanted;
    // A window none of whose bytes could be read would only show zeros.
    const bool ok = got > 0;
    // A window that failed to open is freed at once: the host has no address for it.
    if (!ok) {
        tvx::MapWindow_Unlink(window);
        return nullptr;
    }
    return window->data();
}

int32_t TVX_CALL TVX_SyncMMap(void* data) {
    MapWindow* window = tvx::windowOf(data);
    if (!window) return 0;
    TvxDiscFile* file = tvx::MapWindow_Owner(data);
    tvx::RecHandle* handle = file->recHandle;
    // The zeros of a hole would replace whatever the disc holds there: nothing is written and
    // the drive is not touched.
    if (!window->wholeRead) {
        tvx::OpenFailure_Record(handle, tvx::OpenFailure::WindowNotRead);
        return 0;
    }
    // Writing back is a job of its own: not while another one has the drive.
    tvx::JobLock lock(handle);
    if (!lock.held()) return 0;
    TVX_DiscInfo info = {};
    if (TVX_GetDiscInfo(handle, &info) < 0) return 0;
    handle->discInfo = info;
    handle->rec.discSeen = 1;

    int result = 0;
    if (window->mode == tvx::kWindowFile) {
        result = tvx::writeFileWindow(file, window);
    } else {
        result =
            tvx::DiscFile_WriteSectors(handle, window->data(), static_cast<uint32_t>(window->start),
                                       window->length) == window->length;
    }
    // The record keeps the WRITE that failed (its CDB says where the sectors that may have
    // changed end) through the flush and the close, which the drive gets whatever the write gave.
    if (!result) tvx::Mmc_RecordError(handle, tvx::location::kWindowWriteBack);
    const TVX_LastError failed = handle->lastError;
    const int flushed = tvx::Rec_FlushAndSync(handle);
    tvx::Rec_CloseAndWait(handle, tvx::kCloseCompact);
    if (!result || !flushed) {
        if (!result) handle->lastError = failed;
        return 0;
    }
    return 1;
}

int32_t TVX_CALL TVX_CloseMMap(void* data) {
    MapWindow* window = tvx::windowOf(data);
    if (!window) return 0;
    tvx::MapWindow_Unlink(window);
    return 1;
}

} // extern "C"
