// The configuration of the virtual recorders' ASPI layer, read from the environment of the
// process that loads it. Any host program of the shared library then sees virtual drives; the
// library itself reads no configuration.
//
//   TVX_VIRTUAL_DRIVES      IMAGE[:KIND[:BLOCKS][+BEHAVIOUR[=ARGS]]...] entries separated by
//                           ';': one virtual recorder per entry, on adapter 0, targets 0, 1, ...
//                           (LUN 0), with the named real-drive behaviours (vdrive/behaviours.h);
//                           IMAGE:report=REPORT.json[+BEHAVIOUR...] presents the drive of a
//                           `tvx probe` report, with a disc of the report's kind and size (the
//                           same as IMAGE:KIND:BLOCKS+replay=REPORT.json). A report's path holds
//                           no '+' or ';'.
//   TVX_VIRTUAL_FAULTS      OPCODE[@N]:sense:KK/AA/QQ[+06/AA/QQ] or OPCODE[@N]:malformed entries
//   separated
//                           by ';', injected into every drive
//   TVX_VIRTUAL_TIMING      "real" (default: the drive's slow work takes its model time on the
//                           real clock) or "fast" (slow work completes at once)
//   TVX_VIRTUAL_COMPLETION  "sync" (default: requests complete inside the call) or "pending"
//                           (answered SS_PENDING, completed by a worker thread and signalled)
//   TVX_VIRTUAL_TRACE       a file to which every drive's command trace (its most recent
//                           commands) is appended when the layer is unloaded; unset, the drives
//                           keep no trace
//
// An IMAGE with a state file beside it (IMAGE.state) is opened as it was left; an existing IMAGE
// without one loads as a pressed disc (dvd-rom) or a recorded DVD+RW (dvd+rw); a missing IMAGE
// becomes a blank disc of KIND (default dvd-r) of BLOCKS blocks (default: a real disc's size).
// An image is attached by one process at a time: one that another process holds is refused
// ("IMAGE is in use by another process"), and entries naming one image share one drive.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tvx::vdrive {

inline constexpr char kDrivesVariable[] = "TVX_VIRTUAL_DRIVES";
inline constexpr char kFaultsVariable[] = "TVX_VIRTUAL_FAULTS";
inline constexpr char kTimingVariable[] = "TVX_VIRTUAL_TIMING";
inline constexpr char kCompletionVariable[] = "TVX_VIRTUAL_COMPLETION";
inline constexpr char kTraceVariable[] = "TVX_VIRTUAL_TRACE";
inline constexpr char kListSeparator = ';';

struct LayerDriveRequest {
    std::string image;
    std::string kind = "dvd-r";          // one of LayerDriveKinds()
    uint32_t capacity = 0;               // blocks for a new disc; 0 = a real disc's capacity
    std::vector<std::string> behaviours; // "name[=args]", checked by ParseDriveText
};

struct LayerFaultRequest {
    int opcode = -1;
    uint32_t occurrence = 0; // the n-th such command; 0 = every one
    bool malformed = false;  // else CHECK CONDITION with key/asc/ascq
    uint8_t key = 0, asc = 0, ascq = 0;
    // "+06/AA/QQ": a second unit attention held for the next command.
    bool queueAttention = false;
    uint8_t queuedAsc = 0, queuedAscq = 0;
};

struct LayerConfig {
    std::vector<LayerDriveRequest> drives;
    std::vector<LayerFaultRequest> faults;
    bool fastTiming = false;
    bool pendingCompletion = false;
    std::string traceFile; // empty: no trace
};

// Kinds accepted, for help texts: "dvd-r, dvd-rw, ...".
const char* LayerDriveKinds();
bool IsLayerDriveKind(const std::string& kind);

// Each false with a message on bad text.
bool ParseDriveText(const std::string& text, LayerDriveRequest& request, std::string& error);
bool ParseFaultText(const std::string& text, LayerFaultRequest& request, std::string& error);
// Any variable may be null (not set). Empty list entries are skipped.
bool ParseLayerConfig(const char* drives, const char* faults, const char* timing,
                      const char* completion, LayerConfig& config, std::string& error);

} // namespace tvx::vdrive
