// One command to the drive of a RecHandle, and the recording of a failure with its sense texts.
#include "mmc/execute.h"

#include <algorithm>
#include <cstring>

namespace tvx {

namespace {
constexpr uint32_t kMaxCdbBytes = 16;
constexpr uint32_t kMaxSenseBytes = 32;
constexpr size_t kSenseKeyByte = 2;
constexpr uint8_t kSenseKeyMask = 0x0F;
constexpr size_t kAscByte = 12;
constexpr size_t kAscqByte = 13;
} // namespace

int Mmc_Execute(RecHandle* handle, const CommandRecord* command, void* buffer, uint32_t length) {
    if (!handle || !handle->device || !command) return 0;
    // The front takes the drive's mutex for exactly this one command.
    return Front_Execute(handle->device, command, buffer, length);
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

    record.senseKey = record.sense[kSenseKeyByte] & kSenseKeyMask;
    record.asc = record.sense[kAscByte];
    record.ascq = record.sense[kAscqByte];
    SenseTexts texts = Mmc_LookupSense(record.senseKey, record.asc, record.ascq);
    record.description = texts.description;
    record.category = texts.category;
    record.location = location;
}

} // namespace tvx
