// What the engine reads from the drive's last answer, and the eject of a stopped wait.
#include "mmc/commands.h"
#include "mmc/sense.h"
#include "recording/engine_internal.h"
#include "transport/transport.h"

namespace tvx {

namespace {

inline constexpr uint8_t kAscNotReady = 0x04;
inline constexpr uint8_t kAscqFormatInProgress = 0x04;
inline constexpr uint8_t kAscqLongWriteInProgress = 0x08;
inline constexpr uint8_t kAscNoMedium = 0x3A;

} // namespace

uint16_t Rec_SenseProgress(RecHandle* handle) {
    const SenseFields sense = Mmc_LastSense(handle);
    return sense.progressValid ? sense.progress : 0;
}

bool Rec_SenseBusyWriting(RecHandle* handle) {
    const SenseFields sense = Mmc_LastSense(handle);
    return sense.key == kSenseKeyNotReady && sense.asc == kAscNotReady &&
           (sense.ascq == kAscqLongWriteInProgress || sense.ascq == kAscqFormatInProgress);
}

bool Rec_WaitHopeless(RecHandle* handle) {
    if (handle->rec.discLost) return true;
    const SenseFields sense = Mmc_LastSense(handle);
    return sense.key == kSenseKeyNotReady && sense.asc == kAscNoMedium;
}

int Rec_CancelEject(RecHandle* handle) {
    Mmc_PreventRemoval(handle, 0);
    return Mmc_StartStop(handle, kStartStopEject, 0);
}

} // namespace tvx
