// A thread that keeps the module it runs in loaded until it ends (Windows). Unloading the module
// then never has to wait for it: FreeLibrary runs DLL_PROCESS_DETACH under the loader lock, and a
// thread joined there could never finish, since ending a thread needs that lock too.
#pragma once

namespace tvx::vdrive {

// Runs entry(argument) on a new thread holding a reference to this module, which it gives up as
// it ends; the last reference unloads the module on that thread. False when no thread started.
bool StartModuleThread(void (*entry)(void*), void* argument);

} // namespace tvx::vdrive
