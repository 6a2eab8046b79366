// Reading the recorded volume back from the disc and comparing it with what was written.
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

// Every sector the burn wrote (descriptors, directories, File Entries, host files and the zeros
// between them), made again from the plan's write list and compared with the disc.
VerifyResult Verify_Volume(RecHandle* handle, VolumePlan* plan);
// The whole file (read from its current position, normally its start) and the zeros that pad
// its last sector against the disc from startSector. Raises event 8 with the next sector after
// each piece; a stop ends it as failed.
VerifyResult Verify_Region(RecHandle* handle, uint32_t startSector, HostFile& file);

} // namespace tvx
