// Logical drives, device files with device control, the registry and dynamic modules.
#include "platform/win32/win32_host.h"

#include <windows.h>

#include <cstring>
#include <string>

namespace tvx {

namespace {

#ifndef LOAD_LIBRARY_SEARCH_APPLICATION_DIR
#define LOAD_LIBRARY_SEARCH_APPLICATION_DIR 0x00000200
#endif
#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

// The loader takes the LOAD_LIBRARY_SEARCH_* flags where it has these two calls.
bool HasRestrictedSearch() {
    HMODULE kernel = ::GetModuleHandleA("kernel32.dll");
    return kernel && ::GetProcAddress(kernel, "SetDefaultDllDirectories") &&
           ::GetProcAddress(kernel, "AddDllDirectory");
}

// "WNASPI32" -> "WNASPI32.DLL", as LoadLibrary completes a name without extension.
std::string DllFileName(const std::string& name) {
    return name.find('.') == std::string::npos ? name + ".DLL" : name;
}

// The folder of the application's own program, ending with '\'; empty when unknown.
std::string ApplicationFolder() {
    char path[MAX_PATH];
    DWORD n = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return {};
    std::string folder(path, n);
    size_t slash = folder.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : folder.substr(0, slash + 1);
}

std::string SystemFolder() {
    char path[MAX_PATH];
    UINT n = ::GetSystemDirectoryA(path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return {};
    std::string folder(path, n);
    if (folder.back() != '\\') folder += '\\';
    return folder;
}

} // namespace

uint32_t Win32Host::logicalDrives() {
    return ::GetLogicalDrives();
}

uint32_t Win32Host::driveType(const std::string& root) {
    return ::GetDriveTypeA(root.c_str());
}

HostHandle Win32Host::createDeviceFile(const std::string& path, uint32_t access, uint32_t share,
                                       uint32_t flags) {
    HANDLE h = ::CreateFileA(path.c_str(), access, share, nullptr, OPEN_EXISTING, flags, nullptr);
    return h == INVALID_HANDLE_VALUE ? nullptr : h;
}

bool Win32Host::deviceIoControl(HostHandle device, uint32_t code, void* in, uint32_t inLength,
                                void* out, uint32_t outLength, uint32_t* returned) {
    DWORD count = 0;
    BOOL ok = ::DeviceIoControl(device, code, in, inLength, out, outLength, &count, nullptr);
    if (returned) *returned = count;
    return ok != 0;
}

void Win32Host::closeDevice(HostHandle device) {
    if (device) ::CloseHandle(device);
}

HostHandle Win32Host::regOpenKey(const std::string& subKey) {
    HKEY key = nullptr;
    LONG status = ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, subKey.c_str(), 0, KEY_READ, &key);
    if (status != ERROR_SUCCESS) {
        ::SetLastError(static_cast<DWORD>(status));
        return nullptr;
    }
    return key;
}

bool Win32Host::regQueryValue(HostHandle key, const std::string& name, void* data, uint32_t& size) {
    // Read into a buffer of the caller's size first: texts come back from the A call in the ANSI
    // code page and are handed on in UTF-16, the form in which the registry stores them and in
    // which the callers read every text value (binary values such as the mounted-device table
    // hold UTF-16 too).
    std::string bytes(size, '\0');
    DWORD type = 0;
    DWORD length = size;
    LONG status = ::RegQueryValueExA(static_cast<HKEY>(key), name.c_str(), nullptr, &type,
                                     reinterpret_cast<BYTE*>(bytes.data()), &length);
    if (status != ERROR_SUCCESS) {
        ::SetLastError(static_cast<DWORD>(status));
        return false;
    }
    if (type != REG_SZ && type != REG_EXPAND_SZ && type != REG_MULTI_SZ) {
        if (length > 0) std::memcpy(data, bytes.data(), length);
        size = length;
        return true;
    }
    std::u16string wide;
    if (!ansiToUtf16(std::string_view(bytes.data(), length), wide)) return false;
    uint32_t wideBytes = static_cast<uint32_t>(wide.size() * sizeof(char16_t));
    if (wideBytes > size) {
        ::SetLastError(ERROR_MORE_DATA);
        return false;
    }
    auto* out = static_cast<uint8_t*>(data);
    for (size_t i = 0; i < wide.size(); ++i) {
        out[2 * i] = static_cast<uint8_t>(wide[i]);
        out[2 * i + 1] = static_cast<uint8_t>(wide[i] >> 8);
    }
    size = wideBytes;
    return true;
}

void Win32Host::regCloseKey(HostHandle key) {
    if (key) ::RegCloseKey(static_cast<HKEY>(key));
}

HostHandle Win32Host::loadModule(const std::string& name) {
    if (name.empty()) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (name.find_first_of("\\/:") != std::string::npos) return ::LoadLibraryA(name.c_str());
    // A bare name comes only from the application's folder or the system's, never from the
    // current directory or PATH, where anyone may have put a file of that name.
    if (HasRestrictedSearch()) {
        return ::LoadLibraryExA(name.c_str(), nullptr,
                                LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
    }
    const std::string file = DllFileName(name);
    for (const std::string& folder : {ApplicationFolder(), SystemFolder()}) {
        if (folder.empty()) continue;
        if (HMODULE module = ::LoadLibraryA((folder + file).c_str())) return module;
    }
    return nullptr;
}

void* Win32Host::moduleSymbol(HostHandle module, const char* symbol) {
    if (!module || !symbol) return nullptr;
    return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(module), symbol));
}

bool Win32Host::freeModule(HostHandle module) {
    return module && ::FreeLibrary(static_cast<HMODULE>(module)) != 0;
}

} // namespace tvx
