// Formatting a BD-RE: an unformatted disc before its first recording, and a full erase.
#include "mmc/commands.h"
#include "mmc/execute.h"
#include "mmc/locations.h"
#include "recording/engine.h"
#include "recording/engine_internal.h"

namespace tvx {

namespace {

inline constexpr uint8_t kFormatFull = 0x00;
inline constexpr uint8_t kFormatBdReSpare = 0x30;
inline constexpr uint8_t kDescriptorUnformatted = 1;
inline constexpr uint32_t kFormatListEntries = 16;
// A quick format takes a drive a few minutes; a certifying one up to an hour or more.
inline constexpr uint32_t kBdFormatWaitMs = 3600000;

uint8_t FormatTypeOf(const FormatCapacity& e) {
    return static_cast<uint8_t>(e.typeByte >> 2);
}

// The first formattable descriptor of the format type (the drive lists its default first); the
// list ends at an empty entry.
const FormatCapacity* Find(const FormatCapacity* list, uint8_t type) {
    for (uint32_t i = 1; i < kFormatListEntries && list[i].blocks != 0; ++i)
        if (FormatTypeOf(list[i]) == type) return &list[i];
    return nullptr;
}

// Sends FORMAT UNIT with the drive's own descriptor of the type (size and spare areas). With
// leaveFormatted, a formatted disc is left alone and counts as done.
int StartFormat(RecHandle* handle, uint8_t type, bool leaveFormatted, bool& started) {
    started = false;
    FormatCapacity list[kFormatListEntries] = {};
    if (!Mmc_ReadFormatCapacities(handle, list, kFormatListEntries)) {
        Mmc_RecordError(handle, location::kBdFormatCapacities);
        return 0;
    }
    if (leaveFormatted && (list[0].typeByte & 3) != kDescriptorUnformatted) return 1;
    const FormatCapacity* chosen = Find(list, type);
    if (!chosen) chosen = Find(list, kFormatFull);
    if (!chosen) return 0;
    const uint32_t parameter = uint32_t{chosen->paramHigh} << 16 | chosen->paramLow;
    if (!Mmc_Format(handle, chosen->blocks, FormatTypeOf(*chosen), parameter)) {
        Mmc_RecordError(handle, location::kBdFormatUnit);
        return 0;
    }
    started = true;
    return 1;
}

} // namespace

int Rec_FormatBdRe(RecHandle* handle) {
    bool started = false;
    if (!StartFormat(handle, kFormatBdReSpare, true, started)) return 0;
    if (!started) return 1;
    Stopwatch since;
    for (;;) {
        if (Mmc_TestUnitReady(handle)) return 1;
        const uint32_t position = Rec_SenseProgress(handle);
        Mmc_RecordError(handle, location::kBdFormatPoll);
        // The track's total is set already: the drive's position out of 65536 is scaled to it.
        const uint64_t scaled = uint64_t{position} * handle->rec.progressTotal / kProgressScale;
        if (!Rec_Progress(handle, kEventEraseProgress, static_cast<uint32_t>(scaled)) ||
            handle->rec.cancelled)
            return 0;
        host().sleep(kPollIntervalMs);
        if (since.elapsed() >= kBdFormatWaitMs) return 0;
    }
}

int Rec_FullFormatBdRe(RecHandle* handle) {
    bool started = false;
    return StartFormat(handle, kFormatFull, false, started);
}

} // namespace tvx
