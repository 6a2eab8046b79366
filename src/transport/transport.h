// The Transport: twelve operations that carry one SCSI command to a drive, in slot order. Two
// backends provide them (pass-through and ASPI); TVX_Initialize chooses one for the process, and
// the rest of the library calls only the front below.
//
// Contract:
// - A Device is the backend's opened-drive record; it starts with a DeviceHeader. OpenByName,
//   OpenByAddress and Enumerate create Devices; whoever receives one (the enumeration callback
//   included) owns it and closes it with Close, which releases everything it holds.
// - Execute uses the caller's data buffer directly (no copy); the buffer and the CommandRecord
//   stay the caller's and need to live only until Execute returns. A call without buffer or with
//   length 0 has no data phase, whatever the record's direction says.
// - Execute answers 1 only when the command completed with good status. The getters describe
//   the last Execute on the same Device and stay valid until the next one.
// - Execute and the getters on one Device must not run concurrently; the front's DeviceMutex
//   serialises single commands across threads and processes. Different Devices are independent.
// - A drive is locked through the thing itself (its open device file), never through a name in
//   a shared folder that others could plant or hold.
// - Enumerate, the opens and Close run while no other call uses the transport.
#pragma once

#include "platform/host.h"

#include <cstdint>

namespace tvx {

// Bus kinds of DeviceHeader::busKind and TVX_DriveInfo::busKind.
inline constexpr int32_t kBusOther = 0;
inline constexpr int32_t kBusAtapi = 1;
inline constexpr int32_t kBusScsi = 2;
inline constexpr int32_t kBus1394 = 3;
inline constexpr int32_t kBusUsb = 4;

// Directions of CommandRecord::direction.
inline constexpr uint8_t kDirectionOut = 0;  // data to the drive
inline constexpr uint8_t kDirectionIn = 1;   // data from the drive
inline constexpr uint8_t kDirectionNone = 2; // no data phase

// The 20-byte description of one command.
struct CommandRecord {
    uint16_t timeout = 0; // seconds; 0 means the backend's default
    uint8_t direction = kDirectionNone;
    uint8_t cdbLength = 0;
    uint8_t cdb[16] = {};
};
static_assert(sizeof(CommandRecord) == 20, "CommandRecord is 20 bytes");

struct DeviceMutex;

struct DeviceHeader {
    int32_t busKind = kBusOther;
    char driveLetter = 0;
    uint8_t hostAdapter = 0;
    uint8_t target = 0;
    uint8_t lun = 0;
    char vendor[9] = {};
    char product[17] = {};
    char revision[5] = {};
    void* privatePart = nullptr;
    DeviceMutex* deviceMutex = nullptr;
    // The open device file of the drive, which carries its locks (Host::lockDevice); set by the
    // backend that holds one, null when the drive is reached otherwise (the proxy device, an
    // ASPI layer). Owned by the backend's Device.
    HostHandle deviceFile = nullptr;
    // What names the drive to every process, for the job lock: set by the
    // backend when it knows it, else asked of the drive on the first job. Empty: not known yet.
    char identity[96] = {};
    // The largest data transfer one command may carry on the path to the drive (the adapter's
    // limit), in bytes; 0 when the backend does not know it.
    uint32_t maxTransferBytes = 0;
};

// Every backend's Device begins with the header.
struct Device {
    DeviceHeader header;
};

using EnumerateCallback = void (*)(void* context, int index, Device* device);

struct Transport {
    int (*Terminate)();
    Device* (*OpenByAddress)(uint8_t hostAdapter, uint8_t target, uint8_t lun);
    Device* (*OpenByName)(const char* name);
    void (*Close)(Device* device);
    int (*Enumerate)(EnumerateCallback callback, void* context);
    int (*SetExclusive)(Device* device, int on);
    int (*Execute)(Device* device, const CommandRecord* command, void* data, uint32_t length);
    uint8_t (*GetStatus)(Device* device);
    uint32_t (*GetSenseLength)(Device* device);
    uint32_t (*GetCdbLength)(Device* device);
    const uint8_t* (*GetSense)(Device* device);
    const uint8_t* (*GetCdb)(Device* device);
};

// The backend chosen by TVX_Initialize; null while the library is not initialised.
extern const Transport* ActiveTransport;

// The transport front: forwards to ActiveTransport and adds the per-drive DeviceMutex. Each
// does nothing and answers 0 or null while no transport is active.
int Front_Terminate();
int Front_Enumerate(EnumerateCallback callback, void* context);
Device* Front_OpenByAddress(uint8_t hostAdapter, uint8_t target, uint8_t lun);
Device* Front_OpenByName(const char* name); // also opens or creates the DeviceMutex
void Front_Close(Device* device);           // closes the DeviceMutex, then the Device
int Front_Execute(Device* device, const CommandRecord* command, void* data, uint32_t length);
struct TransportDetail;
// Front_Execute that also fills what the path to the drive said of the command
// (transport_detail.h), read while the DeviceMutex is still held.
int Front_ExecuteWithDetail(Device* device, const CommandRecord* command, void* data,
                            uint32_t length, TransportDetail& detail);
int Front_SetExclusive(Device* device, int on);
uint8_t Front_GetStatus(Device* device);
uint32_t Front_GetSenseLength(Device* device);
uint32_t Front_GetCdbLength(Device* device);
const uint8_t* Front_GetSense(Device* device);
const uint8_t* Front_GetCdb(Device* device);

} // namespace tvx
