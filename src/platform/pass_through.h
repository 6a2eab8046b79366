// The Windows device-control vocabulary the transport is written against: drive types, access
// flags, control codes and the request structures passed through Host::deviceIoControl. Every
// host implementation (native and simulated) reads and writes these same structures.
//
// The structures have their exact 32-bit layouts on 32-bit targets and their native layouts
// elsewhere (pointer-sized buffer fields), as the operating system defines them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tvx {

// Drive types answered by Host::driveType.
inline constexpr uint32_t DRIVE_UNKNOWN = 0;
inline constexpr uint32_t DRIVE_NO_ROOT_DIR = 1;
inline constexpr uint32_t DRIVE_REMOVABLE = 2;
inline constexpr uint32_t DRIVE_FIXED = 3;
inline constexpr uint32_t DRIVE_REMOTE = 4;
inline constexpr uint32_t DRIVE_CDROM = 5;
inline constexpr uint32_t DRIVE_RAMDISK = 6;

// Access, sharing and attribute flags of Host::createDeviceFile.
inline constexpr uint32_t GENERIC_READ = 0x80000000u;
inline constexpr uint32_t GENERIC_WRITE = 0x40000000u;
inline constexpr uint32_t FILE_SHARE_READ = 0x1;
inline constexpr uint32_t FILE_SHARE_WRITE = 0x2;
inline constexpr uint32_t FILE_ATTRIBUTE_NORMAL = 0x80;

// Device names.
inline constexpr char kProxyDeviceName[] = "\\\\.\\CDRBLOCK";
inline constexpr char kProxyDriveName[] = "\\\\.\\CDRBLK:";

// Control codes.
inline constexpr uint32_t IOCTL_SCSI_PASS_THROUGH_DIRECT = 0x4D014;
inline constexpr uint32_t IOCTL_SCSI_GET_ADDRESS = 0x41018;
inline constexpr uint32_t IOCTL_STORAGE_QUERY_PROPERTY = 0x2D1400;
inline constexpr uint32_t IOCTL_CDROM_EXCLUSIVE_ACCESS = 0x2C05C;
// The proxy driver's own controls: carry a control to a CD-ROM class device, and take or give
// up exclusive use of a drive that it filters.
inline constexpr uint32_t IOCTL_PROXY_DEVICE_CONTROL = 0x85192040u;
inline constexpr uint32_t IOCTL_PROXY_EXCLUSIVE = 0x85192080u;

// SCSI_PASS_THROUGH_DIRECT.DataIn
inline constexpr uint8_t SCSI_IOCTL_DATA_OUT = 0;
inline constexpr uint8_t SCSI_IOCTL_DATA_IN = 1;
inline constexpr uint8_t SCSI_IOCTL_DATA_UNSPECIFIED = 2;

struct ScsiPassThroughDirect {
    uint16_t length;
    uint8_t scsiStatus;
    uint8_t pathId;
    uint8_t targetId;
    uint8_t lun;
    uint8_t cdbLength;
    uint8_t senseInfoLength;
    uint8_t dataIn;
    uint32_t dataTransferLength;
    uint32_t timeOutValue; // seconds
    void* dataBuffer;
    uint32_t senseInfoOffset; // from the start of this structure
    uint8_t cdb[16];
};

inline constexpr uint32_t kPassThroughSenseBytes = 32;

// The pass-through structure followed by its sense area, in one buffer.
struct PassThroughRequest {
    ScsiPassThroughDirect sptd;
    uint32_t filler;
    uint8_t sense[kPassThroughSenseBytes];
};

struct ScsiAddress {
    uint32_t length;
    uint8_t portNumber;
    uint8_t pathId;
    uint8_t targetId;
    uint8_t lun;
};

// STORAGE_PROPERTY_QUERY with StorageAdapterProperty and PropertyStandardQuery.
inline constexpr uint32_t kStorageAdapterProperty = 1;
inline constexpr uint32_t kPropertyStandardQuery = 0;

