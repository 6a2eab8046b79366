// Burning a finished volume image unchanged from the disc's first sector.
#include "recording/engine.h"
#include "recording/job_support.h"
#include "recording/verify.h"
#include "transport/job_lock.h"

#include <algorithm>

namespace tvx {

namespace {

// imageBytes: the image's size when it was opened, which the volume's sector count came from.
JobOutcome RecordImage(RecHandle* handle, HostFile& image, const char* imagePath,
                       const TVX_BurnOptions* options, uint64_t imageBytes) {
    const uint32_t sectors = static_cast<uint32_t>((imageBytes + kBlockSize - 1) / kBlockSize);
    Job_ChooseWriteOrder(handle, options->mode);
    // An empty image is written as it is: nothing, so the disc keeps what it holds. (A short
    // one still has sectors 16 to 271 zeroed first, past its end, so that no old volume's
    // structures remain beside it.)
    if (sectors == 0) handle->rec.commitOrder = 0;
    if (!Rec_Prepare(handle, options) || !Rec_BeginTrack(handle, 1, sectors, kBlockSize))
        return JobOutcome::Failed;
    const int written = Rec_WriteVolume(handle, sectors, [&](uint32_t first, uint32_t end) {
        const uint64_t from = uint64_t{first} * kBlockSize;
        const uint64_t to = std::min<uint64_t>(imageBytes, uint64_t{end} * kBlockSize);
        return to <= from || (image.seek(from) && Rec_WriteFileBytes(handle, image, to - from));
    });
    // An image that changed size while it was read is not the one that was measured.
    if (!written || image.currentSize() != imageBytes) {
        if (handle->rec.writeFailed) return JobOutcome::Failed;
        // The engine took every sector it was given: the image itself could not be read.
        Job_RecordSource(handle, imagePath);
        return JobOutcome::SourceFailed;
    }
    if (!Rec_FlushAndSync(handle)) return JobOutcome::Failed;
    if (handle->rec.commitOrder) handle->rec.volumeCommitted = 1;
    if (!Rec_CloseTrack(handle, 1) || !Rec_CloseSession(handle, 1)) return JobOutcome::Failed;
    return JobOutcome::Done;
}

JobOutcome VerifyImage(RecHandle* handle, HostFile& image, const char* imagePath,
                       uint64_t imageBytes) {
    VerifyResult verified =
        image.seek(0) ? Verify_Region(handle, 0, image) : VerifyResult::SourceFailed;
    if (verified == VerifyResult::Equal && image.currentSize() != imageBytes)
        verified = VerifyResult::SourceFailed;
    if (verified == VerifyResult::SourceFailed) {
        Job_RecordSource(handle, imagePath);
        return JobOutcome::SourceFailed;
    }
    return verified == VerifyResult::Equal ? JobOutcome::Done : JobOutcome::Failed;
}

} // namespace

} // namespace tvx

using namespace tvx;

extern "C" TVX_API TVX_Result TVX_CALL TVX_BurnVolumeImage(TVX_RecHandle handle,
                                                           const TVX_BurnOptions* options,
                                                           const char* imagePath,
                                                           TVX_ProgressCallback callback,
                                                           int32_t userData) {
    if (!options || !imagePath) return TVX_ERR_INVALID_ARG;
    JobLock lock(handle);
    if (!lock.held()) return TVX_ERR_NOT_READY;
    TVX_Result result = Job_CheckMedia(handle, options->mode);
    if (result != TVX_OK) return result;
    JobScope job(handle, callback, userData);
    // Opening never waits (a pipe with no writer) and takes regular files only: an image that
    // cannot be read is refused before anything is written.
    std::unique_ptr<HostFile> image = host().openFile(imagePath, FileAccess::Read);
    if (!image) {
        Job_RecordSource(handle, imagePath);
        return TVX_ERR_SOURCE;
    }

    const uint64_t imageBytes = image->size();
    const uint64_t sectors = (imageBytes + kBlockSize - 1) / kBlockSize;
    result = Job_CheckSpace(handle, sectors);
    if (result != TVX_OK) return result;

    TransferBuffer buffer(handle);
    if (!buffer.attached()) return TVX_ERR_COMMAND;
    handle->rec.cancelled = 0;
    JobOutcome outcome = RecordImage(handle, *image, imagePath, options, imageBytes);
    const bool recordingFailed = outcome == JobOutcome::Failed;
    // The image is a volume too: one that did not complete must not look like one.
    if (outcome != JobOutcome::Done)
        Job_LeaveIncomplete(handle);
    else if (options->mode == TVX_MODE_WRITE_VERIFY)
        outcome = VerifyImage(handle, *image, imagePath, imageBytes);
    // A disc the drive was still closing stays in: the record keeps the finishing step that
    // failed, not the eject after it.
    const TVX_LastError finishing = handle->lastError;
    Rec_Finish(handle);
    if (recordingFailed && handle->rec.volumeCommitted && !handle->rec.discLost)
        handle->lastError = finishing;
    return Job_RecordingResult(handle, outcome, options->mode);
}
