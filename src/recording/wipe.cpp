// What a recording that did not complete leaves on a rewritable disc: no volume at all.
#include "mmc/commands.h"
#include "recording/engine.h"
#include "recording/engine_internal.h"
#include "recording/media.h"

#include <algorithm>
#include <memory>
#include <new>

namespace tvx {

int Rec_WriteZeros(RecHandle* handle, uint32_t lba, uint32_t blocks) {
    const uint32_t bytes = kZeroChunkBlocks * kBlockSize;
    std::unique_ptr<uint8_t[]> zeros(new (std::nothrow) uint8_t[bytes]());
    if (!zeros) return 0;
    while (blocks > 0) {
        const uint16_t n = static_cast<uint16_t>(std::min<uint32_t>(blocks, kZeroChunkBlocks));
        // The command layer waits out a busy drive; the host hears of the wait and may stop it.
        BusyWaitScope waiting(handle, &Rec_WriteBusyWait);
        if (!Mmc_Write10(handle, zeros.get(), n * kBlockSize, lba, n)) return 0;
        lba += n;
        blocks -= n;
    }
    return 1;
}

int Rec_ZeroOldVolume(RecHandle* handle, int (*barrier)(RecHandle*)) {
    const uint32_t start = handle->rec.trackStart;
    // What a reader starts from goes first, each part on the disc before the next is written:
    // a drive may put cached blocks on the disc in any order, and an old descriptor left over
    // would lead to zeroed descriptors, directories or file entries. First the system area's
    // partition tables, the ISO 9660 descriptors and the UDF recognition sequence (0-31), then
    // the UDF descriptor sequences and the anchor (32-63, 256-271), then the rest (64-255).
    constexpr uint32_t kFirstEnd = 32, kEntryEnd = 64, kAnchor = 256;
    const uint32_t end = kVolumeStructuresLastBlock + 1;
    return Rec_WriteZeros(handle, start, kFirstEnd) && barrier(handle) &&
           Rec_WriteZeros(handle, start + kFirstEnd, kEntryEnd - kFirstEnd) &&
           Rec_WriteZeros(handle, start + kAnchor, end - kAnchor) && barrier(handle) &&
           Rec_WriteZeros(handle, start + kEntryEnd, kAnchor - kEntryEnd);
}

int Rec_WipeVolume(RecHandle* handle) {
    handle->rec.bufferFill = 0;
    if (!Rec_ZeroOldVolume(handle, &Rec_SyncCache)) return 0;
    if (!Rec_FlushAndSync(handle)) return 0;
    if (IsPlusRw(handle->discInfo.mediaType) && !Rec_CloseAndWait(handle, kCloseStopFormat))
        return 0;
    return 1;
}

} // namespace tvx
