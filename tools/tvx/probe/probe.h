// The drive report: the commands `tvx probe` sends to learn everything that decides how a burn
// goes on a drive, without changing the disc, and their raw answers. The probe speaks to any
// ScsiTarget (the library's transport for a real drive, a virtual recorder, a replayed report),
// and every command passes one allow-list first, so nothing that writes, closes, blanks, formats
// or flushes can ever leave it.
#pragma once

#include "platform/scsi_target.h"
#include "vdrive/drive_report.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tvxprobe {

// True for the operation codes the probe may send: the drive questions only.
bool ProbeAllowed(uint8_t opcode);

using tvx::vdrive::Exchange;

// READs keep only the start of their answer in the report.
inline constexpr uint32_t kReadKeptBytes = 64;

struct ProbeOptions {
    bool withSerial = false; // keep the unit serial number (else its bytes become blanks)
};

// Sends the probe's commands in a fixed order; each later question may depend on an earlier
// answer (lengths, the last track, whether a disc is present). A command the allow-list refuses
// is not sent and recorded as TransportFailed.
std::vector<Exchange> RunProbe(tvx::ScsiTarget& drive, const ProbeOptions& options);

} // namespace tvxprobe
