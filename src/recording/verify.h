// Reading the recorded host files back from the disc and comparing them with their sources.
#pragma once

#include "image/plan.h"
#include "platform/host.h"
#include "transport/rec_handle.h"

#include <cstdint>

namespace tvx {

// Outcomes of a verification.
enum class VerifyResult {
    Equal,
    Different,    // a difference, a disc that cannot be read, or a stop by the host
    SourceFailed, // a host file could not be opened or read whole (Verify_Volume records it)
};

// Every host-file run of the plan's write list against the disc.
VerifyResult Verify_Volume(RecHandle* handle, const VolumePlan* plan);
// The whole file (read from its current position, normally its start) against the disc from
// startSector. Raises event 8 with the next sector after each piece; a stop ends it as failed.
VerifyResult Verify_Region(RecHandle* handle, uint32_t startSector, HostFile& file);

} // namespace tvx
