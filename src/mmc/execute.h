// Command execution: one command to the drive of a RecHandle under the drive's lock, and the
// recording of a failure into the handle's LastError with the sense texts.
#pragma once

#include "transport/rec_handle.h"

#include <cstdint>

namespace tvx {

// Sends one command; 1 when it completed with good status, 0 otherwise. Never records.
int Mmc_Execute(RecHandle* handle, const CommandRecord* command, void* buffer, uint32_t length);

// Copies the transport's view of the last command into handle->lastError with the sense texts
// and the caller's location number.
void Mmc_RecordError(RecHandle* handle, int32_t location);

struct SenseTexts {
    const char* description;
    const char* category;
};

// The texts of the exact (key, ASC, ASCQ) row, or "Unknown" / "N/A".
SenseTexts Mmc_LookupSense(uint8_t senseKey, uint8_t asc, uint8_t ascq);

} // namespace tvx
