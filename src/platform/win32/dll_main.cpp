// The module entry of Torvexin.dll: it only remembers the module, so that the version query
// finds the library's own file.
#include "platform/win32/win32_host.h"

#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) tvx::ModuleHandle = instance;
    return TRUE;
}
