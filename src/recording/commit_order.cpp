// Writing a volume so that a reader never finds one that is not whole: on media written over in
// place, the old volume's structures go first (as zeros) and the new ones last, with the drive's
// cache flushed between the steps, since a drive may put cached blocks on the disc in any order.
#include "mmc/commands.h"
#include "mmc/execute.h"
#include "mmc/locations.h"
#include "recording/engine.h"
#include "recording/engine_internal.h"

#include <algorithm>
#include <cstring>

namespace tvx {

namespace {

// Sectors 0 to 271 as they are written last. Everything that a volume descriptor leads to goes
// with the rest of the volume (the integrity sequence; the anchor, path tables and the
// partition's start); the volume descriptor sequences at 32 and 48, which every anchor of this
// or an earlier volume points to, make the UDF volume appear, and the ISO 9660 descriptor at 16
// with the UDF recognition sequence makes both appear.
struct Piece {
    uint32_t first;
    uint32_t end;
};
constexpr Piece kLeadPieces[] = {{0, 16}, {64, 272}};
constexpr Piece kUdfDescriptors = {32, 64};
constexpr Piece kFirstDescriptors = {16, 32};

} // namespace

int Rec_DrainBuffer(RecHandle* handle) {
    RecordingState& rec = handle->rec;
    if (rec.bufferFill == 0) return 1;
    uint32_t padBlocks = 0;
    if (rec.packetBlocks > 1 && rec.blockSize != 0) {
        const uint32_t packetBytes = rec.packetBlocks * rec.blockSize;
        const uint32_t padded = (rec.bufferFill + packetBytes - 1) / packetBytes * packetBytes;
        if (padded <= rec.bufferCapacity) {
            std::memset(rec.buffer + rec.bufferFill, 0, padded - rec.bufferFill);
            padBlocks = (padded - rec.bufferFill) / rec.blockSize;
            rec.bufferFill = padded;
        }
    }
    if (!Rec_WriteChunk(handle, rec.buffer, rec.bufferFill)) return 0;
    rec.bufferFill = 0;
    rec.progressBlocks -= padBlocks; // padding is not part of the volume
    return 1;
}

int Rec_SyncCache(RecHandle* handle) {
    RecordingState& rec = handle->rec;
    if (!Rec_DrainBuffer(handle)) return 0;
    BusyWaitScope waiting(handle, &Rec_WriteBusyWait);
    Stopwatch since;
    if (!Mmc_SyncCache(handle, 1)) {
        Mmc_RecordError(handle, location::kFlushSyncCache);
        return 0;
    }
    PollScope polling(handle);
    for (;;) {
        if (Mmc_TestUnitReady(handle)) return 1;
        const bool hopeless = Rec_WaitHopeless(handle);
        Mmc_RecordError(handle, location::kFlushPoll);
        if (hopeless) return 0;
        // The position stays: the estimate of Rec_ReportWrite is for the last flush only.
        if (!Rec_Progress(handle, kEventWait, rec.progressBlocks) || rec.cancelled) return 0;
        if (since.elapsed() >= kFlushWaitMs) return 0;
        host().sleep(kPollIntervalMs);
    }
}

int Rec_WriteVolume(RecHandle* handle, uint32_t size, const VolumeRange& range) {
    RecordingState& rec = handle->rec;
    if (!rec.commitOrder) return range(0, size) && Rec_DrainBuffer(handle);

    const uint32_t start = rec.trackStart;
    const uint32_t head = std::min(size, kVolumeStructuresLastBlock + 1);
    // 1. No reader finds the old volume any more, whatever it covered.
    if (!Rec_Progress(handle, kEventWrite, rec.progressBlocks) || rec.cancelled) {
        rec.writeFailed = 1;
        return 0;
    }
    rec.writeBegan = 1;
    if (!Rec_ZeroOldVolume(handle, &Rec_SyncCache)) {
        Mmc_RecordError(handle, location::kWriteChunk);
        rec.writeFailed = 1;
        return 0;
    }
    // Barrier: the zeros are on the disc before any new block is, or a new file's blocks could
    // be read through an old descriptor that the cache had not yet replaced.
    if (!Rec_SyncCache(handle)) {
        rec.writeFailed = 1;
        return 0;
    }
    auto write = [&](const Piece& piece) -> bool {
        const uint32_t end = std::min(piece.end, head);
        if (piece.first >= end) return true;
        rec.nextAddress = start + piece.first;
        return range(piece.first, end) && Rec_DrainBuffer(handle);
    };
    // 2. Everything but the descriptors that make the volume visible.
    rec.nextAddress = start + head;
    if (!range(head, size) || !Rec_DrainBuffer(handle)) return 0;
    for (const Piece& piece : kLeadPieces)
        if (!write(piece)) return 0;
    // Barrier: the data, the directories and the anchors are on the disc before the first
    // descriptor that leads to them; a drive may put cached blocks on the disc in any order, and
    // losing the last packet behind a visible volume shows a wrong file.
    if (!Rec_SyncCache(handle)) {
        rec.writeFailed = 1;
        return 0;
    }
    // 3. The UDF descriptor sequences, then the first descriptors; the job's final flush commits
    // them. Barrier: the recognition sequence at 16 announces UDF only once the descriptors it
    // announces are on the disc, so a reader that trusts it never meets an empty sequence.
    if (!write(kUdfDescriptors)) return 0;
    if (!Rec_SyncCache(handle)) {
        rec.writeFailed = 1;
        return 0;
    }
    return write(kFirstDescriptors) ? 1 : 0;
}

} // namespace tvx
