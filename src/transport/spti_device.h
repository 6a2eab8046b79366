// The pass-through backend's Device and the steps its files share. Private to the backend.
#pragma once

#include "platform/host.h"
#include "platform/pass_through.h"
#include "transport/spti.h"

#include <cstdint>

namespace tvx {

inline constexpr size_t kDeviceNameCapacity = 256; // 255 characters and a terminator

// Header first: a Device* of this backend is the address of an SptiDevice.
struct SptiDevice {
    Device device;
    // The private part.
    HostHandle driveHandle = nullptr; // null when the drive is reached through the proxy
    HostHandle proxyHandle = nullptr;
    int32_t classDeviceNumber = 0; // used only with the proxy device
    char name[kDeviceNameCapacity] = {};
    PassThroughRequest request = {}; // the last command's request, status, CDB and sense
    // How the last request's device control went, for the transport detail.
    bool requestDone = false;
    uint32_t systemError = 0;
    uint32_t bytesReturned = 0;
};

inline SptiDevice* AsSpti(Device* device) {
    return reinterpret_cast<SptiDevice*>(device);
}

// Opens a device file read-write; on failure retries the proxy's drive device. Null on failure.
HostHandle _CreateDeviceFile(const char* path);
// Opens the proxy device; null when it is absent.
HostHandle CDRBlock_Open();
// The CD-ROM class device number (0-25) that carries the drive letter, or -1.
int _CorrectDriveNumber(char letter);
// Fills the Device's address, identification and bus kind; 0 unless the drive is a CD/DVD.
int _SetupDeviceInfo(SptiDevice* device);

// Every control of the backend goes through here: the drive handle when there is one, else the
// proxy device. 0 on failure.
int Spti_DeviceControl(SptiDevice* device, uint32_t code, void* in, uint32_t inLength, void* out,
                       uint32_t outLength, uint32_t* returned);
int Spti_Execute(Device* device, const CommandRecord* command, void* data, uint32_t length);
void Spti_Close(Device* device);

} // namespace tvx
