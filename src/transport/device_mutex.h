// The DeviceMutex: orders single commands to one drive across threads and processes. Where the
// host locks open device files, it is a lock on the command byte of the drive's device file:
// only those who can open the device can take it. Elsewhere (Windows) it is the named,
// process-shared mutex "MERADIN_TORVEXIN_MUTEX_<name>". Threads that share one Device are
// ordered inside the process first: a lock of the device file is one for all of them.
#pragma once

#include "platform/host.h"

namespace tvx {

struct DeviceMutex;

// Never null unless memory runs out. deviceFile may be null: the named mutex is used then, and
// where no named mutex can be made either, commands are ordered in this process only.
DeviceMutex* DeviceMutex_Open(const char* driveName, HostHandle deviceFile);
void DeviceMutex_Wait(DeviceMutex* mutex); // recursive on one thread
void DeviceMutex_Release(DeviceMutex* mutex);
void DeviceMutex_Close(DeviceMutex* mutex);

} // namespace tvx
