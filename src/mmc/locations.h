// Location numbers: each step that records a failure passes its own fixed number, so the host
// can tell from the LastError record which step failed.
#pragma once

#include <cstdint>

namespace tvx::location {

inline constexpr int32_t kDriveCapsProfiles = 95;
inline constexpr int32_t kDiscInfoProfiles = 204;
inline constexpr int32_t kDiscInfoReadDiscInfo = 217;
inline constexpr int32_t kSpeedProbeRead = 349;
inline constexpr int32_t kSpeedProbeWrite = 356;
inline constexpr int32_t kSpeedProbeLoop = 372;
inline constexpr int32_t kStartFormatFormatUnit = 170;
inline constexpr int32_t kStartFormatPoll = 183;
inline constexpr int32_t kPrepareTestUnitReady = 290;
inline constexpr int32_t kPreparePrevent = 296;
inline constexpr int32_t kPrepareWriteParameters = 326;
inline constexpr int32_t kBeginTrackFirstTrackInfo = 386;
inline constexpr int32_t kBeginTrackReserve = 404;
inline constexpr int32_t kBeginTrackSecondTrackInfo = 412;
inline constexpr int32_t kBeginTrackFormat = 454;
inline constexpr int32_t kWriteChunk = 521;
inline constexpr int32_t kFlushSyncCache = 700;
inline constexpr int32_t kFlushPoll = 715;
inline constexpr int32_t kCloseRetryAttempts = 89;
inline constexpr int32_t kCloseRetryPoll = 106;
inline constexpr int32_t kCloseWaitFallback = 215;
inline constexpr int32_t kCloseWaitPoll = 239;
inline constexpr int32_t kCloseTrack = 772;
inline constexpr int32_t kCloseSessionFinalise = 817;
inline constexpr int32_t kCloseSessionPlusRw = 805;
inline constexpr int32_t kFinishEject = 866;
inline constexpr int32_t kBlankSyncCache = 929;
inline constexpr int32_t kBlankClose = 934;
inline constexpr int32_t kBlankCommand = 942;
inline constexpr int32_t kBlankPoll = 962;
// Failures the library finds itself, without a failed command.
inline constexpr int32_t kJobLockBusy = 1010;
inline constexpr int32_t kJobLockFailed = 1011;
inline constexpr int32_t kSourceFile = 1020;
// A source the volume cannot record, named with the rule it breaks.
inline constexpr int32_t kSourceRefused = 1021;
inline constexpr int32_t kIncompleteWipe = 1030;
// A medium change or a reset ended the job (the command and the drive's answer are recorded).
inline constexpr int32_t kDiscMayBeAnother = 1050;
// Verification: a READ of the read-back failed (the drive's answer is recorded), or a sector read
// back is not the one written (description "SECTOR N READ BACK OTHER THAN IT WAS WRITTEN").
inline constexpr int32_t kVerifyRead = 1060;
inline constexpr int32_t kVerifyDifferent = 1061;
// A mapped window's write-back: the WRITE that failed.
inline constexpr int32_t kWindowWriteBack = 1109;
// Formatting a BD-RE and closing a BD-R or a CD.
inline constexpr int32_t kBdFormatCapacities = 1070;
inline constexpr int32_t kBdFormatUnit = 1071;
inline constexpr int32_t kBdFormatPoll = 1072;
inline constexpr int32_t kBdCdCloseSession = 1073;
// A CD written session at once: its cue sheet, and the pregap before the track.
inline constexpr int32_t kCdCueSheet = 1074;
inline constexpr int32_t kCdPregap = 1075;

} // namespace tvx::location
