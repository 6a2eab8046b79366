// Process-local events. Drives are locked through their device files (posix_devices.cpp).
#include "platform/posix/posix_host.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace tvx {

namespace {

constexpr uint32_t kInfinite = 0xFFFFFFFFu;

struct PosixEvent {
    std::mutex lock;
    std::condition_variable changed;
    bool manualReset = false;
    bool signalled = false;
};

} // namespace

HostHandle PosixHost::createEvent(bool manualReset, bool signalled) {
    auto* event = new PosixEvent;
    event->manualReset = manualReset;
    event->signalled = signalled;
    return event;
}

void PosixHost::setEvent(HostHandle handle) {
    auto* event = static_cast<PosixEvent*>(handle);
    if (!event) return;
    {
        std::lock_guard<std::mutex> guard(event->lock);
        event->signalled = true;
    }
    event->changed.notify_all();
}

void PosixHost::resetEvent(HostHandle handle) {
    auto* event = static_cast<PosixEvent*>(handle);
    if (!event) return;
    std::lock_guard<std::mutex> guard(event->lock);
    event->signalled = false;
}

bool PosixHost::waitEvent(HostHandle handle, uint32_t milliseconds) {
    auto* event = static_cast<PosixEvent*>(handle);
    if (!event) return false;
    std::unique_lock<std::mutex> guard(event->lock);
    auto isSet = [event] { return event->signalled; };
    bool set = milliseconds == kInfinite
                   ? (event->changed.wait(guard, isSet), true)
                   : event->changed.wait_for(guard, std::chrono::milliseconds(milliseconds), isSet);
    if (set && !event->manualReset) event->signalled = false;
    return set;
}

void PosixHost::closeEvent(HostHandle handle) {
    delete static_cast<PosixEvent*>(handle);
}

} // namespace tvx
