// The ASPI backend's Device, its request blocks and the layer's entry points. Private to the
// backend.
#pragma once

#include "platform/aspi_request.h"
#include "transport/aspi.h"

#include <memory>
#include <vector>

namespace tvx {

// One request block with its completion event. While the layer owns the block (it answered
// SS_PENDING and has not signalled completion yet) the block is neither reused nor freed.
struct AspiRequest {
    SRB_ExecSCSICmd block{};
    AspiEvent notify{};
    HostHandle event = nullptr;
    bool inFlight = false; // guarded by the completion lock
    ~AspiRequest();
};

// Header first: a Device* of this backend is the address of an AspiDevice.
struct AspiDevice {
    Device device;
    // The private part.
    Device* inner = nullptr; // the wrapped pass-through Device; null when opened by address
    std::unique_ptr<AspiRequest> request; // the last command's block, for the getters
    // Blocks that timed out while the layer still held them; freed once it lets go.
    std::vector<std::unique_ptr<AspiRequest>> abandoned;
};

inline AspiDevice* AsAspi(Device* device) {
    return reinterpret_cast<AspiDevice*>(device);
}

// The loaded layer's entry points; null until a successful load.
AspiSupportInfoFunction Aspi_SupportInfo();
AspiSendCommandFunction Aspi_SendCommand();

// A new request block with its event (manual reset, not signalled); null on failure.
std::unique_ptr<AspiRequest> Aspi_NewRequest();
// True while the layer still owns the block.
bool Aspi_InFlight(AspiRequest& request);
void Aspi_SetInFlight(AspiRequest& request, bool inFlight);
// Frees the abandoned blocks the layer has let go of.
void Aspi_Sweep(std::vector<std::unique_ptr<AspiRequest>>& requests);
// Keeps blocks the layer still owns until it is unloaded; frees the others.
void Aspi_Orphan(std::unique_ptr<AspiRequest> request);

// Unloads the layer; 1 when it was loaded and unloads, else 0.
int Aspi_Terminate();

// SC_HA_INQUIRY of one adapter; true when it ends with SS_COMP.
bool Aspi_HostAdapterInquiry(uint8_t adapter, SRB_HAInquiry& answer);

int Aspi_Execute(Device* device, const CommandRecord* command, void* data, uint32_t length);

} // namespace tvx
