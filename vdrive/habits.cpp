// The habits of real drives that the model takes on when its DriveModel asks for them.
#include "vdrive/drive.h"

namespace tvx::vdrive {

namespace {

constexpr uint8_t kOpRequestSense = 0x03;
constexpr uint8_t kOpWrite10 = 0x2A;
constexpr uint8_t kOpWrite12 = 0xAA;
constexpr uint8_t kOpSyncCache = 0x35;
constexpr uint8_t kOpCloseTrackSession = 0x5B;

uint16_t ProgressOf(uint64_t since, uint64_t now, uint64_t total) {
    if (total == 0 || now <= since) return 0;
    uint64_t elapsed = now - since;
    return elapsed >= total ? 0xFFFF : static_cast<uint16_t>(elapsed * 65536 / total);
}

} // namespace

std::optional<Sense> Drive::habitRefusal(const Command& c) {
    const Habits& h = model.habits;
    const uint64_t now = clock.nowMs();
    if (h.attentionOpcode == c.op() && ++attentionMatches_ == h.attentionOccurrence)
        return Sense::Of(0x06, h.attentionAsc, h.attentionAscq);
    if ((c.op() == kOpWrite10 || c.op() == kOpWrite12) && h.writeBusyMs != 0) {
        if (!writeBusySinceMs_) writeBusySinceMs_ = now;
        if (now < *writeBusySinceMs_ + h.writeBusyMs) {
            Sense s = Sense::Of(h.writeBusyKey, h.writeBusyAsc, h.writeBusyAscq);
            if (s.key == 0x02) {
                s.progressValid = true;
                s.progress = ProgressOf(*writeBusySinceMs_, now, h.writeBusyMs);
            }
            return s;
        }
    }
    if ((c.op() == kOpSyncCache || c.op() == kOpCloseTrackSession) && h.settleBusyMs != 0) {
        // Each such command is kept waiting afresh; a different one starts its own wait.
        if (!settleBusySinceMs_ || settleBusyOpcode_ != c.op()) {
            settleBusySinceMs_ = now;
            settleBusyOpcode_ = c.op();
        }
        if (now < *settleBusySinceMs_ + h.settleBusyMs)
            return Sense::Busy(h.settleBusyAscq,
                               ProgressOf(*settleBusySinceMs_, now, h.settleBusyMs));
        settleBusySinceMs_.reset();
    }
    return std::nullopt;
}

bool Drive::habitRecovered(const Command& c) {
    const uint32_t every = model.habits.recoveredEvery;
    if (every == 0 || c.op() == kOpRequestSense) return false;
    return ++successes_ % every == 0;
}

void Drive::checkTimeLimit(uint64_t workMs) {
    if (model.habits.enforceTimeouts && commandLimitMs_ != 0 && workMs > commandLimitMs_)
        timedOut_ = true;
}

} // namespace tvx::vdrive
