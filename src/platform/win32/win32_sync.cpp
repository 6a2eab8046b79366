// Named mutexes and events: the kernel's own objects. A mutex whose holder died is reported
// abandoned by the wait and then belongs to the waiter, which is what the callers need.
#include "platform/win32/win32_host.h"

#include <windows.h>

namespace tvx {

void Win32Host::setMutexDirectory(std::string directory) {
    // Backslashes name kernel namespaces in object names; the rest of a path is fine.
    for (char& c : directory) {
        if (c == '\\' || c == '/' || c == ':') c = '_';
    }
    if (!directory.empty()) directory += '_';
    std::lock_guard<std::mutex> guard(mutexPrefixLock_);
    mutexPrefix_ = std::move(directory);
}

std::string Win32Host::mutexName(const std::string& name) {
    std::lock_guard<std::mutex> guard(mutexPrefixLock_);
    return mutexPrefix_ + name;
}

HostHandle Win32Host::openMutex(const std::string& name) {
    return ::OpenMutexA(MUTEX_ALL_ACCESS, FALSE, mutexName(name).c_str());
}

HostHandle Win32Host::createMutex(const std::string& name) {
    return ::CreateMutexA(nullptr, FALSE, mutexName(name).c_str());
}

LockAttempt Win32Host::tryJobLock(const std::string& name, HostHandle& lock) {
    lock = nullptr;
    std::string objectName = mutexName("TORVEXIN_JOB_" + name);
    for (char& c : objectName) {
        if (c == '\\') c = '_';
    }
    std::lock_guard<std::mutex> guard(jobLocksLock_);
    for (const auto& held : jobLocks_) {
        if (held.second == objectName) return LockAttempt::Busy;
    }
    HANDLE mutex = ::CreateMutexA(nullptr, FALSE, objectName.c_str());
    if (!mutex) return LockAttempt::Unavailable;
    // An abandoned mutex (its holder died) now belongs to this caller.
    DWORD wait = ::WaitForSingleObject(mutex, 0);
    if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) {
        lock = mutex;
        jobLocks_[lock] = objectName;
        return LockAttempt::Acquired;
    }
    ::CloseHandle(mutex);
    return wait == WAIT_TIMEOUT ? LockAttempt::Busy : LockAttempt::Unavailable;
}

void Win32Host::releaseJobLock(HostHandle lock) {
    if (!lock) return;
    {
        std::lock_guard<std::mutex> guard(jobLocksLock_);
        jobLocks_.erase(lock);
    }
    ::ReleaseMutex(lock);
    ::CloseHandle(lock);
}

void Win32Host::waitMutex(HostHandle mutex) {
    if (mutex) ::WaitForSingleObject(mutex, INFINITE);
}

void Win32Host::releaseMutex(HostHandle mutex) {
    if (mutex) ::ReleaseMutex(mutex);
}

void Win32Host::closeMutex(HostHandle mutex) {
    if (mutex) ::CloseHandle(mutex);
}

HostHandle Win32Host::createEvent(bool manualReset, bool signalled) {
    return ::CreateEventA(nullptr, manualReset, signalled, nullptr);
}

void Win32Host::setEvent(HostHandle event) {
    if (event) ::SetEvent(event);
}

void Win32Host::resetEvent(HostHandle event) {
    if (event) ::ResetEvent(event);
}

bool Win32Host::waitEvent(HostHandle event, uint32_t milliseconds) {
    return event && ::WaitForSingleObject(event, milliseconds) == WAIT_OBJECT_0;
}

void Win32Host::closeEvent(HostHandle event) {
    if (event) ::CloseHandle(event);
}

} // namespace tvx
