// Filling a CommandRecord: every builder starts from a cleared record with the operation code,
// the CDB length, the direction and the time limit set, and then sets its own fields.
#pragma once

#include "transport/transport.h"

#include <cstdint>

namespace tvx {

inline constexpr uint16_t kTimeoutDefault = 20; // seconds
inline constexpr uint16_t kTimeoutRequestSense = 3;
inline constexpr uint16_t kTimeoutLong = 180; // WRITE(10), SYNCHRONIZE CACHE with Immed
// What real drives are known to need. On Linux a command that runs out of time makes the kernel
// abort and reset the drive, which ruins a burn in progress: these err on the long side.
inline constexpr uint16_t kTimeoutLoadEject = 300;     // START STOP UNIT without Immed
inline constexpr uint16_t kTimeoutReserveTrack = 200;  // RESERVE TRACK
inline constexpr uint16_t kTimeoutImmediate = 200;     // CLOSE, BLANK, FORMAT UNIT with Immed
inline constexpr uint16_t kTimeoutCloseSync = 3600;    // CLOSE, SYNCHRONIZE CACHE without Immed
inline constexpr uint16_t kTimeoutBlankFormat = 18000; // BLANK, FORMAT UNIT without Immed

inline CommandRecord NewCommand(uint8_t opcode, uint8_t cdbLength, uint8_t direction,
                                uint16_t timeout = kTimeoutDefault) {
    CommandRecord command{};
    command.timeout = timeout;
    command.direction = direction;
    command.cdbLength = cdbLength;
    command.cdb[0] = opcode;
    return command;
}

// Operation codes.
inline constexpr uint8_t kOpTestUnitReady = 0x00;
inline constexpr uint8_t kOpRequestSense = 0x03;
inline constexpr uint8_t kOpFormatUnit = 0x04;
inline constexpr uint8_t kOpInquiry = 0x12;
inline constexpr uint8_t kOpStartStopUnit = 0x1B;
inline constexpr uint8_t kOpPreventAllow = 0x1E;
inline constexpr uint8_t kOpReadFormatCapacities = 0x23;
inline constexpr uint8_t kOpReadCapacity = 0x25;
inline constexpr uint8_t kOpRead10 = 0x28;
inline constexpr uint8_t kOpWrite10 = 0x2A;
inline constexpr uint8_t kOpSyncCache = 0x35;
inline constexpr uint8_t kOpGetConfiguration = 0x46;
inline constexpr uint8_t kOpGetEventStatus = 0x4A;
inline constexpr uint8_t kOpReadDiscInfo = 0x51;
inline constexpr uint8_t kOpReadTrackInfo = 0x52;
inline constexpr uint8_t kOpReserveTrack = 0x53;
inline constexpr uint8_t kOpModeSelect10 = 0x55;
inline constexpr uint8_t kOpModeSense10 = 0x5A;
inline constexpr uint8_t kOpSendCueSheet = 0x5D;
inline constexpr uint8_t kOpCloseTrackSession = 0x5B;
inline constexpr uint8_t kOpBlank = 0xA1;
inline constexpr uint8_t kOpWrite12 = 0xAA;
inline constexpr uint8_t kOpRead12 = 0xA8;
inline constexpr uint8_t kOpGetPerformance = 0xAC;
inline constexpr uint8_t kOpReadDiscStructure = 0xAD;
inline constexpr uint8_t kOpSetStreaming = 0xB6;
inline constexpr uint8_t kOpSetCdSpeed = 0xBB;

} // namespace tvx
