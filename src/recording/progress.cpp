// Progress events to the host's callback and the estimated position while the drive works.
#include "recording/engine.h"
#include "recording/engine_internal.h"

namespace tvx {

namespace {

bool CarriesProgress(int type) {
    return type == kEventWrite || type == kEventWait || type == kEventEraseProgress ||
           type == kEventVerify;
}

} // namespace

int Rec_Progress(RecHandle* handle, int type, uint32_t value) {
    RecordingState& rec = handle->rec;
    if (!rec.callback) return 1;
    // The host gets a copy: whatever it does with the pair cannot change the engine's state.
    uint32_t pair[2] = {0, 0};
    if (CarriesProgress(type)) {
        rec.progressValue = value;
        pair[0] = rec.progressValue;
        pair[1] = rec.progressTotal;
    }
    int32_t result = rec.callback(type, pair, rec.userData);
    if (result == 0) rec.cancelled = 1;
    return result;
}

int Rec_ReportWrite(RecHandle* handle, int type) {
    RecordingState& rec = handle->rec;
    if (!RecordingRunning(handle)) type = kEventEraseProgress;
    if (type == kEventWait) {
        uint64_t candidate = uint64_t{rec.progressBlocks} + rec.actualSpeed / 2;
        if (candidate < rec.progressTotal) rec.progressBlocks = static_cast<uint32_t>(candidate);
    }
    return Rec_Progress(handle, type, rec.progressBlocks);
}

int Rec_WriteBusyWait(RecHandle* handle) {
    RecordingState& rec = handle->rec;
    return Rec_Progress(handle, kEventWait, rec.progressBlocks) && !rec.cancelled;
}

int Rec_SettleBusyWait(RecHandle* handle) {
    return Rec_ReportWrite(handle, kEventWait) && !handle->rec.cancelled;
}

int Rec_VerifyBusyWait(RecHandle* handle) {
    RecordingState& rec = handle->rec;
    return Rec_Progress(handle, kEventVerify, rec.progressValue) && !rec.cancelled;
}

} // namespace tvx
