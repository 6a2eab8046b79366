// The four volume burns: a plan from the host's source, the media checks, and the engine from
// preparation to the last close, with the optional verification.
#include "recording/engine.h"
#include "recording/engine_sink.h"
#include "recording/job_support.h"
#include "recording/verify.h"

#include <functional>

namespace tvx {

namespace {

inline constexpr const char* kDefaultLabel = "UDF102";

using FillPlan = std::function<bool(VolumePlan*)>;

// The engine calls of a volume burn, in order. Nonzero when everything (and the verification,
// when asked for) succeeded.
int StreamAndClose(RecHandle* handle, VolumePlan* plan, const TVX_BurnOptions* options,
                   uint32_t size) {
    const bool testWrite = options->mode == TVX_MODE_TEST_WRITE;
    bool ok = Rec_Prepare(handle, options) && Rec_BeginTrack(handle, 1, size, kBlockSize);
    if (ok) {
        EngineSink sink(handle);
        if (!Plan_Stream(plan, sink)) {
            if (!testWrite) Rec_FlushAndSync(handle);
            ok = false;
        }
    }
    ok = ok && Rec_FlushAndSync(handle) && Rec_CloseTrack(handle, 1) && Rec_CloseSession(handle, 1);
    if (ok) {
        int verified = options->mode == TVX_MODE_WRITE_VERIFY ? Verify_Volume(handle, plan) : 1;
        Rec_Finish(handle);
        return verified;
    }
    // A stopped disc is still closed, so that it stays readable.
    if (handle->rec.cancelled) {
        Rec_CloseTrack(handle, 1);
        Rec_CloseSession(handle, 1);
    }
    Rec_Finish(handle);
    return 0;
}

TVX_Result BurnVolume(RecHandle* handle, const TVX_BurnOptions* options, const char* label,
                      TVX_ProgressCallback callback, int32_t userData, const FillPlan& fill) {
    PlanPtr plan(Plan_Create(label ? label : kDefaultLabel));
    if (!plan) return TVX_ERR_COMMAND;
    if (!fill(plan.get())) return TVX_ERR_SOURCE;

    TVX_Result result = Job_CheckMedia(handle, options->mode);
    if (result != TVX_OK) return result;
    JobScope job(handle, callback, userData);

    if (!Plan_Layout(plan.get())) return TVX_ERR_COMMAND;
    const uint32_t size = Plan_VolumeSize(plan.get());
    result = Job_CheckSpace(handle, size);
    if (result != TVX_OK) return result;

    TransferBuffer buffer(handle);
    if (!buffer.attached()) return TVX_ERR_COMMAND;
    handle->rec.cancelled = 0;
    int ok = StreamAndClose(handle, plan.get(), options, size);
    return Job_RecordingResult(handle, ok != 0, options->mode);
}

} // namespace

} // namespace tvx

using namespace tvx;

extern "C" {

TVX_API TVX_Result TVX_CALL TVX_BurnVideoTsFolder(TVX_RecHandle handle,
                                                  const TVX_BurnOptions* options,
                                                  const char* folder, const char* label,
                                                  TVX_ProgressCallback callback, int32_t userData) {
    if (!options || !folder) return TVX_ERR_INVALID_ARG;
    return BurnVolume(handle, options, label, callback, userData, [folder](VolumePlan* plan) {
        return Plan_AddVideoTsFolder(plan, folder) != 0;
    });
}

TVX_API TVX_Result TVX_CALL TVX_BurnDVDVIDEO(TVX_RecHandle handle, const TVX_BurnOptions* options,
                                             const char* folder, const char* label,
                                             TVX_ProgressCallback callback, int32_t userData) {
    if (!options || !folder) return TVX_ERR_INVALID_ARG;
    return BurnVolume(handle, options, label, callback, userData, [folder](VolumePlan* plan) {
        return Plan_AddDvdVideoFolder(plan, folder) != 0;
    });
}

TVX_API TVX_Result TVX_CALL TVX_BurnVolumeData(TVX_RecHandle handle, const TVX_BurnOptions* options,
                                               const char* folder, const char* label,
                                               TVX_ProgressCallback callback, int32_t userData) {
    if (!options || !folder) return TVX_ERR_INVALID_ARG;
    return BurnVolume(handle, options, label, callback, userData, [folder](VolumePlan* plan) {
        return Plan_AddFolderContents(plan, folder) != 0;
    });
}

TVX_API TVX_Result TVX_CALL TVX_BurnFileSet(TVX_RecHandle handle, const TVX_BurnOptions* options,
                                            const TVX_FileSetEntry* entries, int32_t count,
                                            const char* label, TVX_ProgressCallback callback,
                                            int32_t userData) {
    if (!options || !entries) return TVX_ERR_INVALID_ARG;
    return BurnVolume(
        handle, options, label, callback, userData, [entries, count](VolumePlan* plan) {
            if (count <= 0) return false;
            for (int32_t i = 0; i < count; ++i) {
                if (!Plan_AddFileSetEntry(plan, entries[i].volumePath, entries[i].sourcePath))
                    return false;
            }
            return true;
        });
}

} // extern "C"
