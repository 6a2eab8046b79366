// The device part of the native host: optical devices as CD-ROM drive letters, and the
// pass-through controls carried out with the kernel's SCSI ioctls.
#include "platform/pass_through.h"
#include "platform/posix/posix_host.h"
#include "platform/posix/sg_translate.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <scsi/scsi.h>
#include <scsi/sg.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace tvx {

namespace {

// The largest transfer the block queue of an sr device takes, in bytes: the smaller of the
// queue's current and hardware limits (a USB bridge often allows only 32 KiB); 0 when unknown.
uint32_t QueueTransferLimit(const std::string& blockName) {
    uint32_t limit = 0;
    for (const char* name : {"max_sectors_kb", "max_hw_sectors_kb"}) {
        std::string path = "/sys/class/block/" + blockName + "/queue/" + name;
        FILE* file = std::fopen(path.c_str(), "re");
        if (!file) continue;
        unsigned long kib = 0;
        if (std::fscanf(file, "%lu", &kib) == 1 && kib > 0 && kib < UINT32_MAX / 1024) {
            const uint32_t bytes = static_cast<uint32_t>(kib * 1024);
            limit = limit == 0 ? bytes : std::min(limit, bytes);
        }
        std::fclose(file);
    }
    return limit;
}

constexpr char kFirstCdLetter = 'D';
constexpr char kLastLetter = 'Z';

struct PosixDevice {
    int fd = -1;
    std::string path;      // /dev/sr0
    std::string blockName; // sr0
    // A second open of the device with O_EXCL while exclusive access is held: the kernel then
    // refuses mounts and other exclusive openers. Commands still go through fd.
    int exclusiveFd = -1;
    // SG_IO's own fields of the last request that reached the kernel.
    bool carried = false;
    PassThroughSystemFields last;
};

// The sr devices of a folder in device order.
std::vector<unsigned> OpticalDeviceNumbers(const std::string& folder) {
    std::vector<unsigned> numbers;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return numbers;
    while (struct dirent* e = ::readdir(dir)) {
        const char* name = e->d_name;
        if (std::strncmp(name, "sr", 2) != 0 || !name[2]) continue;
        bool digits = true;
        for (const char* p = name + 2; *p; ++p)
            digits = digits && std::isdigit(static_cast<unsigned char>(*p));
        if (digits) numbers.push_back(static_cast<unsigned>(std::strtoul(name + 2, nullptr, 10)));
    }
    ::closedir(dir);
    std::sort(numbers.begin(), numbers.end());
    size_t letters = kLastLetter - kFirstCdLetter + 1;
    if (numbers.size() > letters) numbers.resize(letters);
    return numbers;
}

// The sr device of a drive letter, or -1.
int DeviceNumberOfLetter(const std::string& folder, char letter) {
    letter = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
    if (letter < kFirstCdLetter || letter > kLastLetter) return -1;
    std::vector<unsigned> numbers = OpticalDeviceNumbers(folder);
    size_t i = static_cast<size_t>(letter - kFirstCdLetter);
    return i < numbers.size() ? static_cast<int>(numbers[i]) : -1;
}

// "D:\" (or "D:") names the drive letter D; anything else names none.
char LetterOfRoot(const std::string& root) {
    if (root.size() < 2 || root[1] != ':' || !std::isalpha(static_cast<unsigned char>(root[0])))
        return 0;
    if (root.size() > 3 || (root.size() == 3 && root[2] != '\\')) return 0;
    return root[0];
}

// "\\.\D:" names the drive letter D.
char LetterOfDevicePath(const std::string& path) {
    if (path.size() != 6 || path.compare(0, 4, "\\\\.\\") != 0 || path[5] != ':') return 0;
    return std::isalpha(static_cast<unsigned char>(path[4])) ? path[4] : 0;
}

// Opens the device a second time with O_EXCL, the kernel's exclusive open; -1 (errno set) when
// it is refused or the path no longer leads to the device of fd.
int OpenExclusive(int fd, const std::string& path) {
    int exclusive = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_EXCL | O_CLOEXEC);
    if (exclusive < 0) return -1;
    struct stat held {
    }, reopened{};
    if (::fstat(fd, &held) != 0 || ::fstat(exclusive, &reopened) != 0 ||
        held.st_rdev != reopened.st_rdev || held.st_dev != reopened.st_dev ||
        held.st_ino != reopened.st_ino) {
        ::close(exclusive);
        errno = ENODEV;
        return -1;
    }
    return exclusive;
}

} // namespace

void PosixHost::setDeviceFolder(std::string folder) {
    std::lock_guard<std::mutex> guard(deviceFolderLock_);
    if (folder.empty() || folder.back() != '/') folder += '/';
    deviceFolder_ = std::move(folder);
}

