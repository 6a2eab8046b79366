// The transport front: what the rest of the library calls. It forwards to the active backend
// and adds the per-drive DeviceMutex around each single command.
#include "transport/transport.h"

#include "transport/device_mutex.h"
#include "transport/transport_detail.h"

namespace tvx {

const Transport* ActiveTransport = nullptr;

int Front_Terminate() {
    return ActiveTransport ? ActiveTransport->Terminate() : 0;
}

int Front_Enumerate(EnumerateCallback callback, void* context) {
    return ActiveTransport ? ActiveTransport->Enumerate(callback, context) : 0;
}

Device* Front_OpenByAddress(uint8_t hostAdapter, uint8_t target, uint8_t lun) {
    return ActiveTransport ? ActiveTransport->OpenByAddress(hostAdapter, target, lun) : nullptr;
}

Device* Front_OpenByName(const char* name) {
    if (!ActiveTransport) return nullptr;
    Device* device = ActiveTransport->OpenByName(name);
    if (device) device->header.deviceMutex = DeviceMutex_Open(name, device->header.deviceFile);
    return device;
}

void Front_Close(Device* device) {
    if (!ActiveTransport || !device) return;
    if (device->header.deviceMutex) {
        DeviceMutex_Close(device->header.deviceMutex);
        device->header.deviceMutex = nullptr;
    }
    ActiveTransport->Close(device);
}

namespace {

int Execute(Device* device, const CommandRecord* command, void* data, uint32_t length,
            TransportDetail* detail) {
    if (detail) *detail = {};
    if (!ActiveTransport || !device) return 0;
    DeviceMutex* mutex = device->header.deviceMutex;
    DeviceMutex_Wait(mutex);
    int result = ActiveTransport->Execute(device, command, data, length);
    if (detail) Transport_Detail(device, *detail);
    DeviceMutex_Release(mutex);
    return result;
}

} // namespace

int Front_Execute(Device* device, const CommandRecord* command, void* data, uint32_t length) {
    return Execute(device, command, data, length, nullptr);
}

int Front_ExecuteWithDetail(Device* device, const CommandRecord* command, void* data,
                            uint32_t length, TransportDetail& detail) {
    return Execute(device, command, data, length, &detail);
}

int Front_SetExclusive(Device* device, int on) {
    return ActiveTransport ? ActiveTransport->SetExclusive(device, on) : 0;
}

uint8_t Front_GetStatus(Device* device) {
    return ActiveTransport ? ActiveTransport->GetStatus(device) : 0;
}

uint32_t Front_GetSenseLength(Device* device) {
    return ActiveTransport ? ActiveTransport->GetSenseLength(device) : 0;
}

uint32_t Front_GetCdbLength(Device* device) {
    return ActiveTransport ? ActiveTransport->GetCdbLength(device) : 0;
}

const uint8_t* Front_GetSense(Device* device) {
    return ActiveTransport ? ActiveTransport->GetSense(device) : nullptr;
}

const uint8_t* Front_GetCdb(Device* device) {
    return ActiveTransport ? ActiveTransport->GetCdb(device) : nullptr;
}

} // namespace tvx
