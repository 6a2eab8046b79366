// Burning a finished volume image unchanged from the disc's first sector.
#include "recording/engine.h"
#include "recording/job_support.h"
#include "recording/verify.h"

namespace tvx {

namespace {

int WriteImage(RecHandle* handle, HostFile& image, const TVX_BurnOptions* options,
               uint32_t sectors) {
    if (!Rec_Prepare(handle, options) || !Rec_BeginTrack(handle, 1, sectors, kBlockSize)) return 0;
    if (!Rec_WriteFile(handle, image)) {
        Rec_FlushAndSync(handle);
        return 0;
    }
    if (!Rec_FlushAndSync(handle) || !Rec_CloseTrack(handle, 1) || !Rec_CloseSession(handle, 1))
        return 0;
    if (options->mode != TVX_MODE_WRITE_VERIFY) return 1;
    return image.seek(0) && Verify_Region(handle, 0, image);
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
    TVX_Result result = Job_CheckMedia(handle, options->mode);
    if (result != TVX_OK) return result;
    JobScope job(handle, callback, userData);

    std::unique_ptr<HostFile> image = host().openFile(imagePath, FileAccess::Read);
    if (!image) return TVX_ERR_SOURCE;
    const uint64_t sectors = (image->size() + kBlockSize - 1) / kBlockSize;
    result = Job_CheckSpace(handle, sectors);
    if (result != TVX_OK) return result;

    TransferBuffer buffer(handle);
    if (!buffer.attached()) return TVX_ERR_COMMAND;
    handle->rec.cancelled = 0;
    int ok = WriteImage(handle, *image, options, static_cast<uint32_t>(sectors));
    // Unlike a volume burn, a stopped image burn is left as it is.
    Rec_Finish(handle);
    return Job_RecordingResult(handle, ok != 0, options->mode);
}
