// The device part of the simulation host: drive letters, device files, the proxy device and
// pass-through requests handed to ScsiTargets.
#include "platform/sim/sim_host.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#if defined(_WIN32)
#include <process.h>
#define getpid _getpid
#else
#include <unistd.h>
#endif

namespace tvx {

namespace {

constexpr uint32_t kInfinite = 0xFFFFFFFFu;

char Upper(char c) {
    return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
}

// "D:\" or "D:" names the letter D.
char LetterOfRoot(const std::string& root) {
    if (root.size() < 2 || root.size() > 3 || root[1] != ':') return 0;
    if (root.size() == 3 && root[2] != '\\') return 0;
    return std::isalpha(static_cast<unsigned char>(root[0])) ? Upper(root[0]) : 0;
}

bool SameIgnoringCase(const std::string& a, const char* b) {
    size_t n = std::strlen(b);
    if (a.size() != n) return false;
    for (size_t i = 0; i < n; ++i) {
        if (Upper(a[i]) != Upper(b[i])) return false;
    }
    return true;
}

} // namespace

SimHost::~SimHost() {
    for (DeviceHandle* d : devices_)
        delete d;
    for (KeyHandle* k : keys_)
        delete k;
}

bool SimHost::fail(uint32_t error) {
    setLastError(error);
    return false;
}

SimDrive& SimHost::addDrive(char letter, uint32_t driveType, ScsiTarget* target) {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    SimDrive& d = drives_[Upper(letter)];
    d = SimDrive{};
    d.driveType = driveType;
    d.target = target;
    return d;
}

SimDrive& SimHost::drive(char letter) {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    return drives_.at(Upper(letter));
}

void SimHost::removeDrive(char letter) {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    drives_.erase(Upper(letter));
}

void SimHost::setProxyDevice(bool present) {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    proxyPresent_ = present;
}

void SimHost::setProxyDriveDevice(char letter) {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    proxyDriveLetter_ = letter ? Upper(letter) : 0;
}

bool SimHost::exclusiveHeld(char letter) {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    return exclusiveOwners_.count(Upper(letter)) != 0;
}

size_t SimHost::openDeviceCount() {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    return devices_.size();
}

std::vector<uint32_t> SimHost::controlCodes() {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    return controls_;
}

void SimHost::clearControlCodes() {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    controls_.clear();
}

uint32_t SimHost::logicalDrives() {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    uint32_t mask = 0;
    for (const auto& [letter, d] : drives_) {
        if (letter >= 'A' && letter <= 'Z') mask |= 1u << (letter - 'A');
    }
    return mask;
}

uint32_t SimHost::driveType(const std::string& root) {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    auto it = drives_.find(LetterOfRoot(root));
    return it == drives_.end() ? DRIVE_NO_ROOT_DIR : it->second.driveType;
}

HostHandle SimHost::createDeviceFile(const std::string& path, uint32_t, uint32_t, uint32_t) {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    auto* handle = new DeviceHandle;
    if (SameIgnoringCase(path, kProxyDeviceName) && proxyPresent_) {
        handle->proxy = true;
    } else if (SameIgnoringCase(path, kProxyDriveName) && proxyDriveLetter_ &&
               drives_.count(proxyDriveLetter_)) {
        handle->letter = proxyDriveLetter_;
    } else if (path.size() == 6 && path.compare(0, 4, "\\\\.\\") == 0 && path[5] == ':') {
        auto it = drives_.find(Upper(path[4]));
        if (it != drives_.end() && it->second.deviceFileOpens) handle->letter = it->first;
    }
    if (!handle->proxy && !handle->letter) {
        delete handle;
        setLastError(ENOENT);
        return nullptr;
    }
    devices_.insert(handle);
    return handle;
}

std::string SimHost::deviceIdentity(HostHandle device) {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    auto* handle = static_cast<DeviceHandle*>(device);
    if (!devices_.count(handle) || handle->proxy) return {};
    auto it = drives_.find(handle->letter);
    if (it == drives_.end()) return {};
    // Letters that lead to one target are one drive. The process id keeps the simulated
    // machines of concurrent test runs apart.
    char text[64];
    std::snprintf(text, sizeof text, "sim-%d-%p", static_cast<int>(getpid()),
                  driveKey(handle->letter));
    return text;
}

const void* SimHost::driveKey(char letter) {
    auto it = drives_.find(letter);
    if (it == drives_.end()) return nullptr;
    return it->second.target ? static_cast<const void*>(it->second.target)
                             : static_cast<const void*>(&it->second);
}

LockAttempt SimHost::lockDevice(HostHandle device, uint64_t offset, bool wait) {
    std::unique_lock<std::recursive_mutex> guard(lock_);
    auto* handle = static_cast<DeviceHandle*>(device);
    if (!devices_.count(handle) || handle->proxy || !driveKey(handle->letter)) {
        setLastError(EBADF);
        return LockAttempt::Failed;
    }
    const auto key = std::make_pair(driveKey(handle->letter), offset);
    for (;;) {
        auto it = deviceLocks_.find(key);
        if (it == deviceLocks_.end() || it->second == handle) {
            deviceLocks_[key] = handle;
            return LockAttempt::Acquired;
        }
        if (!wait) {
            setLastError(EAGAIN);
            return LockAttempt::Busy;
        }
        deviceLocksChanged_.wait(guard);
        if (!devices_.count(handle)) return LockAttempt::Failed; // closed meanwhile
    }
}

bool SimHost::deviceLockedElsewhere(HostHandle device, uint64_t offset) {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    auto* handle = static_cast<DeviceHandle*>(device);
    if (!devices_.count(handle) || handle->proxy || !driveKey(handle->letter)) return false;
    auto it = deviceLocks_.find(std::make_pair(driveKey(handle->letter), offset));
    return it != deviceLocks_.end() && it->second != handle;
}

void SimHost::unlockDevice(HostHandle device, uint64_t offset) {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    auto* handle = static_cast<DeviceHandle*>(device);
    for (auto it = deviceLocks_.begin(); it != deviceLocks_.end(); ++it) {
        if (it->second == handle && it->first.second == offset) {
            deviceLocks_.erase(it);
            break;
        }
    }
    deviceLocksChanged_.notify_all();
}

void SimHost::closeDevice(HostHandle device) {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    auto* handle = static_cast<DeviceHandle*>(device);
    if (!devices_.erase(handle)) return;
    // Closing the handle that took exclusive access or locks gives them up.
    for (auto it = exclusiveOwners_.begin(); it != exclusiveOwners_.end();) {
        it = it->second == handle ? exclusiveOwners_.erase(it) : std::next(it);
    }
    for (auto it = deviceLocks_.begin(); it != deviceLocks_.end();) {
        it = it->second == handle ? deviceLocks_.erase(it) : std::next(it);
    }
    deviceLocksChanged_.notify_all();
    delete handle;
}

bool SimHost::deviceIoControl(HostHandle device, uint32_t code, void* in, uint32_t inLength,
                              void* out, uint32_t outLength, uint32_t* returned) {
    std::unique_lock<std::recursive_mutex> guard(lock_);
    controls_.push_back(code);
    if (returned) *returned = 0;
    auto* handle = static_cast<DeviceHandle*>(device);
    if (!handle || !devices_.count(handle)) return fail(EBADF);
    if (!handle->proxy) {
        return driveControl(handle, handle->letter, code, in, inLength, out, outLength, returned);
    }

    if (code != IOCTL_PROXY_DEVICE_CONTROL || !in || inLength < sizeof(ProxyRequest) || out != in ||
        outLength < sizeof(ProxyRequest)) {
        return fail(EINVAL);
    }
    auto* request = static_cast<ProxyRequest*>(in);
    auto it = std::find_if(drives_.begin(), drives_.end(), [&](const auto& entry) {
        return entry.second.classDeviceNumber >= 0 &&
               static_cast<uint32_t>(entry.second.classDeviceNumber) == request->classDeviceNumber;
    });
    if (it == drives_.end()) return fail(ENODEV);
    // The proxy carries device requests, not exclusive use.
    if (request->controlCode == IOCTL_CDROM_EXCLUSIVE_ACCESS ||
        request->controlCode == IOCTL_PROXY_EXCLUSIVE) {
        return fail(ENOTTY);
    }
    uint32_t innerReturned = 0;
    bool done =
        driveControl(nullptr, it->first, request->controlCode, request->inBuffer, request->inLength,
                     request->outBuffer, request->outLength, &innerReturned);
    request->bytesReturned = innerReturned;
    if (returned) *returned = sizeof(ProxyRequest);
    return done;
}

bool SimHost::driveControl(DeviceHandle* handle, char letter, uint32_t code, void* in,
                           uint32_t inLength, void* out, uint32_t outLength, uint32_t* returned) {
    auto it = drives_.find(letter);
    if (it == drives_.end()) return fail(ENODEV); // the drive went away
    SimDrive& d = it->second;
    switch (code) {
    case IOCTL_SCSI_PASS_THROUGH_DIRECT: {
        if (out != in || outLength < inLength) return fail(EINVAL);
        ScsiTarget* target = d.target;
        // The target runs without the host's lock: it may take (virtual) time.
        lock_.unlock();
        bool done = passThrough(target, in, inLength, returned);
        lock_.lock();
        return done;
    }
    case IOCTL_SCSI_GET_ADDRESS:
        if (!d.addressAnswers) return fail(EIO);
        if (!out || outLength < sizeof(ScsiAddress)) return fail(EINVAL);
        std::memcpy(out, &d.address, sizeof d.address);
        if (returned) *returned = sizeof d.address;
        return true;
    case IOCTL_STORAGE_QUERY_PROPERTY: {
        StoragePropertyQuery query = {};
        if (!d.storageBus) return fail(ENOTTY);
        if (!in || inLength < sizeof query || !out ||
            outLength < sizeof(StorageAdapterDescriptor)) {
            return fail(EINVAL);
        }
        std::memcpy(&query, in, sizeof query);
        if (query.propertyId != kStorageAdapterProperty ||
            query.queryType != kPropertyStandardQuery) {
            return fail(EINVAL);
        }
        StorageAdapterDescriptor adapter = {};
        adapter.version = sizeof adapter;
        adapter.size = sizeof adapter;
        adapter.busType = *d.storageBus;
        adapter.maximumTransferLength = d.target ? d.target->maxTransferBytes() : 0;
        std::memcpy(out, &adapter, sizeof adapter);
        if (returned) *returned = sizeof adapter;
        return true;
    }
    case IOCTL_PROXY_EXCLUSIVE: {
        ProxyExclusiveRequest request = {};
        if (!d.proxyFiltered || !handle) return fail(ENOTTY);
        if (!in || inLength < sizeof request) return fail(EINVAL);
        std::memcpy(&request, in, sizeof request);
        return exclusive(handle, letter, request.on != 0);
    }
    case IOCTL_CDROM_EXCLUSIVE_ACCESS: {
        CdromExclusiveLock lock = {};
        if (!handle) return fail(ENOTTY);
        if (!in || inLength < sizeof lock) return fail(EINVAL);
        std::memcpy(&lock, in, sizeof lock);
        if (lock.requestType == kExclusiveAccessQueryState) {
            if (!out || outLength < sizeof(CdromExclusiveLockState)) return fail(EINVAL);
            CdromExclusiveLockState state = {};
            state.lockState = exclusiveOwners_.count(letter) ? 1 : 0;
            std::memcpy(out, &state, sizeof state);
            if (returned) *returned = sizeof state;
            return true;
        }
        if (lock.requestType == kExclusiveAccessLockDevice) return exclusive(handle, letter, true);
        if (lock.requestType == kExclusiveAccessUnlockDevice) {
            return exclusive(handle, letter, false);
        }
        return fail(EINVAL);
    }
    default:
        return fail(ENOTTY);
    }
}

bool SimHost::exclusive(DeviceHandle* handle, char letter, bool on) {
    auto it = exclusiveOwners_.find(letter);
    if (on) {
        if (it != exclusiveOwners_.end() && it->second != handle) return fail(EBUSY);
        exclusiveOwners_[letter] = handle;
        return true;
    }
    if (it == exclusiveOwners_.end() || it->second != handle) return fail(EINVAL);
    exclusiveOwners_.erase(it);
    return true;
}

bool SimHost::passThrough(ScsiTarget* target, void* in, uint32_t inLength, uint32_t* returned) {
    if (!in || inLength < sizeof(ScsiPassThroughDirect)) return fail(EINVAL);
    auto* sptd = static_cast<ScsiPassThroughDirect*>(in);
    if (sptd->cdbLength == 0 || sptd->cdbLength > sizeof sptd->cdb) return fail(EINVAL);
    if (sptd->senseInfoLength && (sptd->senseInfoOffset > inLength ||
                                  sptd->senseInfoLength > inLength - sptd->senseInfoOffset)) {
        return fail(EINVAL);
    }
    if (!target) return fail(EIO);

    ScsiRequest request;
    request.cdb = sptd->cdb;
    request.cdbLength = sptd->cdbLength;
    bool hasData = sptd->dataBuffer && sptd->dataTransferLength;
    if (hasData && sptd->dataIn == SCSI_IOCTL_DATA_IN) {
        request.direction = DataDirection::FromDevice;
    } else if (hasData && sptd->dataIn == SCSI_IOCTL_DATA_OUT) {
        request.direction = DataDirection::ToDevice;
    } else {
        request.direction = DataDirection::None;
        hasData = false;
    }
    request.data = hasData ? sptd->dataBuffer : nullptr;
    request.byteCount = hasData ? sptd->dataTransferLength : 0;
    request.timeoutSeconds = sptd->timeOutValue;

    ScsiResult result = target->execute(request);
    if (result.outcome == ScsiOutcome::TimedOut) return fail(ETIMEDOUT);
    if (result.outcome != ScsiOutcome::Completed) return fail(EIO);
    sptd->scsiStatus = result.status;
    sptd->dataTransferLength = std::min(result.transferred, request.byteCount);
    if (sptd->senseInfoLength) {
        uint8_t* sense = static_cast<uint8_t*>(in) + sptd->senseInfoOffset;
        size_t n = std::min<size_t>(sptd->senseInfoLength, sizeof result.sense);
        std::memcpy(sense, result.sense, n);
        // As a port driver does: the request tells how much sense came back.
        sptd->senseInfoLength =
            static_cast<uint8_t>(std::min<size_t>(sptd->senseInfoLength, result.senseLength));
    }
    if (returned) *returned = inLength;
    return true;
}

bool SimHost::waitEvent(HostHandle event, uint32_t milliseconds) {
    if (milliseconds == kInfinite) return NativeHost::waitEvent(event, milliseconds);
    if (NativeHost::waitEvent(event, 0)) return true;
    clock_.advance(milliseconds);
    return NativeHost::waitEvent(event, 0);
}

} // namespace tvx
