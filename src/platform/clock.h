// Millisecond clock behind every wait of the library and of the virtual recorder.
#pragma once

#include <atomic>
#include <cstdint>

namespace tvx {

class Clock {
public:
    virtual ~Clock() = default;
    virtual uint64_t nowMs() = 0;
    virtual void sleepMs(uint32_t milliseconds) = 0;
};

// The system's monotonic clock; sleeping really sleeps.
class SystemClock final : public Clock {
public:
    uint64_t nowMs() override;
    void sleepMs(uint32_t milliseconds) override;
};

// Virtual time: sleeping advances the clock at once, so a 30-minute wait takes no real time.
class VirtualClock final : public Clock {
public:
    explicit VirtualClock(uint64_t startMs = 1000000) : now_(startMs) {}
    uint64_t nowMs() override { return now_.load(); }
    void sleepMs(uint32_t milliseconds) override { now_ += milliseconds; }
    void advance(uint64_t milliseconds) { now_ += milliseconds; }

private:
    std::atomic<uint64_t> now_;
};

} // namespace tvx
