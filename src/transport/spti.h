// The pass-through backend's entry points beyond its Transport table (SptiTransport in
// backends.h). The ASPI backend opens drives that its layer does not show through
// OpenByDeviceFile and forwards to SptiTransport.
#pragma once

#include "transport/transport.h"

namespace tvx {

// Opens the drive named "D:" (letter and colon) through its device file, or through the proxy
// device when that cannot be opened. Writes the log lines of every step; null on failure, with
// nothing left open.
Device* OpenByDeviceFile(const char* name);

} // namespace tvx
