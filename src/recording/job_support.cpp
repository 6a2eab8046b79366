#include "recording/job_support.h"

#include "frame/library_state.h"
#include "mmc/commands.h"
#include "mmc/execute.h"
#include "mmc/locations.h"
#include "recording/engine.h"
#include "recording/media.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <new>

namespace tvx {

namespace {

inline constexpr uint16_t kFeatureDashWrite = 0x002F;
inline constexpr uint16_t kFeatureProfileList = 0x0000;
inline constexpr const char* kSourceCategory = "Source";
inline constexpr uint32_t kRestrictedPacket = 16;
inline constexpr uint16_t kFeatureRealTimeStreaming = 0x0107;

} // namespace

TransferBuffer::TransferBuffer(RecHandle* handle)
    : handle_(handle), allocation_(new (std::nothrow) uint8_t[kAllocationBytes]) {
    if (!allocation_) return;
    RecordingState& rec = handle_->rec;
    uintptr_t address = reinterpret_cast<uintptr_t>(allocation_);
    rec.bufferAllocation = allocation_;
    rec.buffer = allocation_ + ((16 - address % 16) % 16);
    // Each full buffer goes to the drive as one WRITE: no larger than the path takes.
    rec.bufferCapacity = std::min<uint32_t>(0x10000, Mmc_TransferLimit(handle_));
    rec.bufferFill = 0;
    rec.writeBegan = 0;
    rec.writeFailed = 0;
    rec.progressBlocks = 0;
    rec.commitOrder = 0;
    rec.packetBlocks = 0;
    rec.volumeCommitted = 0;
    rec.testWriteRefused = 0;
    rec.streamWrites = 0;
    rec.cdSessionAtOnce = 0;
}

TransferBuffer::~TransferBuffer() {
    if (!allocation_) return;
    RecordingState& rec = handle_->rec;
    rec.bufferAllocation = nullptr;
    rec.buffer = nullptr;
    rec.bufferCapacity = 0;
    rec.bufferFill = 0;
    delete[] allocation_;
}

JobScope::JobScope(RecHandle* handle, TVX_ProgressCallback callback, int32_t userData)
    : handle_(handle) {
    handle_->rec.callback = callback;
    handle_->rec.userData = userData;
}

JobScope::~JobScope() {
    RecordingState& rec = handle_->rec;
    rec.callback = nullptr;
    rec.userData = 0;
    rec.progressValue = 0;
    rec.progressTotal = 0;
}

TVX_Result Job_CheckMedia(RecHandle* handle, int32_t mode) {
    TVX_DiscInfo disc;
    TVX_Result result = TVX_GetDiscInfo(handle, &disc);
    if (result != TVX_OK) return result;
    handle->discInfo = disc;
    // From here on the job works on this disc: a medium change or a reset ends it.
    handle->rec.discSeen = 1;
    const uint32_t media = disc.mediaType;
    if ((media & WritableMedia) == 0) return TVX_ERR_DISC_KIND;
    // A BD-R in random recording mode would need defect management written by the host.
    if (IsBdR(media) && handle->discProfile == kProfileBdRRandom) return TVX_ERR_DISC_KIND;
    // Simulation is offered for DVD-R and DVD-RW only.
    if ((IsBdMedia(media) || IsCdMedia(media)) && mode == TVX_MODE_TEST_WRITE) return TVX_ERR_MODE;
    // Only a simulation needs the Test Write ability; a drive without it still records.
    if (IsDashMedia(media) && mode == TVX_MODE_TEST_WRITE) {
        FeatureInfo feature;
        if (Mmc_GetFeature(handle, kFeatureDashWrite, &feature) && !feature.testWrite)
            return TVX_ERR_MODE;
    }
    if (IsPlusMedia(media) && mode == TVX_MODE_TEST_WRITE) return TVX_ERR_MODE;
    // Drives report media written in place as complete (or "others") once formatted.
    if (!disc.blank && !IsWrittenInPlace(media, handle->discProfile))
        return TVX_ERR_DISC_NOT_WRITABLE;
    return TVX_OK;
}

uint32_t Job_DiscSpace(const TVX_DiscInfo& disc, uint16_t profile) {
    return IsWrittenInPlace(disc.mediaType, profile) ? disc.capacityBlocks : disc.freeBlocks;
}

TVX_Result Job_CheckSpace(const RecHandle* handle, uint64_t sectors) {
    return sectors > Job_DiscSpace(handle->discInfo, handle->discProfile) ? TVX_ERR_NO_SPACE
                                                                          : TVX_OK;
}

TVX_Result Job_RecordingResult(RecHandle* handle, JobOutcome outcome, int32_t mode) {
    // A stop that came while the drive was finishing on its own (the disc was ejected mid-wait)
    // still counts as a stop, not as a complete recording.
    if (handle->rec.cancelled) {
        handle->rec.cancelled = 0;
        return TVX_ERR_CANCELLED;
    }
    if (handle->rec.testWriteRefused) return TVX_ERR_MODE;
    if (outcome == JobOutcome::Done) return TVX_OK;
    if (outcome == JobOutcome::SourceFailed) return TVX_ERR_SOURCE;
    return mode == TVX_MODE_WRITE_VERIFY ? TVX_ERR_VERIFY : TVX_ERR_COMMAND;
}

const WriteRun* Job_FailedFileRun(const VolumePlan* plan, uint64_t sector) {
    const WriteRun* candidate = nullptr;
    for (const WriteRun& run : plan->writeList) {
        if (run.kind != RunKind::File || run.start > sector ||
            run.start + uint64_t{run.sectorCount} < sector)
            continue;
        std::unique_ptr<HostFile> file = host().openFile(run.hostPath(), FileAccess::Read);
        if (!file || file->size() != run.plannedSize()) return &run;
        candidate = &run;
    }
    return candidate;
}

void Job_RecordSource(RecHandle* handle, const char* path) {
    if (!handle) return;
    std::snprintf(handle->sourceText, sizeof handle->sourceText, "%s", path ? path : "");
    TVX_LastError& record = handle->lastError;
    record = TVX_LastError{};
    record.description = handle->sourceText;
    record.category = kSourceCategory;
    record.location = location::kSourceFile;
}

void Job_RecordRefusal(RecHandle* handle, const std::string& path, const std::string& rule) {
    if (!handle) return;
    Job_RecordSource(handle, (path + ": " + rule).c_str());
    handle->lastError.location = location::kSourceRefused;
}

bool Job_RewritableDisc(RecHandle* handle) {
    const uint32_t media = handle->discInfo.mediaType;
    if (IsPlusRw(media) || media == MediaDvdRam || IsBdRe(media)) return true;
    if (media != MediaDvdRw) return false;
    // A DVD-RW is written over only in restricted overwrite; sequentially it is write-once.
    FeatureInfo profiles;
    return Mmc_GetFeature(handle, kFeatureProfileList, &profiles) &&
           profiles.currentProfile == kProfileDvdRwRestricted;
}

void Job_ChooseWriteOrder(RecHandle* handle, int32_t mode) {
    RecordingState& rec = handle->rec;
    const bool inPlace = mode != TVX_MODE_TEST_WRITE && Job_RewritableDisc(handle);
    rec.commitOrder = inPlace ? 1 : 0;
    // Restricted overwrite takes whole packets only: a shorter last WRITE makes the drive read,
    // merge and rewrite the packet, and some drives refuse it outright.
    const bool restricted =
        handle->discInfo.mediaType == MediaDvdRw && handle->discProfile == kProfileDvdRwRestricted;
    rec.packetBlocks = restricted ? kRestrictedPacket : 0;
    // A sequential BD-R takes whole clusters only: the last write is padded to one.
    if (IsBdR(handle->discInfo.mediaType)) rec.packetBlocks = kBdClusterBlocks;
    // A BD-RE written with defect management runs at half speed (the drive verifies after
    // writing). Streaming writes skip that, so only a burn whose verify pass reads everything
    // back streams; without it the drive's own check stays.
    FeatureInfo streaming;
    rec.streamWrites = IsBdRe(handle->discInfo.mediaType) && mode == TVX_MODE_WRITE_VERIFY &&
                       Mmc_TransferLimit(handle) >= kTransferBufferBytes &&
                       Mmc_GetFeature(handle, kFeatureRealTimeStreaming, &streaming) &&
                       streaming.current && streaming.streamWriting;
}

void Job_LeaveIncomplete(RecHandle* handle) {
    RecordingState& rec = handle->rec;
    // Nothing is written to a disc that may be another.
    if (rec.testWrite || !rec.writeBegan || rec.discLost) return;
    // Everything was written and flushed: the volume stays, only finishing the disc failed, and
    // the record keeps the step that failed (the close of a DVD+RW).
    if (rec.volumeCommitted) return;
    // Nothing more of the volume goes to the disc, and the host's stop ended the recording, not
    // this clean-up: no events, so that the waits below are not ended (and the disc ejected)
    // before the volume structures are gone.
    rec.bufferFill = 0;
    const TVX_ProgressCallback callback = rec.callback;
    const int32_t cancelled = rec.cancelled;
    rec.callback = nullptr;
    rec.cancelled = 0;
    // The record keeps describing why the recording failed unless the clean-up fails too.
    const TVX_LastError cause = handle->lastError;
    if (Job_RewritableDisc(handle)) {
        if (Rec_WipeVolume(handle))
            handle->lastError = cause;
        else
            Mmc_RecordError(handle, location::kIncompleteWipe);
    }
    // A write-once disc keeps its track and session open: a flush would pad and close a
    // session-at-once track, and a close would present the disc as finished.
    rec.callback = callback;
    rec.cancelled = cancelled;
}

} // namespace tvx
