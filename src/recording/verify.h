// Reading the recorded host files back from the disc and comparing them with their sources.
#pragma once

#include "image/plan.h"
#include "platform/host.h"
#include "transport/rec_handle.h"

#include <cstdint>

namespace tvx {

// Every host-file run of the plan's write list against the disc. Nonzero when all are equal.
int Verify_Volume(RecHandle* handle, const VolumePlan* plan);
// The whole file (read from its current position, normally its start) against the disc from
// startSector. Raises event 8 with the next sector after each piece; a stop ends it as failed.
int Verify_Region(RecHandle* handle, uint32_t startSector, HostFile& file);

} // namespace tvx
