// Slow work the drive does on its own: while it runs, medium commands answer NOT READY with
// 04/ascq and a progress indication taken from the clock.
#pragma once

#include "vdrive/sense.h"

#include <cstdint>

namespace tvx::vdrive {

enum class Work : uint8_t {
    SpinUp,       // 04/01
    Flush,        // 04/08: cache flush, possibly followed by the lead-out of a full reservation
    CloseTrack,   // 04/07
    CloseSession, // 04/07: session close or finalise
    FormatStart,  // 04/04: DVD+RW format until writes are taken
    PlusRwClose,  // 04/07: DVD+RW stop or completion of the background format
    Blank,        // 04/07
    Format,       // 04/04: DVD-RW or DVD-RAM format
};

struct BusyOp {
    Work work = Work::SpinUp;
    uint8_t ascq = 1;
    uint64_t startMs = 0;
    uint64_t durationMs = 0;
    uint32_t param = 0;  // work-specific: close function, blank type, finalise flag
    uint32_t param2 = 0; // work-specific: track number
};

uint8_t AscqOf(Work work);

class Busy {
  public:
    bool active() const { return active_; }
    const BusyOp& op() const { return op_; }
    void start(const BusyOp& op) {
        op_ = op;
        active_ = true;
    }
    // True when the work has run its time at nowMs; the caller then finishes it and clears.
    bool due(uint64_t nowMs) const { return active_ && nowMs >= op_.startMs + op_.durationMs; }
    void clear() { active_ = false; }
    // 0..65535 of the way through.
    uint16_t progress(uint64_t nowMs) const;
    Sense sense(uint64_t nowMs) const { return Sense::Busy(op_.ascq, progress(nowMs)); }

  private:
    bool active_ = false;
    BusyOp op_;
};

} // namespace tvx::vdrive
