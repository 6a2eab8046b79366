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

// Sectors 0 to 271 as they are written last, in whole 16-block packets. Everything that a
// volume descriptor leads to goes first (the integrity sequence; the anchor, path tables and
// the partition's start); the volume descriptor sequences at 32 and 48, which every anchor of
// this or an earlier volume points to, make the UDF volume appear, and the ISO 9660 descriptor
// at 16 with the UDF recognition sequence makes both appear.
struct Piece {
    uint32_t first;
    uint32_t end;
};
constexpr Piece kLeadPieces[] = {{0, 16}, {64, 256}, {256, 272}};
constexpr Piece kCommitPieces[] = {{32, 64}, {16, 32}};
// The anchor in the volume's last block goes with the structures: its packet is held back.
constexpr uint32_t kPacketBlocks = 16;

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
    const uint32_t structuresEnd = kVolumeStructuresLastBlock + 1;
    // 1. No reader finds the old volume any more, whatever it covered.
    if (!Rec_Progress(handle, kEventWrite, rec.progressBlocks) || rec.cancelled) {
        rec.writeFailed = 1;
        return 0;
    }
    rec.writeBegan = 1;
    if (!Rec_WriteZeros(handle, start + kVolumeStructuresFirstBlock,
                        structuresEnd - kVolumeStructuresFirstBlock)) {
        Mmc_RecordError(handle, location::kWriteChunk);
        rec.writeFailed = 1;
        return 0;
    }
    if (!Rec_SyncCache(handle)) {
        rec.writeFailed = 1;
        return 0;
    }
    // 2. Everything the structures point to, but the packet of the volume's last block.
    const uint32_t head = std::min(size, structuresEnd);
    const uint32_t tail =
        size > head ? std::max(head, (size - 1) / kPacketBlocks * kPacketBlocks) : head;
    rec.nextAddress = start + head;
    if (!range(head, tail) || !Rec_DrainBuffer(handle)) return 0;
    if (!Rec_SyncCache(handle)) {
        rec.writeFailed = 1;
        return 0;
    }
    // 3. The structures; the job's final flush commits them.
    auto write = [&](uint32_t first, uint32_t end) -> bool {
        end = std::min(end, head);
        if (first >= end) return true;
        rec.nextAddress = start + first;
        return range(first, end) && Rec_DrainBuffer(handle);
    };
    for (const Piece& piece : kLeadPieces)
        if (!write(piece.first, piece.end)) return 0;
    if (tail < size) {
        rec.nextAddress = start + tail;
        if (!range(tail, size) || !Rec_DrainBuffer(handle)) return 0;
    }
    for (const Piece& piece : kCommitPieces)
        if (!write(piece.first, piece.end)) return 0;
    return 1;
}

} // namespace tvx
