// The write speeds a drive offers for the disc it holds: its own list, or, for a drive that
// has none, the speeds found by asking for ever slower speeds and reading back what it took.
#include "torvexin.h"

#include "mmc/commands.h"
#include "mmc/execute.h"
#include "mmc/locations.h"

#include <cstring>

using namespace tvx;

namespace {

// Fills speeds[] with the speeds the drive settles on, fastest first, and puts the drive's own
// speeds back. On a failed query the drive stays at the last requested speed.
TVX_Result ProbeWriteSpeeds(RecHandle* handle, uint32_t* speeds, uint32_t room) {
    PerformanceDescriptor read;
    if (!Mmc_GetPerformance(handle, 0, &read)) {
        Mmc_RecordError(handle, location::kSpeedProbeRead);
        return TVX_ERR_COMMAND;
    }
    PerformanceDescriptor write;
    if (!Mmc_GetPerformance(handle, 1, &write)) {
        Mmc_RecordError(handle, location::kSpeedProbeWrite);
        return TVX_ERR_COMMAND;
    }
    const uint32_t readSpeed = read.startPerformance;
    const uint32_t savedWrite = write.startPerformance;

    uint32_t request = kSpeedFastest;
    uint32_t count = 0;
    while (room > 0) {
        Mmc_SetSpeed(handle, readSpeed, request);
        PerformanceDescriptor now;
        if (!Mmc_GetPerformance(handle, 1, &now)) {
            Mmc_RecordError(handle, location::kSpeedProbeLoop);
            return TVX_ERR_COMMAND;
        }
        const uint32_t got = now.endPerformance;
        if (count > 0 && got == speeds[count - 1]) {
            // The drive kept its speed: ask for one step less.
            if (request <= kSpeedDvd1x) break;
            request -= kSpeedDvd1x;
            if (request <= kSpeedDvd1x) break;
            continue;
        }
        speeds[count] = got;
        if (got <= kSpeedDvd1x) break;
        ++count;
        request = got - kSpeedDvd1x;
        if (count == room) break;
    }
    Mmc_SetSpeed(handle, readSpeed, savedWrite);
    return TVX_OK;
}

} // namespace

extern "C" {

TVX_API TVX_Result TVX_CALL TVX_GetWriteSpeedCaps(TVX_RecHandle handle, uint32_t* speeds,
                                                  uint32_t sizeBytes) {
    if (!speeds) return TVX_ERR_INVALID_ARG;
    std::memset(speeds, 0, sizeBytes);
    TVX_DiscInfo disc;
    const TVX_Result discResult = TVX_GetDiscInfo(handle, &disc);
    if (discResult != TVX_OK) return discResult;
    if ((disc.mediaType & MediaRecordableMask) == 0) return TVX_ERR_DISC_NOT_WRITABLE;
    if (Mmc_GetWriteSpeeds(handle, speeds, sizeBytes, 1)) return TVX_OK;
    return ProbeWriteSpeeds(handle, speeds, sizeBytes / 4);
}

} // extern "C"
