// Readiness, sense, tray and event commands: TEST UNIT READY, REQUEST SENSE, START STOP UNIT,
// PREVENT ALLOW MEDIUM REMOVAL and GET EVENT STATUS NOTIFICATION.
#include "common/byte_order.h"
#include "mmc/answers.h"
#include "mmc/command_record.h"
#include "mmc/commands.h"
#include "mmc/execute.h"

#include <cstring>

namespace tvx {

namespace {

constexpr uint16_t kEventStatusBytes = 8;
constexpr uint8_t kNoEventAvailable = 0x80;
constexpr uint8_t kEventClassMask = 0x07;

// The converted fields are read by the caller as native 16-bit values.
void StoreHost16(uint8_t* p, uint16_t v) {
    std::memcpy(p, &v, sizeof v);
}

} // namespace

int Mmc_TestUnitReady(RecHandle* h) {
    CommandRecord command = NewCommand(kOpTestUnitReady, 6, kDirectionNone);
    return Mmc_Execute(h, &command, nullptr, 0);
}

int Mmc_RequestSense(RecHandle* h, uint8_t* buffer, uint8_t length) {
    CommandRecord command = NewCommand(kOpRequestSense, 6, kDirectionIn, kTimeoutRequestSense);
    command.cdb[4] = length;
    return Mmc_Execute(h, &command, buffer, length);
}

int Mmc_StartStop(RecHandle* h, int loadStart, int immediate) {
    CommandRecord command = NewCommand(kOpStartStopUnit, 6, kDirectionNone,
                                       immediate ? kTimeoutDefault : kTimeoutLoadEject);
    command.cdb[1] = static_cast<uint8_t>(immediate & 1);
    command.cdb[4] = static_cast<uint8_t>(loadStart & 3); // never a power condition
    return Mmc_Execute(h, &command, nullptr, 0);
}

int Mmc_PreventRemoval(RecHandle* h, int prevent) {
    CommandRecord command = NewCommand(kOpPreventAllow, 6, kDirectionNone);
    command.cdb[4] = static_cast<uint8_t>(prevent & 1);
    return Mmc_Execute(h, &command, nullptr, 0);
}

void ConvertEventStatus(uint8_t* answer) {
    StoreHost16(answer, GetBe16(answer));
    const uint8_t header = answer[2];
    const uint8_t eventClass = header & kEventClassMask;
    if (!(header & kNoEventAvailable) &&
        (eventClass == kEventClassOperational || eventClass == kEventClassBusy)) {
        StoreHost16(answer + 6, GetBe16(answer + 6));
    }
}

int Mmc_GetEventStatus(RecHandle* h, uint8_t* buffer8, int eventClass) {
    CommandRecord command = NewCommand(kOpGetEventStatus, 10, kDirectionIn);
    command.cdb[1] = 0x01; // polled
    command.cdb[4] = static_cast<uint8_t>(1u << (eventClass & kEventClassMask));
    PutBe16(command.cdb + 7, kEventStatusBytes);
    if (!Mmc_Execute(h, &command, buffer8, kEventStatusBytes)) return 0;
    ConvertEventStatus(buffer8);
    return 1;
}

} // namespace tvx
