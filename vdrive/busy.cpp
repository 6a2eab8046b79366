#include "vdrive/busy.h"

namespace tvx::vdrive {

uint8_t AscqOf(Work work) {
    switch (work) {
    case Work::SpinUp:
        return 0x01;
    case Work::FormatStart:
    case Work::Format:
        return 0x04;
    case Work::Flush:
        return 0x08;
    default:
        return 0x07;
    }
}

uint16_t Busy::progress(uint64_t nowMs) const {
    if (!active_ || op_.durationMs == 0 || nowMs <= op_.startMs) return 0;
    uint64_t elapsed = nowMs - op_.startMs;
    if (elapsed >= op_.durationMs) return 0xFFFF;
    return static_cast<uint16_t>(elapsed * 65536 / op_.durationMs);
}

} // namespace tvx::vdrive