std::string PosixHost::deviceFolder() {
    std::lock_guard<std::mutex> guard(deviceFolderLock_);
    return deviceFolder_;
}

uint32_t PosixHost::logicalDrives() {
    uint32_t mask = 0;
    size_t count = OpticalDeviceNumbers(deviceFolder()).size();
    for (size_t i = 0; i < count; ++i)
        mask |= 1u << (kFirstCdLetter - 'A' + i);
    return mask;
}

uint32_t PosixHost::driveType(const std::string& root) {
    char letter = LetterOfRoot(root);
    return letter && DeviceNumberOfLetter(deviceFolder(), letter) >= 0 ? DRIVE_CDROM
                                                                       : DRIVE_NO_ROOT_DIR;
}

HostHandle PosixHost::createDeviceFile(const std::string& path, uint32_t, uint32_t, uint32_t) {
    char letter = LetterOfDevicePath(path);
    const std::string folder = deviceFolder();
    int number = letter ? DeviceNumberOfLetter(folder, letter) : -1;
    if (number < 0) {
        setLastError(ENOENT);
        return nullptr;
    }
    std::string blockName = "sr" + std::to_string(number);
    std::string devicePath = folder + blockName;
    int fd = ::open(devicePath.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        setLastError(static_cast<uint32_t>(errno));
        return nullptr;
    }
    auto* device = new PosixDevice;
    device->fd = fd;
    device->path = std::move(devicePath);
    device->blockName = std::move(blockName);
    return device;
}

std::string IdentityOfOpenFile(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return {};
    char text[64];
    if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode))
        std::snprintf(text, sizeof text, "dev-%llx", static_cast<unsigned long long>(st.st_rdev));
    else
        std::snprintf(text, sizeof text, "file-%llx-%llx",
                      static_cast<unsigned long long>(st.st_dev),
                      static_cast<unsigned long long>(st.st_ino));
    return text;
}

bool PosixHost::passThroughFields(HostHandle handle, PassThroughSystemFields& fields) {
    auto* device = static_cast<PosixDevice*>(handle);
    if (!device || !device->carried) return false;
    fields = device->last;
    return true;
}

std::string PosixHost::deviceIdentity(HostHandle handle) {
    auto* device = static_cast<PosixDevice*>(handle);
    return device ? IdentityOfOpenFile(device->fd) : std::string();
}

void PosixHost::closeDevice(HostHandle handle) {
    auto* device = static_cast<PosixDevice*>(handle);
    if (!device) return;
    ::close(device->fd); // also ends the locks taken on it
    if (device->exclusiveFd >= 0) ::close(device->exclusiveFd);
    delete device;
}

LockAttempt PosixHost::lockDevice(HostHandle handle, uint64_t offset, bool wait) {
    auto* device = static_cast<PosixDevice*>(handle);
    if (!device) {
        setLastError(EBADF);
        return LockAttempt::Failed;
    }
    struct flock range {};
    range.l_type = F_WRLCK;
    range.l_whence = SEEK_SET;
    range.l_start = static_cast<off_t>(offset);
    range.l_len = 1;
    int result;
    while ((result = ::fcntl(device->fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &range)) != 0 &&
           errno == EINTR) {
    }
    if (result == 0) return LockAttempt::Acquired;
    const int error = errno;
    setLastError(static_cast<uint32_t>(error));
    return error == EAGAIN || error == EACCES ? LockAttempt::Busy : LockAttempt::Failed;
}

bool PosixHost::deviceLockedElsewhere(HostHandle handle, uint64_t offset) {
    auto* device = static_cast<PosixDevice*>(handle);
    if (!device) return false;
    struct flock range {};
    range.l_type = F_WRLCK;
    range.l_whence = SEEK_SET;
    range.l_start = static_cast<off_t>(offset);
    range.l_len = 1;
    // Open file description locks report a conflicting holder here; this description's own
    // locks never conflict with it.
    return ::fcntl(device->fd, F_OFD_GETLK, &range) == 0 && range.l_type != F_UNLCK;
}

void PosixHost::unlockDevice(HostHandle handle, uint64_t offset) {
    auto* device = static_cast<PosixDevice*>(handle);
    if (!device) return;
    struct flock range {};
    range.l_type = F_UNLCK;
    range.l_whence = SEEK_SET;
    range.l_start = static_cast<off_t>(offset);
    range.l_len = 1;
    ::fcntl(device->fd, F_OFD_SETLK, &range);
}

