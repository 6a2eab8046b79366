#include "vdrive/aspi_layer/module_thread.h"

#include <new>
#include <windows.h>

namespace tvx::vdrive {

namespace {

struct ThreadStart {
    void (*entry)(void*);
    void* argument;
    HMODULE module;
};

DWORD WINAPI RunThread(void* parameter) {
    ThreadStart start = *static_cast<ThreadStart*>(parameter);
    delete static_cast<ThreadStart*>(parameter);
    start.entry(start.argument);
    // Returns into the system, never into code of a module that may be gone by then.
    ::FreeLibraryAndExitThread(start.module, 0);
}

} // namespace

bool StartModuleThread(void (*entry)(void*), void* argument) {
    HMODULE module = nullptr;
    if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                              reinterpret_cast<LPCWSTR>(&RunThread), &module))
        return false;
    auto* start = new (std::nothrow) ThreadStart{entry, argument, module};
    HANDLE thread = start ? ::CreateThread(nullptr, 0, RunThread, start, 0, nullptr) : nullptr;
    if (!thread) {
        delete start;
        ::FreeLibrary(module);
        return false;
    }
    ::CloseHandle(thread);
    return true;
}

} // namespace tvx::vdrive
