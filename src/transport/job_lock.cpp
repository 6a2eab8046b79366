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

void RecordDriveInUse(RecHandle* handle) {
    TVX_LastError& record = handle->lastError;
    record = TVX_LastError{};
    record.description = kDriveInUseText;
    record.category = kDriveInUseCategory;
    record.location = location::kJobLockBusy;
}

} // namespace

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
            RecordDriveInUse(handle);
            return;
        }
    }
    key_ = key;
    if (key.rfind(kLocalPrefix, 0) != 0) {
        // A host without such locks still runs the job: single commands stay ordered.
        if (host().tryJobLock(key, lock_) == LockAttempt::Busy) {
            std::lock_guard<std::mutex> guard(HeldKeysLock());
            HeldKeys().erase(key_);
            key_.clear();
            RecordDriveInUse(handle);
            return;
        }
    }
    held_ = true;
}

JobLock::~JobLock() {
    if (lock_) host().releaseJobLock(lock_);
    if (!key_.empty()) {
        std::lock_guard<std::mutex> guard(HeldKeysLock());
        HeldKeys().erase(key_);
    }
}

} // namespace tvx
