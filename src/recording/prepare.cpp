// Drive set-up before writing: write parameters, speed, track reservation and the DVD+RW
// background format.
#include "mmc/commands.h"
#include "mmc/execute.h"
#include "mmc/locations.h"
#include "recording/engine.h"
#include "recording/engine_internal.h"
#include "recording/media.h"

#include <algorithm>
#include <cstring>

namespace tvx {

namespace {

inline constexpr int kWriteTypeTrackAtOnce = 1;
inline constexpr int kWriteTypeSessionAtOnce = 2;
inline constexpr uint8_t kFormatTypeBackground = 0x26;
// A drive of this make loses 16 blocks of the reservation in simulation mode.
inline constexpr uint32_t kSimulationReserveExtra = 16;
inline constexpr uint16_t kProfileDvdRwRestrictedOverwrite = 0x0013;

// DVD-RAM and DVD-RW in restricted overwrite are written in place: drives refuse the
// session-at-once page and track reservation there, and the burn goes on without them.
bool WrittenInPlace(RecHandle* handle) {
    const uint32_t media = handle->discInfo.mediaType;
    if (media == MediaDvdRam) return true;
    FeatureInfo features;
    return media == MediaDvdRw && Mmc_GetFeature(handle, 0x0000, &features) &&
           features.currentProfile == kProfileDvdRwRestrictedOverwrite;
}

// After a refused set-up command: records the refusal and answers whether the medium is one
// written in place, where the burn goes on without it (and the record is left as it was).
bool RefusalExpected(RecHandle* handle, int32_t location) {
    const TVX_LastError previous = handle->lastError;
    Mmc_RecordError(handle, location);
    if (!WrittenInPlace(handle)) return false;
    handle->lastError = previous;
    return true;
}

bool NeedsReserveExtra(const RecHandle* handle) {
    const TVX_DriveInfo& info = handle->driveInfo;
    return std::strncmp(info.vendor, "SONY", 4) == 0 &&
           std::strncmp(info.product, "DVD RW", 6) == 0;
}

} // namespace

int Rec_FormatStatus(RecHandle* handle) {
    DiscInformation info;
    if (!Mmc_ReadDiscInfo(handle, &info)) return 0;
    return info.backgroundFormatStatus;
}

int Rec_Prepare(RecHandle* handle, const TVX_BurnOptions* options) {
    if (!options) return 0;
    RecordingState& rec = handle->rec;
    rec.testWrite = options->mode == TVX_MODE_TEST_WRITE;
    rec.verify = options->mode == TVX_MODE_WRITE_VERIFY;
    rec.requestedSpeed = static_cast<uint32_t>(options->writeSpeed);

    Rec_Progress(handle, kEventPrepare, 0);
    if (!Mmc_TestUnitReady(handle)) {
        Mmc_RecordError(handle, location::kPrepareTestUnitReady);
        return 0;
    }
    if (!Mmc_PreventRemoval(handle, 1)) {
        Mmc_RecordError(handle, location::kPreparePrevent);
        return 0;
    }
    Mmc_StartStop(handle, kStartStopStart, 0);
    Mmc_SetSpeed(handle, kSpeedFastest, rec.requestedSpeed);
    PerformanceDescriptor performance;
    rec.actualSpeed =
        Mmc_GetPerformance(handle, 1, &performance) ? performance.endPerformance : kSpeedDvd1x;

    WriteParameters parameters;
    // A CD is written track at once (one mode 1 track, closed at the end), or session at once
    // with a cue sheet where the drive has no track at once.
    rec.cdSessionAtOnce = Rec_CdNeedsSessionAtOnce(handle) ? 1 : 0;
    parameters.writeType = IsCdMedia(handle->discInfo.mediaType) && !rec.cdSessionAtOnce
                               ? kWriteTypeTrackAtOnce
                               : kWriteTypeSessionAtOnce;
    parameters.testWrite = rec.testWrite;
    parameters.bufferUnderrunFree = 1;
    parameters.multiSession = 0;
    int pageSet = Mmc_SetWriteParameters(handle, &parameters);
    // A drive that did not take the test write would burn the disc for real.
    if (rec.testWrite && !pageSet) {
        Mmc_RecordError(handle, location::kPrepareWriteParameters);
        rec.testWriteRefused = 1;
        return 0;
    }
    // Plus media and BD take no write parameters page; many drives refuse it there, and those
    // that take it (CDEmu) record a DVD or BD at once only with write type 2.
    if (IsPlusMedia(handle->discInfo.mediaType) || IsBdMedia(handle->discInfo.mediaType)) return 1;
    if (!pageSet && !RefusalExpected(handle, location::kPrepareWriteParameters)) return 0;
    return 1;
}

int Rec_BeginTrack(RecHandle* handle, uint32_t track, uint32_t blocks, uint32_t blockSize) {
    RecordingState& rec = handle->rec;
    const uint32_t media = handle->discInfo.mediaType;
    const uint32_t minimum = IsDashMedia(media) ? kDashProgressMinimum : 0;

    Rec_Progress(handle, kEventTrackBegin, 0);
    rec.trackNumber = static_cast<uint8_t>(track);
    rec.trackBlocks = blocks;
    rec.blockSize = static_cast<uint16_t>(blockSize);
    rec.progressValue = 0;
    rec.progressTotal = std::max(minimum, blocks);
    Rec_Progress(handle, kEventTrackSize, 0);

    // An unformatted BD-RE is formatted before anything else.
    if (IsBdRe(media) && !Rec_FormatBdRe(handle)) return 0;
    TrackInformation before;
    if (!Mmc_ReadTrackInfo(handle, rec.trackNumber, &before)) {
        Mmc_RecordError(handle, location::kBeginTrackFirstTrackInfo);
        return 0;
    }
    uint32_t reservation = rec.trackBlocks;
    if (rec.testWrite && NeedsReserveExtra(handle)) reservation += kSimulationReserveExtra;
    // BD-R and CD are written into the invisible track from its start, without a reservation.
    const bool reserve =
        !IsPlusMedia(media) && media != MediaDvdRam && !IsBdMedia(media) && !IsCdMedia(media);
    if (reserve && !Mmc_ReserveTrack(handle, reservation) &&
        !RefusalExpected(handle, location::kBeginTrackReserve)) {
        return 0;
    }
    if (rec.cdSessionAtOnce && !Rec_BeginCdSessionAtOnce(handle, rec.trackBlocks)) return 0;
    TrackInformation after;
    if (!Mmc_ReadTrackInfo(handle, rec.trackNumber, &after)) {
        Mmc_RecordError(handle, location::kBeginTrackSecondTrackInfo);
        return 0;
    }
    if (!IsPlusRw(media) && !after.nextWritableValid) return 0;
    rec.trackStart = after.nextWritable == 0 ? 0 : before.nextWritable;
    rec.nextAddress = rec.trackStart;
    rec.progressBlocks = 0;

    if (IsPlusRw(media)) {
        int status = Rec_FormatStatus(handle);
        if (status == 0 || status == 1) {
            if (!Rec_StartFormat(handle)) Mmc_RecordError(handle, location::kBeginTrackFormat);
        } else {
            host().sleep(kFormattedSettleMs);
        }
    }
    return 1;
}

int Rec_StartFormat(RecHandle* handle) {
    int status = Rec_FormatStatus(handle);
    if (status == 2 || status == 3) return 1;
    const uint32_t restart = status == 1 ? 1 : 0;
    // The host hears of the wait once a second and may stop it; the position stays.
    BusyWaitScope waiting(handle, &Rec_WriteBusyWait);
    Stopwatch since;
    if (!Mmc_Format(handle, 0xFFFFFFFFu, kFormatTypeBackground, restart)) {
        Mmc_RecordError(handle, location::kStartFormatFormatUnit);
        return 0;
    }
    PollScope polling(handle);
    for (;;) {
        if (Mmc_TestUnitReady(handle)) return 1;
        const bool hopeless = Rec_WaitHopeless(handle);
        Mmc_RecordError(handle, location::kStartFormatPoll);
        if (hopeless) return 0;
        uint8_t sense[kRequestSenseBytes] = {};
        Mmc_RequestSense(handle, sense, kRequestSenseBytes);
        if (!Rec_WriteBusyWait(handle)) return 0;
        host().sleep(kPollIntervalMs);
        if (since.elapsed() >= kFormatWaitMs) return 0;
    }
}

} // namespace tvx
