// The four volume burns: a plan from the host's source, the media checks, and the engine from
// preparation to the last close, with the optional verification.
#include "image/source_check.h"
#include "recording/engine.h"
#include "recording/engine_sink.h"
#include "recording/job_support.h"
#include "recording/verify.h"
#include "transport/job_lock.h"

#include <functional>
#include <memory>

namespace tvx {

namespace {

// Fills the plan from the host's source; on failure names the source that failed.
using FillPlan = std::function<bool(VolumePlan*, const char** failed)>;

// The engine calls of a volume burn, in order, and the verification when asked for.
JobOutcome StreamAndClose(RecHandle* handle, VolumePlan* plan, const TVX_BurnOptions* options,
                          uint32_t size) {
    JobOutcome failure = JobOutcome::Failed;
    Job_ChooseWriteOrder(handle, options->mode);
    bool ok = Rec_Prepare(handle, options) && Rec_BeginTrack(handle, 1, size, kBlockSize);
    if (ok) {
        EngineSink sink(handle);
        ok = Rec_WriteVolume(handle, size, [&](uint32_t first, uint32_t end) {
            if (Plan_StreamRange(plan, sink, first, end)) return 1;
            // The engine took every sector it was given: a host file failed.
            if (!handle->rec.writeFailed) {
                const RecordingState& rec = handle->rec;
                const uint64_t given = uint64_t{rec.nextAddress - rec.trackStart} +
                                       (rec.blockSize ? rec.bufferFill / rec.blockSize : 0);
                const WriteRun* run = Job_FailedFileRun(plan, given);
                Job_RecordSource(handle, run ? run->hostPath().c_str() : "");
                failure = JobOutcome::SourceFailed;
            }
            return 0;
        });
    }
    ok = ok && Rec_FlushAndSync(handle);
    if (ok && handle->rec.commitOrder) handle->rec.volumeCommitted = 1;
    ok = ok && Rec_CloseTrack(handle, 1) && Rec_CloseSession(handle, 1);
    if (ok) {
        // The volume is complete; what the verification finds does not change the disc.
        VerifyResult verified = options->mode == TVX_MODE_WRITE_VERIFY ? Verify_Volume(handle, plan)
                                                                       : VerifyResult::Equal;
        Rec_Finish(handle);
        if (verified == VerifyResult::SourceFailed) return JobOutcome::SourceFailed;
        return verified == VerifyResult::Equal ? JobOutcome::Done : JobOutcome::Failed;
    }
    // A volume that did not complete must not look like one (stopped burns included); one that
    // is whole on the disc stays, and only its finishing failed.
    Job_LeaveIncomplete(handle);
    // A disc the drive was still closing stays in: the record keeps the finishing step that
    // failed, which tells the host the volume is whole, not the eject after it.
    const TVX_LastError finishing = handle->lastError;
    Rec_Finish(handle);
    if (handle->rec.volumeCommitted && !handle->rec.discLost) handle->lastError = finishing;
    return failure;
}

TVX_Result BurnVolume(RecHandle* handle, const TVX_BurnOptions* options, const char* label,
                      TVX_ProgressCallback callback, int32_t userData, const FillPlan& fill) {
    JobLock lock(handle);
    if (!lock.held()) return TVX_ERR_NOT_READY;
    PlanPtr plan(Plan_Create(label ? label : kDefaultVolumeLabel));
    if (!plan) return TVX_ERR_COMMAND;
    plan->scanOpensFiles = true; // for the check of every source below
    const char* failed = nullptr;
    if (!fill(plan.get(), &failed)) {
        // A source the volume cannot record is named with the rule it breaks.
        if (!plan->refusal.empty())
            Job_RecordRefusal(handle, plan->refusal.path, plan->refusal.rule);
        else
            Job_RecordSource(handle, failed);
        return TVX_ERR_SOURCE;
    }
    // A source that cannot be read is refused now, not part way through a write-once disc.
    std::string unreadable;
    if (!Plan_CheckSources(plan.get(), &unreadable)) {
        Job_RecordSource(handle, unreadable.c_str());
        return TVX_ERR_SOURCE;
    }

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
    return Job_RecordingResult(handle, StreamAndClose(handle, plan.get(), options, size),
                               options->mode);
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
    return BurnVolume(handle, options, label, callback, userData,
                      [folder](VolumePlan* plan, const char** failed) {
                          *failed = folder;
                          return Plan_AddVideoTsFolder(plan, folder) != 0;
                      });
}

TVX_API TVX_Result TVX_CALL TVX_BurnDVDVIDEO(TVX_RecHandle handle, const TVX_BurnOptions* options,
                                             const char* folder, const char* label,
                                             TVX_ProgressCallback callback, int32_t userData) {
    if (!options || !folder) return TVX_ERR_INVALID_ARG;
    return BurnVolume(handle, options, label, callback, userData,
                      [folder](VolumePlan* plan, const char** failed) {
                          *failed = folder;
                          return Plan_AddDvdVideoFolder(plan, folder) != 0;
                      });
}

TVX_API TVX_Result TVX_CALL TVX_BurnVolumeData(TVX_RecHandle handle, const TVX_BurnOptions* options,
                                               const char* folder, const char* label,
                                               TVX_ProgressCallback callback, int32_t userData) {
    if (!options || !folder) return TVX_ERR_INVALID_ARG;
    return BurnVolume(handle, options, label, callback, userData,
                      [folder](VolumePlan* plan, const char** failed) {
                          *failed = folder;
                          return Plan_AddFolderContents(plan, folder) != 0;
                      });
}

TVX_API TVX_Result TVX_CALL TVX_BurnFileSet(TVX_RecHandle handle, const TVX_BurnOptions* options,
                                            const TVX_FileSetEntry* entries, int32_t count,
                                            const char* label, TVX_ProgressCallback callback,
                                            int32_t userData) {
    if (!options || !entries) return TVX_ERR_INVALID_ARG;
    return BurnVolume(
        handle, options, label, callback, userData,
        [entries, count](VolumePlan* plan, const char** failed) {
            if (count <= 0) return false;
            for (int32_t i = 0; i < count; ++i) {
                // A bad volume path is named by itself; any other failure by its host file.
                const bool goodPath = Plan_IsFileSetPath(entries[i].volumePath);
                *failed = goodPath || !entries[i].volumePath ? entries[i].sourcePath
                                                             : entries[i].volumePath;
                if (!Plan_AddFileSetEntry(plan, entries[i].volumePath, entries[i].sourcePath))
                    return false;
            }
            return true;
        });
}

} // extern "C"
