// The disc query: kind, state and space of the disc in the drive.
#include "torvexin.h"

#include "frame/library_state.h"
#include "mmc/commands.h"
#include "mmc/execute.h"
#include "mmc/locations.h"

#include <algorithm>
#include <cstring>

using namespace tvx;

namespace {

constexpr uint32_t kBlockBytes = 2048;
constexpr uint8_t kDiscStatusEmpty = 0;
constexpr uint8_t kDiscStatusFinalised = 2;
constexpr uint8_t kSessionReserved = 2;
// A file system on a disc written in place leaves its descriptors in blocks 16 to 31.
constexpr uint32_t kContentFirstBlock = 16;
constexpr uint32_t kContentLastBlock = 31;

uint32_t Clamp32(uint64_t v) {
    return static_cast<uint32_t>(std::min<uint64_t>(v, UINT32_MAX));
}

void FillFromTrack(RecHandle* handle, const DiscInformation& disc, TVX_DiscInfo& info) {
    TrackInformation track;
    if (!Mmc_ReadTrackInfo(handle, disc.lastTrackInLastSession, &track)) {
        info.freeBlocks = 0;
        info.usedBlocks = 0;
        // Some read-only drives know no track information; a finalised disc is then recorded
        // up to its last readable block, which READ CAPACITY reports.
        uint32_t lastLba = 0;
        if (disc.discStatus == kDiscStatusFinalised && Mmc_ReadCapacity(handle, &lastLba) &&
            lastLba != UINT32_MAX) {
            info.usedBlocks = lastLba + 1;
        }
        return;
    }
    info.freeBlocks = track.freeBlocks;
    // Addresses are signed: a CD's first track may be reported from its pregap at -150.
    const int64_t trackEnd =
        std::max<int64_t>(0, int64_t{static_cast<int32_t>(track.trackStart)} + track.trackSize);
    int64_t recordedEnd = trackEnd;
    if (track.lastRecordedValid) {
        recordedEnd = int64_t{track.lastRecorded} + 1;
    } else if (track.nextWritableValid) {
        recordedEnd = track.nextWritable;
    }
    info.usedBlocks =
        info.blank ? 0 : Clamp32(static_cast<uint64_t>(std::min(recordedEnd, trackEnd)));
}

// True when any of the blocks holds a nonzero byte; a block that cannot be read ends the check
// with what was seen so far.
bool HoldsVolume(RecHandle* handle) {
    uint8_t block[kBlockBytes];
    for (uint32_t lba = kContentFirstBlock; lba <= kContentLastBlock; ++lba) {
        std::memset(block, 0, sizeof block);
        if (!Mmc_Read10(handle, block, kBlockBytes, lba, 1)) return false;
        if (std::any_of(block, block + kBlockBytes, [](uint8_t b) { return b != 0; })) {
            return true;
        }
    }
    return false;
}

// A DVD+RW reports itself as complete once formatted, whatever it holds, so its content decides.
// DVD-RAM and restricted-overwrite DVD-RW keep the drive's answer (the burns take them as media
// written over in place on their own).
void ApplyPlusRwContent(RecHandle* handle, TVX_DiscInfo& info) {
    uint32_t current = 0, formattable = 0;
    if (!Mmc_GetFormatCapacity(handle, &current, &formattable)) current = formattable = 0;
    if (HoldsVolume(handle)) {
        info.blank = 0;
        info.canErase = 1;
        info.freeBlocks = 0;
        info.usedBlocks = current;
        info.appendable = ExtendedMode ? 1 : 0; // writing over content only in extended mode
    } else {
        info.blank = 1;
        info.canErase = 0;
        info.appendable = 1;
        info.freeBlocks = formattable;
        info.usedBlocks = 0;
    }
}

void ApplyDvdRwFormatCapacity(RecHandle* handle, TVX_DiscInfo& info) {
    uint32_t current = 0, formattable = 0;
    if (!Mmc_GetFormatCapacity(handle, &current, &formattable)) return;
    if (formattable > 0) info.capacityBlocks = formattable;
    if (info.freeBlocks > formattable) info.freeBlocks = formattable;
}

// Blocks of the data area from the physical format; 0 when the drive's addresses make no sense.
uint32_t PhysicalCapacity(const PhysicalFormat& format) {
    const uint32_t end = format.layerField == 0 ? format.dataEnd : format.layer0End;
    if (format.dataStart == 0 || end == 0 || end < format.dataStart) return 0;
    const uint64_t layer = uint64_t{end} - format.dataStart + 1;
    return Clamp32(format.layerField == 0 ? layer : 2 * layer);
}

} // namespace

extern "C" {

TVX_API TVX_Result TVX_CALL TVX_GetDiscInfo(TVX_RecHandle handle, TVX_DiscInfo* out) {
    if (!out) return TVX_ERR_INVALID_ARG;
    if (!Mmc_TestUnitReady(handle)) return TVX_ERR_NOT_READY;
    std::memset(out, 0, sizeof *out);
    TVX_DiscInfo& info = *out;

    FeatureInfo features;
    if (!Mmc_GetFeature(handle, 0x0000, &features)) {
        Mmc_RecordError(handle, location::kDiscInfoProfiles);
        return TVX_ERR_COMMAND;
    }
    info.mediaType = Media_FromProfile(features.currentProfile);
    handle->discProfile = features.currentProfile;

    DiscInformation disc;
    if (!Mmc_ReadDiscInfo(handle, &disc)) {
        Mmc_RecordError(handle, location::kDiscInfoReadDiscInfo);
        return TVX_ERR_COMMAND;
    }
    info.blank = disc.discStatus == kDiscStatusEmpty;
    info.canErase = disc.erasable && (disc.discStatus != kDiscStatusEmpty ||
                                      disc.lastSessionState == kSessionReserved);
    info.appendable =
        disc.discStatus != kDiscStatusFinalised && disc.lastSessionState != kSessionReserved;

    FillFromTrack(handle, disc, info);
    // A DVD+RW reports itself as complete once formatted, whatever it holds; so does a BD-RE,
    // judged the same way once the host has asked for BD-RE recording.
    if (info.mediaType == MediaDvdPlusRw ||
        (info.mediaType == MediaBdRe && (WritableMedia & MediaBdRe) != 0))
        ApplyPlusRwContent(handle, info);

    info.capacityBlocks = Clamp32(uint64_t{info.freeBlocks} + info.usedBlocks);
    info.blockSize = kBlockBytes;
    if (info.mediaType == MediaDvdRw) ApplyDvdRwFormatCapacity(handle, info);

    PhysicalFormat format;
    if (Mmc_GetPhysicalFormat(handle, &format)) {
        info.protectionSystem = format.protectionSystem;
        if (info.capacityBlocks == 0) info.capacityBlocks = PhysicalCapacity(format);
    }
    return TVX_OK;
}

} // extern "C"
