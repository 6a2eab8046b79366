// Opening a drive by name: its device file or the proxy device, then its identification.
#include "frame/log.h"
#include "transport/identify.h"
#include "transport/spti_device.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

namespace tvx {

namespace {

constexpr uint32_t kPropertyBufferSize = 2048;

int32_t BusKindFromStorageBus(uint8_t busType) {
    switch (busType) {
    case kStorageBusScsi:
        return kBusScsi;
    case kStorageBusAtapi:
    case kStorageBusAta:
        return kBusAtapi;
    case kStorageBus1394:
        return kBus1394;
    case kStorageBusUsb:
        return kBusUsb;
    default:
        return kBusOther;
    }
}

HostHandle OpenReadWrite(const char* path) {
    return host().createDeviceFile(path, GENERIC_READ | GENERIC_WRITE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, 0);
}

} // namespace

HostHandle _CreateDeviceFile(const char* path) {
    if (HostHandle handle = OpenReadWrite(path)) return handle;
    LogWrite("Retry: CreateFile(%s) with CDRBLK\n", path);
    if (HostHandle handle = OpenReadWrite(kProxyDriveName)) return handle;
    LogWrite("Fail: CreateFile(%s) == INVALID_HANDLE_VALUE\n", kProxyDriveName);
    return nullptr;
}

HostHandle CDRBlock_Open() {
    return host().createDeviceFile(kProxyDeviceName, 0, 0, FILE_ATTRIBUTE_NORMAL);
}

int _SetupDeviceInfo(SptiDevice* device) {
    DeviceHeader& header = device->device.header;

    ScsiAddress address = {};
    uint32_t returned = 0;
    if (Spti_DeviceControl(device, IOCTL_SCSI_GET_ADDRESS, nullptr, 0, &address, sizeof address,
                           &returned) &&
        address.length != 0) {
        header.hostAdapter = address.portNumber;
        header.target = address.targetId;
        header.lun = address.lun;
    }

    if (!Transport_Identify(Spti_Execute, &device->device)) return 0;

    std::array<uint8_t, kPropertyBufferSize> query = {};
    std::array<uint8_t, kPropertyBufferSize> answer = {};
    StoragePropertyQuery property = {};
    property.propertyId = kStorageAdapterProperty;
    property.queryType = kPropertyStandardQuery;
    std::memcpy(query.data(), &property, sizeof property);
    if (Spti_DeviceControl(device, IOCTL_STORAGE_QUERY_PROPERTY, query.data(), kPropertyBufferSize,
                           answer.data(), kPropertyBufferSize, &returned)) {
        StorageAdapterDescriptor adapter;
        std::memcpy(&adapter, answer.data(), sizeof adapter);
        header.busKind = BusKindFromStorageBus(adapter.busType);
    }
    return 1;
}

Device* OpenByDeviceFile(const char* name) {
    LogWrite("Try: OpenByDeviceFile(%s)\n", name);

    char root[kDeviceNameCapacity + 1];
    std::snprintf(root, sizeof root, "%s\\", name);
    if (host().driveType(root) != DRIVE_CDROM) {
        LogWrite("Fail: GetDriveType(%s) != DRIVE_CDROM\n", root);
        return nullptr;
    }

    char path[kDeviceNameCapacity + 4];
    std::snprintf(path, sizeof path, "\\\\.\\%s", name);
    HostHandle driveHandle = _CreateDeviceFile(path);
    HostHandle proxyHandle = nullptr;
    int classDeviceNumber = 0;
    if (!driveHandle) {
        classDeviceNumber = _CorrectDriveNumber(name[0]);
        if (classDeviceNumber < 0) {
            LogWrite("Fail: _CorrectDriveNumber(%s) == %d\n", name, classDeviceNumber);
            return nullptr;
        }
        LogWrite("Fail: _CreateDeviceFile(%s) == NULL\n", path);
        proxyHandle = CDRBlock_Open();
        if (!proxyHandle) {
            LogWrite("Fail: CDRBlock_Open(%s) == NULL\n", path);
            return nullptr;
        }
    }

    auto* device = new (std::nothrow) SptiDevice{};
    if (!device) {
        if (driveHandle) host().closeDevice(driveHandle);
        if (proxyHandle) host().closeDevice(proxyHandle);
        return nullptr;
    }
    device->device.header.privatePart = &device->driveHandle;
    device->driveHandle = driveHandle;
    device->device.header.deviceFile = driveHandle; // the drive's locks; none through the proxy
    device->proxyHandle = proxyHandle;
    device->classDeviceNumber = classDeviceNumber;
    std::snprintf(device->name, sizeof device->name, "%s", name);

    if (!_SetupDeviceInfo(device)) {
        LogWrite("Fail: _SetupDeviceInfo() == FALSE\n");
        Spti_Close(&device->device);
        return nullptr;
    }
    // The device node names the drive to every process; without one (the proxy, or a host
    // that cannot tell) the drive's name does.
    std::string identity = driveHandle ? host().deviceIdentity(driveHandle) : std::string();
    if (identity.empty()) identity = std::string("drive-") + name;
    std::snprintf(device->device.header.identity, sizeof device->device.header.identity, "%s",
                  identity.c_str());
    LogWrite("Success: OpenByDeviceFile(%s)\n", name);
    return &device->device;
}

} // namespace tvx
