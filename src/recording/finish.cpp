// The end of every job (release and eject) and erasing.
#include "mmc/commands.h"
#include "mmc/execute.h"
#include "mmc/locations.h"
#include "recording/engine.h"
#include "recording/engine_internal.h"
#include "recording/media.h"

#include <algorithm>

namespace tvx {

namespace {

inline constexpr int kBlankWholeDisc = 0;
inline constexpr int kBlankMinimal = 1;

// A flush that waits for the drive without the write job's events: an erase reports only its
// own progress.
int FlushForErase(RecHandle* handle) {
    if (!Mmc_SyncCache(handle, 1)) return 0;
    Stopwatch since;
    while (!Mmc_TestUnitReady(handle)) {
        if (since.elapsed() >= kFlushWaitMs) return 0;
        host().sleep(kPollIntervalMs);
    }
    return 1;
}

// Overwrites the volume structures of a formatted DVD+RW (and closes it) or of a BD-RE.
int ZeroStructures(RecHandle* handle) {
    handle->rec.trackStart = 0;
    if (!Rec_ZeroOldVolume(handle, &FlushForErase)) {
        Mmc_RecordError(handle, location::kBlankSyncCache);
        return 0;
    }
    if (!Mmc_SyncCache(handle, 1)) {
        Mmc_RecordError(handle, location::kBlankSyncCache);
        return 0;
    }
    if (IsPlusRw(handle->discInfo.mediaType) && !Rec_CloseAndWait(handle, kCloseStopFormat)) {
        Mmc_RecordError(handle, location::kBlankClose);
        return 0;
    }
    return 1;
}

} // namespace

int Rec_FinishSteps(RecHandle* handle) {
    RecordingState& rec = handle->rec;
    // Simulation stays on in the drive until the page is set back.
    if (rec.testWrite) Mmc_SetWriteParameters(handle, nullptr);
    Mmc_PreventRemoval(handle, 0);
    if ((rec.testWrite && !rec.cancelled) || !RecordingRunning(handle)) return 1;
    int ejected = 0;
    Stopwatch since;
    for (;;) {
        Rec_ReportWrite(handle, kEventWait);
        ejected = Mmc_StartStop(handle, kStartStopEject, 1);
        if (ejected) {
            if (!Mmc_TestUnitReady(handle)) return 1; // the tray is out
        } else {
            Mmc_RecordError(handle, location::kFinishEject);
        }
        host().sleep(kPollIntervalMs);
        if (since.elapsed() >= kEjectWaitMs) return ejected;
    }
}

int Rec_Finish(RecHandle* handle) {
    Rec_Progress(handle, kEventFinished, 0);
    return Rec_FinishSteps(handle);
}

int Rec_Blank(RecHandle* handle) {
    RecordingState& rec = handle->rec;
    rec.progressValue = 0;
    rec.progressTotal = kProgressScale;
    Rec_Progress(handle, kEventEraseBegin, 0);
    BusyWaitScope waiting(handle, &Rec_SettleBusyWait);

    const uint32_t media = handle->discInfo.mediaType;
    if (IsBdRe(media) && !rec.quickErase) {
        // A full erase of a BD-RE formats it anew. A drive may only reformat quickly and keep
        // what was recorded, so the volume's structures are overwritten first.
        if (!ZeroStructures(handle) || !Rec_FullFormatBdRe(handle)) return 0;
    } else if ((IsPlusRw(media) && Rec_FormatStatus(handle) != 0) || IsBdRe(media)) {
        if (!ZeroStructures(handle)) return 0;
    } else if (!Mmc_Blank(handle, rec.quickErase ? kBlankMinimal : kBlankWholeDisc, 1)) {
        Mmc_RecordError(handle, location::kBlankCommand);
        return 0;
    }

    rec.progressValue = 0;
    rec.progressTotal = kProgressScale;
    const uint32_t limit = rec.quickErase ? kQuickBlankWaitMs : kFullBlankWaitMs;
    int ready = 0;
    Stopwatch since;
    PollScope polling(handle);
    for (;;) {
        ready = Mmc_TestUnitReady(handle);
        if (ready) break;
        uint32_t drivePosition = Rec_SenseProgress(handle);
        const bool hopeless = Rec_WaitHopeless(handle);
        Mmc_RecordError(handle, location::kBlankPoll);
        if (hopeless) break;
        uint32_t elapsed = since.elapsed();
        uint32_t value;
        if (elapsed < kBlankEstimateDelayMs || drivePosition != 0) {
            value = std::max(drivePosition, rec.progressValue);
        } else {
            // The drive shows no progress: estimate from the write speed.
            uint64_t estimate =
                uint64_t{rec.actualSpeed / 2} * ((elapsed - kBlankEstimateDelayMs) / 1000);
            value = static_cast<uint32_t>(std::min<uint64_t>(estimate, rec.progressTotal));
        }
        if (!Rec_Progress(handle, kEventEraseProgress, value)) break;
        host().sleep(kPollIntervalMs);
        if (since.elapsed() >= limit) break;
    }
    Rec_Progress(handle, kEventEraseProgress, rec.progressTotal);
    return ready;
}

} // namespace tvx
