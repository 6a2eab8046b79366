#include "transport/job_lock.h"

#include "mmc/locations.h"
#include "transport/identify.h"

#include <cstdio>
#include <cstring>
#include <mutex>
#include <set>
#if defined(_WIN32)
#include <process.h>
#define getpid _getpid
#else
#include <unistd.h>
#endif

namespace tvx {

namespace {

constexpr char kLocalPrefix[] = "local-";

// Keys held by jobs of this process: a second handle on the same drive is refused here, even
// where the system's lock would let its owner in twice.
std::mutex& HeldKeysLock() {
    static std::mutex lock;
    return lock;
}
std::set<std::string>& HeldKeys() {
    static std::set<std::string> keys;
    return keys;
}

void RecordRefusal(RecHandle* handle, LockAttempt attempt) {
    JobLock_RecordBusy(handle);
    if (attempt == LockAttempt::Busy) return;
    handle->lastError.description = kDriveLockFailedText;
    handle->lastError.location = location::kJobLockFailed;
}

// Takes the drive's lock shared with other processes: the device file's job byte, else the
// host's named lock. Never both kinds for one drive on one host, so that no two holders can
// each believe they have it.
LockAttempt LockAcrossProcesses(Device* device, const std::string& key, HostHandle& deviceFile,
                                HostHandle& named) {
    HostHandle file = device->header.deviceFile;
    LockAttempt attempt =
        file ? host().lockDevice(file, kDeviceLockJob, false) : LockAttempt::Unavailable;
    if (attempt == LockAttempt::Acquired) deviceFile = file;
    if (attempt != LockAttempt::Unavailable) return attempt;
    // Neither a device file nor a name beyond this process: the keys held here are the lock.
    if (key.rfind(kLocalPrefix, 0) == 0) return LockAttempt::Unavailable;
    return host().tryJobLock(key, named);
}

} // namespace

void JobLock_RecordBusy(RecHandle* handle) {
    TVX_LastError& record = handle->lastError;
    record = TVX_LastError{};
    record.description = kDriveInUseText;
    record.category = kDriveInUseCategory;
    record.location = location::kJobLockBusy;
}

std::string JobLock_Key(Device* device) {
    DeviceHeader& header = device->header;
    if (!header.identity[0]) {
        std::string serial;
        if (Transport_UnitSerial(Front_Execute, device, serial)) {
            std::snprintf(header.identity, sizeof header.identity, "serial-%s-%s-%s", header.vendor,
                          header.product, serial.c_str());
        } else {
            // Nothing names the drive beyond this process.
            std::snprintf(header.identity, sizeof header.identity, "%s%d-%u-%u-%u", kLocalPrefix,
                          static_cast<int>(getpid()), header.hostAdapter, header.target,
                          header.lun);
        }
    }
    return header.identity;
}

JobLock::JobLock(RecHandle* handle) {
    // A closed handle reaches no drive; the job fails on its own.
    if (!handle || !handle->device) {
        held_ = true;
        return;
    }
    std::string key = JobLock_Key(handle->device);
    {
        std::lock_guard<std::mutex> guard(HeldKeysLock());
        if (!HeldKeys().insert(key).second) {
            RecordRefusal(handle, LockAttempt::Busy);
            return;
        }
    }
    key_ = key;
    // Unavailable: a host without such locks still runs the job, and single commands stay
    // ordered. A lock that failed refuses the job: it might run beside another.
    LockAttempt attempt = LockAcrossProcesses(handle->device, key, deviceFile_, lock_);
    if (attempt == LockAttempt::Busy || attempt == LockAttempt::Failed) {
        std::lock_guard<std::mutex> guard(HeldKeysLock());
        HeldKeys().erase(key_);
        key_.clear();
        RecordRefusal(handle, attempt);
        return;
    }
    held_ = true;
    handle_ = handle;
    handle->rec.discSeen = 0;
    handle->rec.discLost = 0;
}

bool JobLock_HeldElsewhere(RecHandle* handle) {
    if (!handle || !handle->device) return false;
    const std::string key = JobLock_Key(handle->device);
    {
        std::lock_guard<std::mutex> guard(HeldKeysLock());
        if (HeldKeys().count(key)) return true;
    }
    HostHandle file = handle->device->header.deviceFile;
    return file && host().deviceLockedElsewhere(file, kDeviceLockJob);
}

JobLock::~JobLock() {
    if (handle_) {
        handle_->rec.discSeen = 0;
        handle_->rec.discLost = 0;
    }
    if (deviceFile_) host().unlockDevice(deviceFile_, kDeviceLockJob);
    if (lock_) host().releaseJobLock(lock_);
    if (!key_.empty()) {
        std::lock_guard<std::mutex> guard(HeldKeysLock());
        HeldKeys().erase(key_);
    }
}

} // namespace tvx
