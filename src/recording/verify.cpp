#include "recording/verify.h"

#include "mmc/commands.h"
#include "recording/engine.h"
#include "recording/engine_internal.h"
#include "recording/job_support.h"

#include <algorithm>
#include <cstring>

namespace tvx {

namespace {

inline constexpr uint32_t kPieceBytes = 32768;

struct VerifyBuffers {
    uint8_t file[kPieceBytes];
    uint8_t disc[kPieceBytes];
};

uint32_t ReadFull(HostFile& file, uint8_t* buffer, uint32_t count) {
    uint32_t got = 0;
    while (got < count) {
        uint32_t n = file.read(buffer + got, count - got);
        if (n == 0) break;
        got += n;
    }
    return got;
}

} // namespace

VerifyResult Verify_Region(RecHandle* handle, uint32_t startSector, HostFile& file) {
    uint64_t remaining = file.size();
    if (remaining == 0) return VerifyResult::Equal;
    VerifyBuffers buffers;
    // A drive busy with a read is waited out in the command layer; the host hears of it.
    BusyWaitScope waiting(handle, &Rec_VerifyBusyWait);
    uint32_t sector = startSector;
    bool firstPiece = true;
    while (remaining > 0) {
        const uint32_t piece = static_cast<uint32_t>(std::min<uint64_t>(kPieceBytes, remaining));
        // A file that no longer gives its bytes says nothing about the disc.
        if (ReadFull(file, buffers.file, piece) != piece) return VerifyResult::SourceFailed;
        const uint32_t sectors = (piece + kBlockSize - 1) / kBlockSize;
        const uint32_t bytes = sectors * kBlockSize;
        // The region's first read is a plain READ(10); the rest stream with READ(12).
        int read =
            firstPiece && sector != 0
                ? Mmc_Read10(handle, buffers.disc, bytes, sector, static_cast<uint16_t>(sectors))
                : Mmc_Read12(handle, buffers.disc, bytes, sector, sectors);
        firstPiece = false;
        if (!read) return VerifyResult::Different;
        if (std::memcmp(buffers.file, buffers.disc, piece) != 0) return VerifyResult::Different;
        sector += sectors;
        remaining -= piece;
        if (!Rec_Progress(handle, kEventVerify, sector)) return VerifyResult::Different;
    }
    return VerifyResult::Equal;
}

VerifyResult Verify_Volume(RecHandle* handle, const VolumePlan* plan) {
    for (const WriteRun& run : plan->writeList) {
        if (run.kind != RunKind::File) continue;
        std::unique_ptr<HostFile> file = host().openFile(run.hostPath(), FileAccess::Read);
        // A file that changed size since it was burned is no longer the source that was burned.
        VerifyResult result = file && file->size() == run.plannedSize()
                                  ? Verify_Region(handle, run.start, *file)
                                  : VerifyResult::SourceFailed;
        // Compared bytes of a file that grew meanwhile prove nothing about the file as it is.
        if (result == VerifyResult::Equal && file->currentSize() != run.plannedSize())
            result = VerifyResult::SourceFailed;
        if (result == VerifyResult::SourceFailed) Job_RecordSource(handle, run.hostPath().c_str());
        if (result != VerifyResult::Equal) return result;
    }
    return VerifyResult::Equal;
}

} // namespace tvx
