// Erasing a DVD-RW or a DVD+RW that holds something.
#include "frame/library_state.h"
#include "recording/engine.h"
#include "recording/job_support.h"
#include "recording/media.h"
#include "transport/job_lock.h"

using namespace tvx;

extern "C" TVX_API TVX_Result TVX_CALL TVX_EraseDisc(TVX_RecHandle handle, int32_t quick,
                                                     TVX_ProgressCallback callback,
                                                     int32_t userData) {
    JobLock lock(handle);
    if (!lock.held()) return TVX_ERR_NOT_READY;
    TVX_DiscInfo disc;
    TVX_Result result = TVX_GetDiscInfo(handle, &disc);
    if (result != TVX_OK) return result;
    handle->discInfo = disc;
    handle->rec.discSeen = 1;
    const bool erasableKind = (disc.mediaType & WritableMedia & kErasableMask) != 0;
    if (!erasableKind || !disc.canErase) return TVX_ERR_DISC_KIND;

    JobScope job(handle, callback, userData);
    handle->rec.quickErase = quick != 0;
    // A stop left from an earlier job must not end this erase's waits at once.
    handle->rec.cancelled = 0;
    const TVX_BurnOptions options = {TVX_MODE_WRITE, -1};
    if (!Rec_Prepare(handle, &options)) {
        Rec_Finish(handle);
        handle->rec.cancelled = 0;
        return TVX_ERR_COMMAND;
    }
    // An erase that the drive refused, that never finished in time or whose wait was stopped
    // is no erased disc: the host must not be told it is.
    const bool blanked = Rec_Blank(handle) != 0;
    const bool stopped = handle->rec.cancelled != 0;
    Rec_Finish(handle);
    handle->rec.cancelled = 0;
    if (blanked) return TVX_OK;
    return stopped ? TVX_ERR_CANCELLED : TVX_ERR_COMMAND;
}
