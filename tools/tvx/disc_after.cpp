#include "disc_after.h"

#include "burn_report.h"
#include "results.h"

#include <cstdio>
#include <unistd.h>

namespace tvxcli {

namespace {

constexpr uint32_t kWriteOnce =
    MediaDvdR | MediaDvdRDualLayer | MediaDvdPlusR | MediaDvdPlusRDualLayer;

// How long a drive may take to finish closing a disc after the job stopped waiting for it.
constexpr int kCloseWaitSeconds = 600;

std::string Sectors(uint32_t n) {
    return std::to_string(n) + (n == 1 ? " sector" : " sectors");
}

// The disc's answer once the drive is ready: a close that a stop could not cut short goes on
// in the drive, which answers "not ready" until it is done.
bool ReadWhenReady(TVX_RecHandle handle, TVX_DiscInfo& info) {
    for (int second = 0; second < kCloseWaitSeconds; ++second) {
        TVX_Result result = TVX_GetDiscInfo(handle, &info);
        if (result != TVX_ERR_NOT_READY) return result == TVX_OK;
        uint32_t state = 0;
        TVX_GetDriveStatus(handle, TVX_STATUS_TRAY_OPEN | TVX_STATUS_MEDIUM_PRESENT, &state);
        if ((state & TVX_STATUS_TRAY_OPEN) || !(state & TVX_STATUS_MEDIUM_PRESENT)) return false;
        if (second == 0)
            std::fprintf(stderr, "  waiting for the drive to finish with the disc...\n");
        ::sleep(1);
    }
    return false;
}

} // namespace

DiscAfterJob ReadDiscAfterJob(TVX_RecHandle handle) {
    DiscAfterJob after;
    after.read = ReadWhenReady(handle, after.info);
    if (after.read || TVX_LoadMedia(handle) != TVX_OK) return after;
    after.read = ReadWhenReady(handle, after.info);
    TVX_EjectMedia(handle);
    return after;
}

std::string DescribeDiscAfter(TVX_Result result, uint32_t mediaBefore, bool writtenInPlace,
                              const JobFacts& facts, bool testWrite, bool volumeWhole,
                              bool readBackFailed, const DiscAfterJob& after) {
    if (result == TVX_OK) return "";
    if (testWrite) return "test write: nothing was recorded, the disc is unchanged";
    if (!facts.trackBegun) return "nothing was written, the disc is unchanged";
    if (volumeWhole) return VolumeWholeState(after.read ? after.info.mediaType : mediaBefore);
    if (!after.read)
        return "the drive does not report the disc's state now; load it and run tvx info before "
               "relying on it";
    const TVX_DiscInfo& disc = after.info;
    const std::string kind = MediaName(disc.mediaType);
    const bool dashRw = disc.mediaType & MediaDvdRw;
    const std::string eraseHint = dashRw ? " (erase it first with tvx erase)" : "";
    if (disc.blank) {
        if (disc.mediaType & kWriteOnce)
            return "the drive reports the " + kind + " blank: nothing was recorded on it";
        return "the drive reports the " + kind +
               " blank: it holds no volume (none was written, or its volume descriptors were "
               "overwritten); burn it again" +
               eraseHint;
    }
    // The volume was written and closed; the read-back found it otherwise than written.
    if (readBackFailed)
        return "the drive reports the " + kind + " holding " +
               (writtenInPlace
                    ? std::string("a volume")
                    : Sectors(disc.usedBlocks) + (disc.appendable ? " in an open session" : "")) +
               ", but it was not read back as the source: do not rely on it";
    if (writtenInPlace && !facts.writing)
        return "no sector was written: the " + kind + " holds what it held before";
    // A formatted DVD-RAM or DVD-RW is reported as recorded whatever it holds; the library says
    // whether it overwrote the volume structures again.
    if (writtenInPlace && after.structuresCleared)
        return "the burn did not complete, and the " + kind +
               " holds nothing a reader could take for the new volume (once writing began its "
               "volume structures were overwritten again); burn it again";
    if (writtenInPlace)
        return "the drive reports data on the " + kind +
               ", but the burn did not complete and its old volume could not be cleared: do not "
               "rely on it; erase it with tvx erase";
    // How far writing got is the job's own count: a closed disc reports its reserved track as
    // recorded, and an open track's recorded end is not always reported.
    const uint32_t size = facts.trackBlocks;
    const std::string ofVolume = size ? " of the volume's " + std::to_string(size) : "";
    const std::string reached =
        facts.writtenWhole ? "all " + Sectors(size) + " of the volume were written"
        : facts.writing
            ? "writing ended after about " + std::to_string(facts.written) + ofVolume + " sectors"
            : "its track was reserved, nothing written to it";
    if (!disc.appendable) {
        if (facts.writtenWhole && size && disc.usedBlocks >= size)
            return "the drive reports the " + kind +
                   " closed and whole: " + Sectors(disc.usedBlocks) +
                   " recorded, the whole volume; it reads as burned (it was not verified)";
        return "the drive reports the " + kind + " closed with " + Sectors(disc.usedBlocks) +
               " recorded, but " + reached + ": the volume is not whole; do not rely on it";
    }
    return "the drive reports the " + kind + " open and partial: " + reached +
           "; its session is left open so that no drive presents it as a finished disc; " +
           (dashRw ? "erase it with tvx erase before burning it again"
                   : "being write-once, it cannot be burned again");
}

} // namespace tvxcli
