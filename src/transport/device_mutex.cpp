#include "transport/device_mutex.h"

#include <cstdio>
#include <mutex>
#include <new>

namespace tvx {

struct DeviceMutex {
    std::recursive_mutex threads;
    int depth = 0;                   // waits of the thread inside, not yet released
    HostHandle deviceFile = nullptr; // set: the lock is the device file's command byte
    HostHandle named = nullptr;      // set: the lock is the named mutex
};

DeviceMutex* DeviceMutex_Open(const char* driveName, HostHandle deviceFile) {
    auto* mutex = new (std::nothrow) DeviceMutex;
    if (!mutex) return nullptr;
    if (deviceFile) {
        // A look without waiting tells whether this host locks device files at all.
        LockAttempt attempt = host().lockDevice(deviceFile, kDeviceLockCommand, false);
        if (attempt == LockAttempt::Acquired) host().unlockDevice(deviceFile, kDeviceLockCommand);
        if (attempt != LockAttempt::Unavailable) {
            mutex->deviceFile = deviceFile;
            return mutex;
        }
    }
    char name[256];
    std::snprintf(name, sizeof name, "MERADIN_TORVEXIN_MUTEX_%s", driveName);
    mutex->named = host().openMutex(name);
    if (!mutex->named) mutex->named = host().createMutex(name);
    return mutex;
}

void DeviceMutex_Wait(DeviceMutex* mutex) {
    if (!mutex) return;
    mutex->threads.lock();
    if (mutex->depth++ != 0) return;
    // A lock that fails (not one that is busy: that one is waited for) leaves the commands
    // ordered in this process only; the job lock still keeps a second writer away.
    if (mutex->deviceFile) {
        host().lockDevice(mutex->deviceFile, kDeviceLockCommand, true);
    } else if (mutex->named) {
        host().waitMutex(mutex->named);
    }
}

void DeviceMutex_Release(DeviceMutex* mutex) {
    if (!mutex || mutex->depth == 0) return;
    if (--mutex->depth == 0) {
        if (mutex->deviceFile) {
            host().unlockDevice(mutex->deviceFile, kDeviceLockCommand);
        } else if (mutex->named) {
            host().releaseMutex(mutex->named);
        }
    }
    mutex->threads.unlock();
}

void DeviceMutex_Close(DeviceMutex* mutex) {
    if (!mutex) return;
    if (mutex->named) host().closeMutex(mutex->named);
    delete mutex;
}

} // namespace tvx
