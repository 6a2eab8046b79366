// Identifying an opened drive: both backends send the same INQUIRY and keep the same fields.
#pragma once

#include "transport/transport.h"

#include <string>

namespace tvx {

using ExecuteFunction = int (*)(Device* device, const CommandRecord* command, void* data,
                                uint32_t length);

// Sends INQUIRY through the backend's execute; for a CD/DVD device (peripheral type 5) stores
// vendor, product and revision in the header with their trailing blanks removed. 1 on success.
int Transport_Identify(ExecuteFunction execute, Device* device);

// Asks for the unit serial number (INQUIRY, vital product data page 80h); 1 when the drive
// reports one that is not blank, with its printable characters in `serial`.
int Transport_UnitSerial(ExecuteFunction execute, Device* device, std::string& serial);

} // namespace tvx
