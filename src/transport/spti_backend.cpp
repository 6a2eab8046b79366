// The pass-through backend: drives reached through the SCSI pass-through request on their
// device files (or through the proxy device), addressed by drive letter.
#include "frame/log.h"
#include "transport/backends.h"
#include "transport/spti_device.h"
#include "transport/transport_detail.h"

#include <cstdio>
#include <cstring>

namespace tvx {

namespace {

constexpr char kFirstLetter = 'C'; // A: and B: are never tried
constexpr char kLastLetter = 'Z';
constexpr uint16_t kDefaultTimeoutSeconds = 20;
constexpr char kExclusiveCallerName[] = "Torvexin";

uint32_t LetterBit(char letter) {
    return 1u << (letter - 'A');
}

int Terminate() {
    return 0;
}

Device* OpenByAddress(uint8_t, uint8_t, uint8_t) {
    return nullptr;
}

int Enumerate(EnumerateCallback callback, void* context) {
    uint32_t mask = host().logicalDrives();
    if (mask == 0) return 0;
    int index = 0;
    for (char letter = kFirstLetter; letter <= kLastLetter; ++letter) {
        // Nothing at or above this letter: the scan is over.
        if ((mask >> (letter - 'A')) == 0) break;
        if (!(mask & LetterBit(letter))) continue;
        char name[3] = {letter, ':', 0};
        Device* device = OpenByDeviceFile(name);
        if (!device) continue;
        const DeviceHeader& h = device->header;
        LogWrite("FOUND [%s](%d,%d,%d)[%-8s][%-16s][%-4s]\n", AsSpti(device)->name, h.hostAdapter,
                 h.target, h.lun, h.vendor, h.product, h.revision);
        device->header.driveLetter = letter;
        callback(context, index, device);
        ++index;
    }
    return index;
}

int SetExclusive(Device* device, int on) {
    SptiDevice* spti = AsSpti(device);
    // A drive that the proxy driver filters answers its own control.
    ProxyExclusiveRequest proxy = {0, on ? 1u : 0u, 0};
    if (host().deviceIoControl(spti->driveHandle, IOCTL_PROXY_EXCLUSIVE, &proxy, sizeof proxy,
                               nullptr, 0, nullptr)) {
        return 1;
    }

    CdromExclusiveLock lock = {};
    lock.requestType = kExclusiveAccessQueryState;
    std::memcpy(lock.callerName, kExclusiveCallerName, sizeof kExclusiveCallerName - 1);
    CdromExclusiveLockState state = {};
    uint32_t returned = 0;
    if (!host().deviceIoControl(spti->driveHandle, IOCTL_CDROM_EXCLUSIVE_ACCESS, &lock, sizeof lock,
                                &state, sizeof state, &returned)) {
        LogSystemError(host().lastError());
    }
    lock.requestType = on ? kExclusiveAccessLockDevice : kExclusiveAccessUnlockDevice;
    bool done = host().deviceIoControl(spti->driveHandle, IOCTL_CDROM_EXCLUSIVE_ACCESS, &lock,
                                       sizeof lock, nullptr, 0, &returned);
    if (!done) LogSystemError(host().lastError());
    return done ? 1 : 0;
}

uint8_t GetStatus(Device* device) {
    return AsSpti(device)->request.sptd.scsiStatus;
}
uint32_t GetSenseLength(Device*) {
    return kPassThroughSenseBytes;
}
uint32_t GetCdbLength(Device* device) {
    return AsSpti(device)->request.sptd.cdbLength;
}
const uint8_t* GetSense(Device* device) {
    return AsSpti(device)->request.sense;
}
const uint8_t* GetCdb(Device* device) {
    return AsSpti(device)->request.sptd.cdb;
}

} // namespace

int Spti_DeviceControl(SptiDevice* device, uint32_t code, void* in, uint32_t inLength, void* out,
                       uint32_t outLength, uint32_t* returned) {
    if (device->driveHandle) {
        return host().deviceIoControl(device->driveHandle, code, in, inLength, out, outLength,
                                      returned)
                   ? 1
                   : 0;
    }
    if (device->proxyHandle) {
        ProxyRequest proxy = {};
        proxy.classDeviceNumber = static_cast<uint32_t>(device->classDeviceNumber);
        proxy.controlCode = code;
        proxy.inBuffer = in;
        proxy.inLength = inLength;
        proxy.outBuffer = out;
        proxy.outLength = outLength;
        proxy.bytesReturned = 0;
        uint32_t proxyReturned = 0;
        bool done = host().deviceIoControl(device->proxyHandle, IOCTL_PROXY_DEVICE_CONTROL, &proxy,
                                           sizeof proxy, &proxy, sizeof proxy, &proxyReturned);
        if (returned) *returned = proxy.bytesReturned;
        return done ? 1 : 0;
    }
    return 0;
}

int Spti_Execute(Device* device, const CommandRecord* command, void* data, uint32_t length) {
    SptiDevice* spti = AsSpti(device);
    PassThroughRequest& request = spti->request;
    ScsiPassThroughDirect& sptd = request.sptd;
    sptd.length = sizeof(ScsiPassThroughDirect);
    sptd.scsiStatus = 0;
    sptd.pathId = 0; // the device file selects the drive
    sptd.targetId = 0;
    sptd.lun = 0;
    sptd.cdbLength = command->cdbLength > sizeof sptd.cdb ? sizeof sptd.cdb : command->cdbLength;
    sptd.senseInfoLength = kPassThroughSenseBytes;
    if (!data || length == 0) {
        sptd.dataIn = SCSI_IOCTL_DATA_UNSPECIFIED;
    } else if (command->direction == kDirectionOut) {
        sptd.dataIn = SCSI_IOCTL_DATA_OUT;
    } else if (command->direction == kDirectionIn) {
        sptd.dataIn = SCSI_IOCTL_DATA_IN;
    } else {
        sptd.dataIn = SCSI_IOCTL_DATA_UNSPECIFIED;
    }
    sptd.dataTransferLength = length;
    sptd.timeOutValue = command->timeout ? command->timeout : kDefaultTimeoutSeconds;
    sptd.dataBuffer = data;
    sptd.senseInfoOffset = offsetof(PassThroughRequest, sense);
    std::memcpy(sptd.cdb, command->cdb, sizeof sptd.cdb);
    // A failed request must not leave the previous command's sense behind.
    std::memset(request.sense, 0, sizeof request.sense);

    uint32_t returned = 0;
    int done = Spti_DeviceControl(spti, IOCTL_SCSI_PASS_THROUGH_DIRECT, &request, sizeof request,
                                  &request, sizeof request, &returned);
    spti->requestDone = done != 0;
    spti->systemError = done ? 0 : host().lastError();
    spti->bytesReturned = returned;
    return done && sptd.scsiStatus == 0 ? 1 : 0;
}

void Spti_Detail(Device* device, TransportDetail& detail) {
    SptiDevice* spti = AsSpti(device);
    detail.path = TransportPath::PassThrough;
    detail.requestDone = spti->requestDone;
    detail.systemError = spti->systemError;
    detail.bytesReturned = spti->bytesReturned;
    detail.dataTransferLength = spti->request.sptd.dataTransferLength;
    detail.senseInfoLength = spti->request.sptd.senseInfoLength;
    // Through the proxy device the system's fields belong to another handle.
    detail.hasSystemFields =
        spti->driveHandle && host().passThroughFields(spti->driveHandle, detail.system);
}

void Spti_Close(Device* device) {
    if (!device) return;
    SptiDevice* spti = AsSpti(device);
    if (spti->driveHandle) host().closeDevice(spti->driveHandle);
    if (spti->proxyHandle) host().closeDevice(spti->proxyHandle);
    delete spti;
}

const Transport SptiTransport = {Terminate,      OpenByAddress, OpenByDeviceFile, Spti_Close,
                                 Enumerate,      SetExclusive,  Spti_Execute,     GetStatus,
                                 GetSenseLength, GetCdbLength,  GetSense,         GetCdb};

int ProbeSpti() {
    uint32_t mask = host().logicalDrives();
    if (mask == 0) return 0;
    for (char letter = kFirstLetter; letter <= kLastLetter; ++letter) {
        if (!(mask & LetterBit(letter))) continue;
#if defined(_WIN32)
        // Any drive letter that opens counts, whatever kind of drive it is.
        char path[8];
        std::snprintf(path, sizeof path, "\\\\.\\%c:", letter);
        if (HostHandle handle = _CreateDeviceFile(path)) {
            host().closeDevice(handle);
            return 1;
        }
        char name[3] = {letter, ':', 0};
        if (Device* device = OpenByDeviceFile(name)) {
            Spti_Close(device);
            return 1;
        }
#else
        char name[3] = {letter, ':', 0};
        // A device node that opens is not yet a drive (a regular file, /dev/null or a FIFO in
        // its place opens too): only one that carries an INQUIRY keeps the other paths, the
        // virtual drives among them, from being tried.
        Device* device = OpenByDeviceFile(name);
        if (!device) continue;
        CommandRecord inquiry;
        inquiry.direction = kDirectionIn;
        inquiry.cdbLength = 6;
        inquiry.cdb[0] = 0x12;
        inquiry.cdb[4] = 36;
        uint8_t answer[36] = {};
        Spti_Execute(device, &inquiry, answer, sizeof answer);
        const bool answered = AsSpti(device)->requestDone;
        Spti_Close(device);
        LogWrite("%s: %s %s\n", answered ? "Answers" : "Fail", name,
                 answered ? "through the pass-through" : "takes no pass-through request");
        if (answered) return 1;
#endif
    }
    return 0;
}

} // namespace tvx
