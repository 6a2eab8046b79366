// What the engine reads from the drive's last answer, and the eject of a stopped wait.
#include "common/byte_order.h"
#include "mmc/commands.h"
#include "recording/engine_internal.h"
#include "transport/transport.h"

namespace tvx {

namespace {

inline constexpr uint8_t kSenseKeyNotReady = 0x02;
inline constexpr uint8_t kAscNotReady = 0x04;
inline constexpr uint8_t kAscqFormatInProgress = 0x04;
inline constexpr uint8_t kAscqLongWriteInProgress = 0x08;

const uint8_t* LastSense(RecHandle* handle) {
    return handle->device ? Front_GetSense(handle->device) : nullptr;
}

} // namespace

uint16_t Rec_SenseProgress(RecHandle* handle) {
    const uint8_t* sense = LastSense(handle);
    return sense ? GetBe16(sense + 16) : 0;
}

bool Rec_SenseBusyWriting(RecHandle* handle) {
    const uint8_t* sense = LastSense(handle);
    if (!sense) return false;
    return (sense[2] & 0x0F) == kSenseKeyNotReady && sense[12] == kAscNotReady &&
           (sense[13] == kAscqLongWriteInProgress || sense[13] == kAscqFormatInProgress);
}

int Rec_CancelEject(RecHandle* handle) {
    Mmc_PreventRemoval(handle, 0);
    return Mmc_StartStop(handle, kStartStopEject, 0);
}

} // namespace tvx
