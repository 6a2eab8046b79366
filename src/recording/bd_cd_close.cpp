// The end of a BD-R or CD recording: one track written, closed, then the session and the disc.
#include "mmc/execute.h"
#include "mmc/locations.h"
#include "recording/engine.h"
#include "recording/media.h"

namespace tvx {

int Rec_CloseBdCdSession(RecHandle* handle) {
    // Session at once: the flush wrote the lead-out and closed the disc.
    if (handle->rec.cdSessionAtOnce) return 1;
    // A BD-R session closed alone leaves the disc appendable; finalising closes both. A CD
    // session closed with the page's multi-session off closes the disc.
    const int function =
        IsBdR(handle->discInfo.mediaType) ? kCloseFinaliseBd : kCloseSessionFunction;
    if (!Rec_CloseWithRetry(handle, 0, function)) {
        Mmc_RecordError(handle, location::kBdCdCloseSession);
        return 0;
    }
    return 1;
}

} // namespace tvx
