#include "recording/job_support.h"

#include "mmc/commands.h"
#include "recording/media.h"

#include <new>

namespace tvx {

namespace {

inline constexpr uint16_t kFeatureDashWrite = 0x002F;

} // namespace

TransferBuffer::TransferBuffer(RecHandle* handle)
    : handle_(handle), allocation_(new (std::nothrow) uint8_t[kAllocationBytes]) {
    if (!allocation_) return;
    RecordingState& rec = handle_->rec;
    uintptr_t address = reinterpret_cast<uintptr_t>(allocation_);
    rec.bufferAllocation = allocation_;
    rec.buffer = allocation_ + ((16 - address % 16) % 16);
    rec.bufferCapacity = 0x10000;
    rec.bufferFill = 0;
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
    const uint32_t media = disc.mediaType;
    if ((media & kWritableDvdMask) == 0) return TVX_ERR_DISC_KIND;
    // Only a simulation needs the Test Write ability; a drive without it still records.
    if (IsDashMedia(media) && mode == TVX_MODE_TEST_WRITE) {
        FeatureInfo feature;
        if (Mmc_GetFeature(handle, kFeatureDashWrite, &feature) && !feature.testWrite)
            return TVX_ERR_MODE;
    }
    if (IsPlusMedia(media) && mode == TVX_MODE_TEST_WRITE) return TVX_ERR_MODE;
    if (!IsPlusRw(media) && !disc.blank) return TVX_ERR_DISC_NOT_WRITABLE;
    return TVX_OK;
}

uint32_t Job_DiscSpace(const TVX_DiscInfo& disc) {
    return IsPlusRw(disc.mediaType) ? disc.capacityBlocks : disc.freeBlocks;
}

TVX_Result Job_CheckSpace(const RecHandle* handle, uint64_t sectors) {
    return sectors > Job_DiscSpace(handle->discInfo) ? TVX_ERR_NO_SPACE : TVX_OK;
}

TVX_Result Job_RecordingResult(RecHandle* handle, bool succeeded, int32_t mode) {
    // A stop that came while the drive was finishing on its own (the disc was ejected mid-wait)
    // still counts as a stop, not as a complete recording.
    if (handle->rec.cancelled) {
        handle->rec.cancelled = 0;
        return TVX_ERR_CANCELLED;
    }
    if (succeeded) return TVX_OK;
    return mode == TVX_MODE_WRITE_VERIFY ? TVX_ERR_VERIFY : TVX_ERR_COMMAND;
}

} // namespace tvx
