// The drive report: the commands `tvx probe` sends to learn everything that decides how a burn
// goes on a drive, without changing the disc, and their raw answers. The probe speaks to any
// ScsiTarget (the library's transport for a real drive, a virtual recorder, a replayed report),
// and every command passes one allow-list first, so nothing that writes, closes, blanks, formats
// or flushes can ever leave it.
#pragma once

#include "platform/scsi_target.h"
#include "vdrive/drive_report.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tvxprobe {

// True for the operation codes the probe may send: the drive questions only.
bool ProbeAllowed(uint8_t opcode);

using tvx::vdrive::Exchange;

// READs keep only the start of their answer in the report.
inline constexpr uint32_t kReadKeptBytes = 64;

// The MODE SELECT lists for the write parameters page, made from a MODE SENSE answer of it:
// the page the library would send, and the drive's own page to put back. Empty: no such page.
struct WriteParametersLists {
    std::vector<uint8_t> select;
    std::vector<uint8_t> restore;
};

struct ProbeOptions {
    bool withSerial = false; // keep the unit serial number (else its bytes become blanks)
    // When set, the probe also selects the library's write parameters page, reads it back and
    // restores the drive's page (a volatile page: nothing on the disc changes). The only
    // MODE SELECT the probe ever sends.
    WriteParametersLists (*writeParameters)(const std::vector<uint8_t>& modeSenseAnswer) = nullptr;
    // What the path to the drive said of the command just sent (a JSON object), kept with it.
    std::function<std::string()> transportFields;
};

// Sends the probe's commands in a fixed order; each later question may depend on an earlier
// answer (lengths, the last track, whether a disc is present). A command the allow-list refuses
// is not sent and recorded as TransportFailed.
std::vector<Exchange> RunProbe(tvx::ScsiTarget& drive, const ProbeOptions& options);

} // namespace tvxprobe
