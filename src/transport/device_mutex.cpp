#include "transport/device_mutex.h"

#include <cstdio>

namespace tvx {

HostHandle DeviceMutex_Open(const char* driveName) {
    char name[256];
    std::snprintf(name, sizeof name, "MERADIN_TORVEXIN_MUTEX_%s", driveName);
    HostHandle mutex = host().openMutex(name);
    if (!mutex) mutex = host().createMutex(name);
    return mutex;
}

void DeviceMutex_Close(HostHandle mutex) { host().closeMutex(mutex); }

} // namespace tvx
