// Helpers shared by the engine's source files; not used outside the recording engine.
#pragma once

#include "platform/host.h"
#include "transport/rec_handle.h"

#include <cstdint>

namespace tvx {

// Waits and repeats, in milliseconds of the host clock.
inline constexpr uint32_t kPollIntervalMs = 1000;
inline constexpr uint32_t kFormatWaitMs = 300000;
inline constexpr uint32_t kFormattedSettleMs = 3000;
inline constexpr uint32_t kBusyWriteRetryMs = 50;
// A drive that keeps answering "busy" to one WRITE(10) for this long is taken as failed.
inline constexpr uint32_t kBusyWriteLimitMs = 1800000;
inline constexpr uint32_t kFlushWaitMs = 1800000;
inline constexpr uint32_t kFlushEscalateMs = 15000;
inline constexpr uint32_t kCloseAttempts = 5;
inline constexpr uint32_t kCloseRetryMs = 3000;
inline constexpr uint32_t kCloseWaitMs = 1800000;
inline constexpr uint32_t kPlusRwCloseWaitMs = 300000;
inline constexpr uint32_t kEjectWaitMs = 60000;
inline constexpr uint32_t kQuickBlankWaitMs = 180000;
inline constexpr uint32_t kFullBlankWaitMs = 2100000;
inline constexpr uint32_t kBlankEstimateDelayMs = 10000;

inline constexpr uint8_t kRequestSenseBytes = 18;

// Blocks 16 to 271 hold every file system's anchor and volume descriptors: zeroed, no reader
// finds a volume on the disc.
inline constexpr uint32_t kVolumeStructuresFirstBlock = 16;
inline constexpr uint32_t kVolumeStructuresLastBlock = 271;
inline constexpr uint16_t kZeroChunkBlocks = 32;

// Milliseconds since construction on the host's tick counter (wrap-safe).
class Stopwatch {
  public:
    Stopwatch() : start_(host().tickCount()) {}
    uint32_t elapsed() const { return host().tickCount() - start_; }

  private:
    uint32_t start_;
};

// A recording runs exactly while the job's transfer buffer is attached.
inline bool RecordingRunning(const RecHandle* handle) {
    return handle->rec.bufferAllocation != nullptr;
}

// DVD+RW background format status of READ DISC INFORMATION; 0 when the query fails.
int Rec_FormatStatus(RecHandle* handle);

// Rec_Finish without its event: reset simulation, allow removal, eject unless not wanted.
int Rec_FinishSteps(RecHandle* handle);

// Allows removal and ejects at once; nonzero when the eject was accepted. Used when the host
// stops a wait.
int Rec_CancelEject(RecHandle* handle);

// Progress indication (bytes 16-17) of the sense data of the last failed command.
uint16_t Rec_SenseProgress(RecHandle* handle);
// True when the last failed command reported a long write or a format in progress.
bool Rec_SenseBusyWriting(RecHandle* handle);

} // namespace tvx
