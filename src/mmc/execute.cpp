// One command to the drive of a RecHandle, with the drive answers that are not failures taken
// care of here, in one place: a recovered error is success, a unit attention is cleared and the
// command repeated, and the busy answers drives give while writing, flushing or closing are
// waited out. Also the recording of a failure with its sense texts.
#include "mmc/execute.h"

#include "mmc/command_record.h"
#include "mmc/commands.h"
#include "mmc/sense.h"
#include "platform/host.h"

#include <algorithm>
#include <cstring>

namespace tvx {

namespace {
constexpr uint32_t kMaxCdbBytes = 16;
constexpr uint32_t kMaxSenseBytes = 32;

constexpr uint8_t kAscNotReady = 0x04;
constexpr uint8_t kAscMediumMayHaveChanged = 0x28;
constexpr uint8_t kAscCommandSequenceError = 0x2C;

// A drive reports a reset or a medium change once; more in a row means it is not settling.
constexpr int kUnitAttentionRepeats = 4;
// How often the waiting job hears of a busy drive.
constexpr uint32_t kBusyReportMs = 1000;

constexpr uint32_t kWriteRetryMs = 50;
constexpr uint32_t kWriteBusyLimitMs = 1800000;
// A drive that announces calibration before its first write ready within minutes.
constexpr uint32_t kCalibrationLimitMs = 600000;
// A sequence error is also what a drive answers to a write it will never take: a short wait.
constexpr uint32_t kSequenceErrorLimitMs = 120000;
constexpr uint32_t kSettleRetryMs = 1000;
// Flushes and closes of the slowest drives take up to an hour.
constexpr uint32_t kSettleLimitMs = 3600000;

// An answer that means "busy, ask again": to which command, and how to wait for it. Some
// drives only go on once their cache is flushed.
struct BusyAnswer {
    uint8_t opcode;
    uint8_t key;
    uint8_t asc;
    uint8_t ascq;
    bool flushFirst;
    uint32_t retryMs;
    uint32_t limitMs;
};

// clang-format off
constexpr BusyAnswer kBusyAnswers[] = {
    {kOpWrite10, kSenseKeyNotReady, kAscNotReady, 0x01, false, kWriteRetryMs, kCalibrationLimitMs},
    {kOpWrite10, kSenseKeyNotReady, kAscNotReady, 0x04, true, kWriteRetryMs, kWriteBusyLimitMs},
    {kOpWrite10, kSenseKeyNotReady, kAscNotReady, 0x07, true, kWriteRetryMs, kWriteBusyLimitMs},
    {kOpWrite10, kSenseKeyNotReady, kAscNotReady, 0x08, false, kWriteRetryMs, kWriteBusyLimitMs},
    {kOpWrite10, kSenseKeyIllegalRequest, kAscCommandSequenceError, 0x00, true, kSettleRetryMs,
     kSequenceErrorLimitMs},
    {kOpSyncCache, kSenseKeyNotReady, kAscNotReady, 0x07, false, kSettleRetryMs, kSettleLimitMs},
    {kOpSyncCache, kSenseKeyNotReady, kAscNotReady, 0x08, false, kSettleRetryMs, kSettleLimitMs},
    {kOpCloseTrackSession, kSenseKeyNotReady, kAscNotReady, 0x07, false, kSettleRetryMs,
     kSettleLimitMs},
    {kOpCloseTrackSession, kSenseKeyNotReady, kAscNotReady, 0x08, false, kSettleRetryMs,
     kSettleLimitMs},
};
// clang-format on

const BusyAnswer* FindBusyAnswer(uint8_t opcode, const SenseFields& s) {
    for (const BusyAnswer& a : kBusyAnswers)
        if (a.opcode == opcode && a.key == s.key && a.asc == s.asc && a.ascq == s.ascq) return &a;
    return nullptr;
}

// Once a recording has written, "the medium may have changed" cannot be waved away: the
// disc being written may not be the one in the drive.
bool MediumChangedWhileWriting(const RecHandle* handle, const SenseFields& s) {
    return s.asc == kAscMediumMayHaveChanged && handle->rec.bufferAllocation != nullptr &&
           handle->rec.writeBegan;
}

uint32_t Since(uint32_t start) {
    return host().tickCount() - start;
}

} // namespace

int Mmc_Execute(RecHandle* handle, const CommandRecord* command, void* buffer, uint32_t length) {
    if (!handle || !handle->device || !command) return 0;
    const uint32_t start = host().tickCount();
    uint32_t reportedAt = 0;
    int unitAttentions = 0;
    for (;;) {
        // The front takes the drive's mutex for exactly this one command.
        if (Front_Execute(handle->device, command, buffer, length)) return 1;
        // Every backend clears the sense field before a command: sense data in it came from
        // the drive with this answer (the status byte means different things per backend).
        const SenseFields sense = Mmc_LastSense(handle);
        if (!sense.valid) return 0;
        if (sense.key == kSenseKeyRecovered) return 1;
        if (sense.key == kSenseKeyUnitAttention) {
            if (MediumChangedWhileWriting(handle, sense) ||
                ++unitAttentions > kUnitAttentionRepeats)
                return 0;
            // Whatever TEST UNIT READY answers, the command itself tells what state follows.
            CommandRecord clear = NewCommand(kOpTestUnitReady, 6, kDirectionNone);
            Front_Execute(handle->device, &clear, nullptr, 0);
            continue;
        }
        const BusyAnswer* busy = FindBusyAnswer(command->cdb[0], sense);
        if (!busy) return 0;
        const uint32_t waited = Since(start);
        if (waited >= busy->limitMs) return 0;
        if (handle->rec.busyWait && waited - reportedAt >= kBusyReportMs) {
            reportedAt = waited;
            if (!handle->rec.busyWait(handle)) return 0;
        }
        if (busy->flushFirst) Mmc_SyncCache(handle, 0);
        host().sleep(busy->retryMs);
    }
}

void Mmc_RecordError(RecHandle* handle, int32_t location) {
    if (!handle) return;
    TVX_LastError& record = handle->lastError;
    Device* device = handle->device;

    record.status = device ? Front_GetStatus(device) : 0;

    uint32_t cdbLength = device ? std::min(Front_GetCdbLength(device), kMaxCdbBytes) : 0;
    const uint8_t* cdb = device ? Front_GetCdb(device) : nullptr;
    if (!cdb) cdbLength = 0;
    record.cdbLength = static_cast<uint8_t>(cdbLength);
    if (cdbLength) std::memcpy(record.cdb, cdb, cdbLength);

    // Bytes of the sense field beyond those copied keep what an earlier record left.
    uint32_t senseLength = device ? std::min(Front_GetSenseLength(device), kMaxSenseBytes) : 0;
    const uint8_t* sense = device ? Front_GetSense(device) : nullptr;
    if (!sense) senseLength = 0;
    record.senseLength = static_cast<uint8_t>(senseLength);
    if (senseLength) std::memcpy(record.sense, sense, senseLength);

    const SenseFields fields = Mmc_DecodeSense(record.sense, sizeof record.sense);
    record.senseKey = fields.key;
    record.asc = fields.asc;
    record.ascq = fields.ascq;
    SenseTexts texts = Mmc_LookupSense(record.senseKey, record.asc, record.ascq);
    record.description = texts.description;
    record.category = texts.category;
    record.location = location;
}

} // namespace tvx