bool PosixHost::deviceIoControl(HostHandle handle, uint32_t code, void* in, uint32_t inLength,
                                void* out, uint32_t outLength, uint32_t* returned) {
    auto* device = static_cast<PosixDevice*>(handle);
    if (returned) *returned = 0;
    if (!device) {
        setLastError(EBADF);
        return false;
    }
    switch (code) {
    case IOCTL_SCSI_PASS_THROUGH_DIRECT: {
        sg_io_hdr_t hdr;
        if (!SgIoFromPassThrough(in, inLength, hdr) || out != in || outLength < inLength) {
            setLastError(EINVAL);
            return false;
        }
        device->carried = false;
        if (::ioctl(device->fd, SG_IO, &hdr) != 0) {
            setLastError(static_cast<uint32_t>(errno));
            return false;
        }
        device->carried = true;
        device->last = SystemFieldsOf(hdr);
        uint32_t error = 0;
        if (!PassThroughFromSgIo(hdr, *static_cast<ScsiPassThroughDirect*>(in), error)) {
            setLastError(error);
            return false;
        }
        if (returned) *returned = inLength;
        return true;
    }
    case IOCTL_SCSI_GET_ADDRESS: {
        if (!out || outLength < sizeof(ScsiAddress)) {
            setLastError(EINVAL);
            return false;
        }
        struct {
            int fourInOne; // id | lun << 8 | channel << 16 | host << 24
            int hostUniqueId;
        } idlun = {};
        if (::ioctl(device->fd, SCSI_IOCTL_GET_IDLUN, &idlun) != 0) {
            setLastError(static_cast<uint32_t>(errno));
            return false;
        }
        ScsiAddress address = {};
        address.length = sizeof address;
        address.targetId = static_cast<uint8_t>(idlun.fourInOne);
        address.lun = static_cast<uint8_t>(idlun.fourInOne >> 8);
        address.pathId = static_cast<uint8_t>(idlun.fourInOne >> 16);
        address.portNumber = static_cast<uint8_t>(idlun.fourInOne >> 24);
        std::memcpy(out, &address, sizeof address);
        if (returned) *returned = sizeof address;
        return true;
    }
    case IOCTL_STORAGE_QUERY_PROPERTY: {
        StoragePropertyQuery query = {};
        if (!in || inLength < offsetof(StoragePropertyQuery, additionalParameters) || !out ||
            outLength < sizeof(StorageAdapterDescriptor)) {
            setLastError(EINVAL);
            return false;
        }
        std::memcpy(&query, in, offsetof(StoragePropertyQuery, additionalParameters));
        if (query.propertyId != kStorageAdapterProperty ||
            query.queryType != kPropertyStandardQuery) {
            setLastError(EINVAL);
            return false;
        }
        char resolved[PATH_MAX];
        std::string link = "/sys/class/block/" + device->blockName;
        if (!::realpath(link.c_str(), resolved)) {
            setLastError(static_cast<uint32_t>(errno));
            return false;
        }
        StorageAdapterDescriptor adapter = {};
        adapter.version = sizeof adapter;
        adapter.size = sizeof adapter;
        adapter.busType = StorageBusFromSysfsPath(resolved);
        adapter.maximumTransferLength = QueueTransferLimit(device->blockName);
        std::memcpy(out, &adapter, sizeof adapter);
        if (returned) *returned = sizeof adapter;
        return true;
    }
    case IOCTL_CDROM_EXCLUSIVE_ACCESS: {
        CdromExclusiveLock lock = {};
        if (!in || inLength < sizeof lock) {
            setLastError(EINVAL);
            return false;
        }
        std::memcpy(&lock, in, sizeof lock);
        switch (lock.requestType) {
        case kExclusiveAccessQueryState: {
            if (!out || outLength < sizeof(CdromExclusiveLockState)) {
                setLastError(EINVAL);
                return false;
            }
            CdromExclusiveLockState state = {};
            state.lockState = device->exclusiveFd >= 0 ? 1 : 0;
            if (device->exclusiveFd >= 0) {
                std::memcpy(state.callerName, lock.callerName, sizeof state.callerName);
            }
            std::memcpy(out, &state, sizeof state);
            if (returned) *returned = sizeof state;
            return true;
        }
        case kExclusiveAccessLockDevice:
            if (device->exclusiveFd >= 0) return true;
            device->exclusiveFd = OpenExclusive(device->fd, device->path);
            if (device->exclusiveFd < 0) {
                setLastError(static_cast<uint32_t>(errno));
                return false;
            }
            return true;
        case kExclusiveAccessUnlockDevice:
            if (device->exclusiveFd < 0) {
                setLastError(EINVAL);
                return false;
            }
            ::close(device->exclusiveFd);
            device->exclusiveFd = -1;
            return true;
        default:
            setLastError(EINVAL);
            return false;
        }
    }
    default:
        // Includes the proxy driver's controls: there is no proxy driver here.
        setLastError(ENOTTY);
        return false;
    }
}

} // namespace tvx
