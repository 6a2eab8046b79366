// What the path to the drive said of the last command beyond its status and sense: the
// pass-through request's own status and lengths, the system's fields (SG_IO on Linux), or the
// ASPI request block's status words. Drive reports keep it so that a fault on the way to the
// drive (the adapter, the driver, a short transfer) is told apart from the drive's own answer.
// The library decides nothing on it; only the front fills it, on request.
#pragma once

#include "platform/host.h"
#include "transport/transport.h"

#include <cstdint>

namespace tvx {

enum class TransportPath : uint8_t {
    Unknown,     // a transport that keeps no such fields
    PassThrough, // the pass-through request (directly or through the proxy device)
    Aspi,        // an ASPI request block
};

struct TransportDetail {
    TransportPath path = TransportPath::Unknown;
    // The pass-through request: whether the device control succeeded (the system's error when
    // not), the bytes it returned, and the request's fields as they came back.
    bool requestDone = false;
    uint32_t systemError = 0;
    uint32_t bytesReturned = 0;
    uint32_t dataTransferLength = 0; // bytes moved, as the request tells after the call
    uint8_t senseInfoLength = 0;     // sense bytes returned
    // The system's own fields, when the host keeps them.
    bool hasSystemFields = false;
    PassThroughSystemFields system;
    // The ASPI request block's words.
    uint8_t srbStatus = 0;
    uint8_t hostAdapterStatus = 0;
    uint8_t targetStatus = 0;
};

// The detail of the last Execute on the Device, from the active backend.
void Transport_Detail(Device* device, TransportDetail& detail);

// The backends' own parts of it.
void Spti_Detail(Device* device, TransportDetail& detail);
void Aspi_Detail(Device* device, TransportDetail& detail);

} // namespace tvx
