// Printing the command trace.
#include "vdrive/virtual_recorder.h"

#include <cstdio>

namespace tvx::vdrive {

std::string FormatTraceEntry(const TraceEntry& e) {
    std::string line;
    char hex[4];
    for (uint8_t i = 0; i < e.cdbLength; ++i) {
        std::snprintf(hex, sizeof hex, i ? " %02X" : "%02X", e.cdb[i]);
        line += hex;
    }
    const char* dir = e.direction == DataDirection::ToDevice     ? "out"
                      : e.direction == DataDirection::FromDevice ? "in"
                                                                 : "none";
    char tail[96];
    if (e.outcome == ScsiOutcome::TransportFailed)
        std::snprintf(tail, sizeof tail, " | %s %u | TRANSPORT FAILED", dir, e.byteCount);
    else if (e.outcome == ScsiOutcome::TimedOut)
        std::snprintf(tail, sizeof tail, " | %s %u | TIMED OUT", dir, e.byteCount);
    else if (e.status == kScsiStatusGood)
        std::snprintf(tail, sizeof tail, " | %s %u | GOOD", dir, e.byteCount);
    else
        std::snprintf(tail, sizeof tail, " | %s %u | CHECK %02X/%02X/%02X", dir, e.byteCount,
                      e.senseKey, e.asc, e.ascq);
    return line + tail + " | " + CommandName(e.cdb[0]);
}

std::string FormatTrace(const std::vector<TraceEntry>& trace) {
    std::string text;
    for (const TraceEntry& e : trace)
        text += FormatTraceEntry(e) + "\n";
    return text;
}

} // namespace tvx::vdrive
