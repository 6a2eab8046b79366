// The drive status query: tray, medium and busy bits from TEST UNIT READY and polled events.
#include "torvexin.h"

#include "mmc/commands.h"
#include "mmc/execute.h"
#include "mmc/sense.h"
#include "transport/transport.h"

using namespace tvx;

namespace {

constexpr uint32_t kDefinedBits =
    TVX_STATUS_TRAY_OPEN | TVX_STATUS_MEDIUM_PRESENT | TVX_STATUS_BUSY;
// Each poll takes one event off the drive's queue; a drive that keeps reporting classes nobody
// asked for must not hold the caller forever.
constexpr int kMaxPolls = 32;

bool BecomingReady(RecHandle* handle) {
    const SenseFields sense = Mmc_LastSense(handle);
    return sense.key == kSenseKeyNotReady && sense.asc == 0x04 && sense.ascq == 0x01;
}

} // namespace

extern "C" {

TVX_API TVX_Result TVX_CALL TVX_GetDriveStatus(TVX_RecHandle handle, uint32_t request,
                                               uint32_t* state) {
    uint32_t found = 0;
    request &= kDefinedBits;
    if ((request & TVX_STATUS_BUSY) && !Mmc_TestUnitReady(handle) && BecomingReady(handle)) {
        found |= TVX_STATUS_BUSY;
        request &= ~TVX_STATUS_BUSY;
    }
    for (int poll = 0; request != 0 && poll < kMaxPolls; ++poll) {
        int eventClass = 0;
        if (request & TVX_STATUS_BUSY) {
            eventClass = kEventClassOperational;
        } else if (request & (TVX_STATUS_TRAY_OPEN | TVX_STATUS_MEDIUM_PRESENT)) {
            eventClass = kEventClassMedia;
        }
        uint8_t answer[8] = {};
        if (!Mmc_GetEventStatus(handle, answer, eventClass)) {
            if (state) *state |= found;
            return TVX_ERR_NOT_READY;
        }
        if (answer[2] & 0x80) break; // no (further) event
        const int reported = answer[2] & 0x07;
        if (reported == kEventClassOperational && (request & TVX_STATUS_BUSY)) {
            request &= ~TVX_STATUS_BUSY;
            if (answer[5] & 0x0F) found |= TVX_STATUS_BUSY;
        } else if (reported == kEventClassMedia) {
            if (request & TVX_STATUS_TRAY_OPEN) {
                request &= ~TVX_STATUS_TRAY_OPEN;
                if (answer[5] & 0x01) found |= TVX_STATUS_TRAY_OPEN;
            }
            if (request & TVX_STATUS_MEDIUM_PRESENT) {
                request &= ~TVX_STATUS_MEDIUM_PRESENT;
                if (answer[5] & 0x02) found |= TVX_STATUS_MEDIUM_PRESENT;
            }
        }
    }
    if (state) *state |= found;
    return TVX_OK;
}

} // extern "C"
