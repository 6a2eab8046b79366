// After the last chunk: cache flush, closing the track and session, and the waits for the drive
// while it does so on its own. Each wait polls once a second and ejects when the host stops it.
#include "mmc/commands.h"
#include "mmc/execute.h"
#include "mmc/locations.h"
#include "mmc/sense.h"
#include "recording/engine.h"
#include "recording/engine_internal.h"
#include "recording/media.h"

#include <algorithm>

namespace tvx {

namespace {

inline constexpr uint16_t kFeatureDvdPlusRw = 0x002A;

// How this drive stops a DVD+RW's background format: quickly (function 0), or, when its DVD+RW
// feature says CloseOnly, only the compatible way (function 2, which also writes a temporary
// lead-out); such a drive refuses the quick stop.
int PlusRwStopFunction(RecHandle* handle) {
    FeatureInfo feature;
    const bool closeOnly = Mmc_GetFeature(handle, kFeatureDvdPlusRw, &feature) && feature.closeOnly;
    return closeOnly ? kCloseCompact : kCloseStopFormat;
}

} // namespace

int Rec_FlushAndSync(RecHandle* handle) {
    RecordingState& rec = handle->rec;
    // A partial buffer goes out first, padded to the packet on restricted overwrite.
    const int flushed = Rec_DrainBuffer(handle);
    BusyWaitScope waiting(handle, &Rec_SettleBusyWait);
    // The limit counts from the flush: a drive busy with it does not get a second wait.
    Stopwatch since;
    if (!Mmc_SyncCache(handle, 1)) {
        Mmc_RecordError(handle, location::kFlushSyncCache);
        return 0;
    }
    int waited = 1;
    PollScope polling(handle);
    for (;;) {
        uint32_t lastLba = 0;
        if (Mmc_TestUnitReady(handle) && Mmc_ReadCapacity(handle, &lastLba)) {
            waited = 1;
            break;
        }
        const bool hopeless = Rec_WaitHopeless(handle);
        Mmc_RecordError(handle, location::kFlushPoll);
        if (hopeless) {
            waited = 0;
            break;
        }
        if (!Rec_ReportWrite(handle, kEventWait) || rec.cancelled) {
            // A stop ends the wait at once: the disc goes out if the drive lets it.
            waited = Rec_CancelEject(handle);
            break;
        }
        host().sleep(kPollIntervalMs);
        // A drive that never confirms the flush has not recorded the data.
        if (since.elapsed() >= kFlushWaitMs) {
            waited = 0;
            break;
        }
    }
    return flushed && waited;
}

int Rec_CloseTrack(RecHandle* handle, int) {
    const uint32_t media = handle->discInfo.mediaType;
    if (!IsPlusRecordable(media) && !ClosesTrack(media)) return 1;
    // Session at once: the flush wrote the lead-out and closed the disc.
    if (handle->rec.cdSessionAtOnce) return 1;
    if (!Rec_CloseWithRetry(handle, 1, kCloseTrackFunction)) {
        Mmc_RecordError(handle, location::kCloseTrack);
        return 0;
    }
    return 1;
}

int Rec_CloseSession(RecHandle* handle, int) {
    const uint32_t media = handle->discInfo.mediaType;
    if (ClosesTrack(media)) return Rec_CloseBdCdSession(handle);
    if (IsPlusRecordable(media)) {
        if (handle->rec.testWrite) return 1;
        if (!Rec_CloseWithRetry(handle, 0, kCloseFinalise)) {
            Mmc_RecordError(handle, location::kCloseSessionFinalise);
            return 0;
        }
        return 1;
    }
    if (IsPlusRw(media)) {
        int function = handle->rec.cancelled ? kCloseStopFormat : kCloseDeIcing;
        if (!Rec_CloseAndWait(handle, function)) {
            Mmc_RecordError(handle, location::kCloseSessionPlusRw);
            return 0;
        }
    }
    return 1;
}

int Rec_CloseWithRetry(RecHandle* handle, uint16_t track, int function) {
    BusyWaitScope waiting(handle, &Rec_SettleBusyWait);
    // A CLOSE the drive refused is not sent again: only the command layer repeats one the
    // drive was too busy to start, and that time counts against the wait.
    Stopwatch since;
    if (handle->rec.cancelled || !Mmc_CloseTrackSession(handle, function, track)) {
        Mmc_RecordError(handle, location::kCloseRetryAttempts);
        return 0;
    }
    PollScope polling(handle);
    for (;;) {
        uint32_t lastLba = 0;
        if (Mmc_ReadCapacity(handle, &lastLba)) return 1;
        const bool hopeless = Rec_WaitHopeless(handle);
        Mmc_RecordError(handle, location::kCloseRetryPoll);
        if (hopeless) return 0;
        // A stop ends the wait at once: the disc goes out if the drive lets it.
        if (!Rec_ReportWrite(handle, kEventWait) || handle->rec.cancelled)
            return Rec_CancelEject(handle);
        host().sleep(kPollIntervalMs);
        if (since.elapsed() >= kCloseWaitMs) return 0;
    }
}

int Rec_CloseAndWait(RecHandle* handle, int function) {
    RecordingState& rec = handle->rec;
    BusyWaitScope waiting(handle, &Rec_SettleBusyWait);
    if (function == kCloseStopFormat) function = PlusRwStopFunction(handle);
    Stopwatch since;
    if (!Mmc_CloseTrackSession(handle, function, 0)) {
        if (Rec_WaitHopeless(handle)) {
            Mmc_RecordError(handle, location::kCloseWaitFallback);
            return 0;
        }
        host().sleep(kPollIntervalMs);
        Mmc_SyncCache(handle, 1);
        host().sleep(kPollIntervalMs);
        if (!Mmc_CloseTrackSession(handle, PlusRwStopFunction(handle), 0))
            Mmc_RecordError(handle, location::kCloseWaitFallback);
    }
    // Without a job's total, the drive's own progress indication (out of 65536) is shown.
    const bool ownProgress = rec.progressTotal == 0;
    if (ownProgress) {
        rec.progressValue = 0;
        rec.progressTotal = kProgressScale;
    }
    PollScope polling(handle);
    for (;;) {
        uint32_t lastLba = 0;
        if (Mmc_ReadCapacity(handle, &lastLba)) return 1;
        const bool hopeless = Rec_WaitHopeless(handle);
        Mmc_RecordError(handle, location::kCloseWaitPoll);
        if (hopeless) return 0;
        uint8_t sense[kRequestSenseBytes] = {};
        Mmc_RequestSense(handle, sense, kRequestSenseBytes);
        const SenseFields answer = Mmc_DecodeSense(sense, kRequestSenseBytes);
        uint32_t drivePosition = answer.progressValid ? answer.progress : 0;
        int reported;
        if (ownProgress) {
            uint64_t estimate = uint64_t{since.elapsed() / 1000} * (rec.actualSpeed / 2);
            uint32_t value =
                drivePosition != 0
                    ? drivePosition
                    : static_cast<uint32_t>(std::min<uint64_t>(estimate, rec.progressTotal));
            reported = Rec_Progress(handle, kEventEraseProgress, value);
        } else {
            reported = Rec_ReportWrite(handle, kEventWait);
        }
        if (!reported || rec.cancelled) return Rec_CancelEject(handle);
        host().sleep(kPollIntervalMs);
        if (since.elapsed() >= kPlusRwCloseWaitMs) return 0;
    }
}

} // namespace tvx
