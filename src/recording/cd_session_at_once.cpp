// A CD written session at once, for drives that do not write track at once: the cue sheet
// describes the one mode 1 track and its lead-out, the host writes from the pregap on, and the
// drive closes the session and the disc itself when the cache is flushed.
#include "mmc/commands.h"
#include "mmc/execute.h"
#include "mmc/locations.h"
#include "recording/engine.h"
#include "recording/media.h"

#include <memory>
#include <new>

namespace tvx {

namespace {

inline constexpr uint16_t kFeatureTrackAtOnce = 0x002D;
inline constexpr uint16_t kFeatureSessionAtOnce = 0x002E;
inline constexpr uint8_t kControlDataAdr1 = 0x41; // data track, position sub-channel
inline constexpr uint8_t kFormMode1 = 0x10;       // 2048 bytes of user data per block
inline constexpr uint8_t kFormLeadInOut = 0x14;   // lead-in and lead-out of a data disc
inline constexpr uint8_t kLeadOut = 0xAA;
// The first track's pregap: 2 seconds before LBA 0, from 00:00:00.
inline constexpr uint32_t kPregapBlocks = 150;
inline constexpr uint32_t kCueEntries = 4;
inline constexpr uint32_t kCueEntryBytes = 8;

void PutEntry(uint8_t* e, uint8_t track, uint8_t index, uint8_t form, uint32_t frames) {
    e[0] = kControlDataAdr1;
    e[1] = track;
    e[2] = index;
    e[3] = form;
    e[4] = 0;
    e[5] = static_cast<uint8_t>(frames / (60 * 75));
    e[6] = static_cast<uint8_t>(frames / 75 % 60);
    e[7] = static_cast<uint8_t>(frames % 75);
}

bool Current(RecHandle* handle, uint16_t feature) {
    FeatureInfo info;
    return Mmc_GetFeature(handle, feature, &info) && info.current;
}

} // namespace

bool Rec_CdNeedsSessionAtOnce(RecHandle* handle) {
    return IsCdMedia(handle->discInfo.mediaType) && !Current(handle, kFeatureTrackAtOnce) &&
           Current(handle, kFeatureSessionAtOnce);
}

int Rec_BeginCdSessionAtOnce(RecHandle* handle, uint32_t blocks) {
    // Lead-in, the track's pregap (index 0) and its data (index 1), then the lead-out; times
    // count from the pregap at 00:00:00.
    uint8_t sheet[kCueEntries * kCueEntryBytes] = {};
    PutEntry(sheet, 0, 0, kFormLeadInOut, 0);
    PutEntry(sheet + 8, 1, 0, kFormMode1, 0);
    PutEntry(sheet + 16, 1, 1, kFormMode1, kPregapBlocks);
    PutEntry(sheet + 24, kLeadOut, 1, kFormLeadInOut, kPregapBlocks + blocks);
    if (!Mmc_SendCueSheet(handle, sheet, sizeof sheet)) {
        Mmc_RecordError(handle, location::kCdCueSheet);
        return 0;
    }
    std::unique_ptr<uint8_t[]> zeros(new (std::nothrow) uint8_t[kPregapBlocks * kBlockSize]());
    if (!zeros) return 0;
    // The command layer splits the write where the path to the drive needs it.
    const uint32_t first = static_cast<uint32_t>(-static_cast<int32_t>(kPregapBlocks));
    if (!Mmc_Write10(handle, zeros.get(), kPregapBlocks * kBlockSize, first, kPregapBlocks)) {
        Mmc_RecordError(handle, location::kCdPregap);
        return 0;
    }
    return 1;
}

} // namespace tvx
