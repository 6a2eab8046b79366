// What a recording that did not complete leaves on a rewritable disc: no volume at all.
#include "mmc/commands.h"
#include "recording/engine.h"
#include "recording/engine_internal.h"
#include "recording/media.h"

#include <memory>
#include <new>

namespace tvx {

int Rec_WipeVolume(RecHandle* handle) {
    const uint32_t bytes = kZeroChunkBlocks * kBlockSize;
    std::unique_ptr<uint8_t[]> zeros(new (std::nothrow) uint8_t[bytes]());
    if (!zeros) return 0;
    for (uint32_t lba = kVolumeStructuresFirstBlock; lba <= kVolumeStructuresLastBlock;
         lba += kZeroChunkBlocks) {
        // Unlike the erase, every block must be gone: a busy drive gets the same write again.
        Stopwatch busySince;
        while (!Mmc_Write10(handle, zeros.get(), bytes, lba, kZeroChunkBlocks)) {
            if (!Rec_SenseBusyWriting(handle) || busySince.elapsed() >= kBusyWriteLimitMs) return 0;
            host().sleep(kBusyWriteRetryMs);
        }
    }
    zeros.reset();
    handle->rec.bufferFill = 0;
    if (!Rec_FlushAndSync(handle)) return 0;
    if (IsPlusRw(handle->discInfo.mediaType) && !Rec_CloseAndWait(handle, kCloseStopFormat))
        return 0;
    return 1;
}

} // namespace tvx
