// The DeviceMutex: a named, process-shared mutex per drive name that serialises single commands.
#pragma once

#include "platform/host.h"

namespace tvx {

// Opens "MERADIN_TORVEXIN_MUTEX_<name>", creating it when none exists; null when both fail.
HostHandle DeviceMutex_Open(const char* driveName);
void DeviceMutex_Close(HostHandle mutex);

} // namespace tvx
