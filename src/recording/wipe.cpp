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

int Rec_WipeVolume(RecHandle* handle) {
    handle->rec.bufferFill = 0;
    if (!Rec_WriteZeros(handle, handle->rec.trackStart + kVolumeStructuresFirstBlock,
                        kVolumeStructuresLastBlock + 1 - kVolumeStructuresFirstBlock))
        return 0;
    if (!Rec_FlushAndSync(handle)) return 0;
    if (IsPlusRw(handle->discInfo.mediaType) && !Rec_CloseAndWait(handle, kCloseStopFormat))
        return 0;
    return 1;
}

} // namespace tvx
