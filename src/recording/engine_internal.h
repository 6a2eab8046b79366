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
// A DVD-R's flush also writes the lead-out of a full reservation: as long as a close.
inline constexpr uint32_t kFlushWaitMs = 3600000;
// Closing a DVD-R or finishing a DVD+RW's background format takes the slowest drives up to an
// hour.
inline constexpr uint32_t kCloseWaitMs = 3600000;
inline constexpr uint32_t kPlusRwCloseWaitMs = 3600000;
inline constexpr uint32_t kEjectWaitMs = 60000;
inline constexpr uint32_t kQuickBlankWaitMs = 180000;
inline constexpr uint32_t kFullBlankWaitMs = 2100000;
inline constexpr uint32_t kBlankEstimateDelayMs = 10000;

inline constexpr uint8_t kRequestSenseBytes = 18;

// Blocks 0 to 15 hold a system area (partition tables and boot records of hybrid images), 16 to
// 271 every file system's anchor and volume descriptors: zeroed, no reader finds a volume or a
// partition on the disc.
inline constexpr uint32_t kVolumeStructuresFirstBlock = 0;
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

// Installs a report for the command layer's busy waits for the life of the object.
class BusyWaitScope {
  public:
    BusyWaitScope(RecHandle* handle, int (*report)(RecHandle*))
        : handle_(handle), saved_(handle->rec.busyWait) {
        handle->rec.busyWait = report;
    }
    ~BusyWaitScope() { handle_->rec.busyWait = saved_; }
    BusyWaitScope(const BusyWaitScope&) = delete;
    BusyWaitScope& operator=(const BusyWaitScope&) = delete;

  private:
    RecHandle* handle_;
    int (*saved_)(RecHandle*);
};

// Marks a wait that polls the drive once a second itself: the command layer then answers its
// questions at once rather than repeating them while the drive is busy.
class PollScope {
  public:
    explicit PollScope(RecHandle* handle) : handle_(handle), saved_(handle->rec.polling) {
        handle->rec.polling = 1;
    }
    ~PollScope() { handle_->rec.polling = saved_; }
    PollScope(const PollScope&) = delete;
    PollScope& operator=(const PollScope&) = delete;

  private:
    RecHandle* handle_;
    int32_t saved_;
};

// True when waiting longer is pointless: the drive has no medium, or a medium change or reset
// ended the job.
bool Rec_WaitHopeless(RecHandle* handle);

// Busy-wait reports: a wait event at the position written so far (a WRITE is repeated at that
// very address), or as the waits after writing show it. 0 when the host stops.
int Rec_WriteBusyWait(RecHandle* handle);
int Rec_SettleBusyWait(RecHandle* handle);
// The same during verification: a verification event at the sector reached.
int Rec_VerifyBusyWait(RecHandle* handle);

// Progress indication of the sense data of the last failed command (0 when it has none).
uint16_t Rec_SenseProgress(RecHandle* handle);
// True when the last failed command reported a long write or a format in progress.
bool Rec_SenseBusyWriting(RecHandle* handle);

} // namespace tvx