struct StoragePropertyQuery {
    uint32_t propertyId;
    uint32_t queryType;
    uint8_t additionalParameters[1];
};

// STORAGE_BUS_TYPE values.
inline constexpr uint8_t kStorageBusUnknown = 0;
inline constexpr uint8_t kStorageBusScsi = 1;
inline constexpr uint8_t kStorageBusAtapi = 2;
inline constexpr uint8_t kStorageBusAta = 3;
inline constexpr uint8_t kStorageBus1394 = 4;
inline constexpr uint8_t kStorageBusUsb = 7;

struct StorageAdapterDescriptor {
    uint32_t version;
    uint32_t size;
    uint32_t maximumTransferLength;
    uint32_t maximumPhysicalPages;
    uint32_t alignmentMask;
    uint8_t adapterUsesPio;
    uint8_t adapterScansDown;
    uint8_t commandQueueing;
    uint8_t acceleratedTransfer;
    uint8_t busType;
    uint16_t busMajorVersion;
    uint16_t busMinorVersion;
};

// CDROM_EXCLUSIVE_ACCESS request types.
inline constexpr uint32_t kExclusiveAccessQueryState = 0;
inline constexpr uint32_t kExclusiveAccessLockDevice = 1;
inline constexpr uint32_t kExclusiveAccessUnlockDevice = 2;
inline constexpr size_t kExclusiveCallerNameLength = 64;

struct CdromExclusiveLock {
    uint32_t requestType;
    uint32_t flags;
    uint8_t callerName[kExclusiveCallerNameLength];
};

struct CdromExclusiveLockState {
    uint8_t lockState;
    uint8_t callerName[kExclusiveCallerNameLength];
};

// The request the proxy device performs on a CD-ROM class device. The same buffer is passed as
// input and output of IOCTL_PROXY_DEVICE_CONTROL.
struct ProxyRequest {
    uint32_t classDeviceNumber;
    uint32_t controlCode;
    void* inBuffer;
    uint32_t inLength;
    void* outBuffer;
    uint32_t outLength;
    uint32_t bytesReturned; // written by the proxy device
    uint32_t reserved;
};

// Input of IOCTL_PROXY_EXCLUSIVE: 0, on (1) or off (0), 0.
struct ProxyExclusiveRequest {
    uint32_t reserved0;
    uint32_t on;
    uint32_t reserved1;
};

static_assert(sizeof(ScsiAddress) == 8);
static_assert(sizeof(StoragePropertyQuery) == 12);
static_assert(offsetof(StorageAdapterDescriptor, busType) == 24);
static_assert(sizeof(CdromExclusiveLock) == 72);
static_assert(sizeof(CdromExclusiveLockState) == 65);
static_assert(sizeof(ProxyExclusiveRequest) == 12);
static_assert(offsetof(ScsiPassThroughDirect, dataIn) == 8);
static_assert(offsetof(ScsiPassThroughDirect, dataTransferLength) == 12);
static_assert(offsetof(ScsiPassThroughDirect, timeOutValue) == 16);
static_assert(offsetof(ScsiPassThroughDirect, dataBuffer) == 20 + (sizeof(void*) - 4));
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(ScsiPassThroughDirect) == 44);
static_assert(offsetof(ScsiPassThroughDirect, senseInfoOffset) == 24);
static_assert(offsetof(ScsiPassThroughDirect, cdb) == 28);
static_assert(offsetof(PassThroughRequest, sense) == 48);
static_assert(sizeof(PassThroughRequest) == 80);
static_assert(sizeof(ProxyRequest) == 32);
static_assert(offsetof(ProxyRequest, bytesReturned) == 24);
#else
static_assert(sizeof(ScsiPassThroughDirect) == 56);
static_assert(offsetof(ScsiPassThroughDirect, senseInfoOffset) == 32);
static_assert(offsetof(ScsiPassThroughDirect, cdb) == 36);
static_assert(offsetof(PassThroughRequest, sense) == 60);
static_assert(offsetof(ProxyRequest, bytesReturned) == 36);
#endif

} // namespace tvx
