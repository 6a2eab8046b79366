// Time, time zone, environment, version resource and the ANSI code page.
#include "platform/win32/win32_host.h"

#include "platform/clock.h"

#include <windows.h>

namespace tvx {

void* ModuleHandle = nullptr;

namespace {

// The version resource is read into a buffer on the stack; a resource larger than this is
// refused rather than letting its size decide the stack's.
constexpr DWORD kVersionBufferBytes = 16384;

} // namespace

uint64_t Win32Clock::nowMs() {
    return ::GetTickCount64();
}

void Win32Clock::sleepMs(uint32_t milliseconds) {
    ::Sleep(milliseconds);
}

void Win32Host::setLastError(uint32_t code) {
    ::SetLastError(code);
}

uint32_t Win32Host::lastError() {
    return ::GetLastError();
}

Clock& Win32Host::clock() {
    return clock_;
}

uint64_t Win32Host::currentFileTime() {
    FILETIME now{};
    ::GetSystemTimeAsFileTime(&now);
    return (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

bool Win32Host::fileTimeToLocal(uint64_t fileTime, CalendarTime& local) {
    FILETIME ft{};
    ft.dwLowDateTime = static_cast<DWORD>(fileTime);
    ft.dwHighDateTime = static_cast<DWORD>(fileTime >> 32);
    SYSTEMTIME utc{};
    SYSTEMTIME here{};
    if (!::FileTimeToSystemTime(&ft, &utc)) return false;
    // The zone's rules for that date (daylight saving when it was in force then).
    if (!::SystemTimeToTzSpecificLocalTime(nullptr, &utc, &here)) return false;
    local.year = here.wYear;
    local.month = here.wMonth;
    local.day = here.wDay;
    local.hour = here.wHour;
    local.minute = here.wMinute;
    local.second = here.wSecond;
    local.milliseconds = here.wMilliseconds;
    return true;
}

std::string Win32Host::tempDirectory() {
    char buffer[kMaxHostPath + 1];
    DWORD n = ::GetTempPathA(sizeof buffer, buffer);
    if (n == 0 || n >= sizeof buffer) return {};
    return std::string(buffer, n);
}

bool Win32Host::systemErrorText(uint32_t code, std::string& text) {
    char buffer[512];
    DWORD n =
        ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                         MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), buffer, sizeof buffer, nullptr);
    if (n == 0) return false; // the failed lookup's error stays for the caller
    text.assign(buffer, n);
    return true;
}

bool Win32Host::moduleFileVersion(uint32_t& high, uint32_t& low) {
    char path[kMaxHostPath + 1];
    DWORD n = ::GetModuleFileNameA(static_cast<HMODULE>(ModuleHandle), path, kMaxHostPath);
    if (n == 0) return false;
    path[n < kMaxHostPath ? n : kMaxHostPath] = 0;
    DWORD ignored = 0;
    DWORD size = ::GetFileVersionInfoSizeA(path, &ignored);
    if (size == 0 || size > kVersionBufferBytes) return false;
    alignas(8) char data[kVersionBufferBytes];
    if (!::GetFileVersionInfoA(path, 0, size, data)) return false;
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    char root[] = "\\";
    if (!::VerQueryValueA(data, root, reinterpret_cast<void**>(&info), &length) || !info ||
        length < sizeof *info)
        return false;
    high = info->dwFileVersionMS;
    low = info->dwFileVersionLS;
    return true;
}

bool Win32Host::ansiToUtf16(std::string_view text, std::u16string& out) {
    out.clear();
    if (text.empty()) return true;
    int count = static_cast<int>(text.size());
    int units = ::MultiByteToWideChar(CP_ACP, 0, text.data(), count, nullptr, 0);
    if (units <= 0) return false;
    std::wstring wide(static_cast<size_t>(units), L'\0');
    if (::MultiByteToWideChar(CP_ACP, 0, text.data(), count, wide.data(), units) != units)
        return false;
    out.assign(wide.begin(), wide.end());
    return true;
}

bool Win32Host::utf16ToAnsi(std::u16string_view text, std::string& out) {
    out.clear();
    if (text.empty()) return true;
    std::wstring wide(text.begin(), text.end());
    int count = static_cast<int>(wide.size());
    int bytes = ::WideCharToMultiByte(CP_ACP, 0, wide.data(), count, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return false;
    out.assign(static_cast<size_t>(bytes), '\0');
    return ::WideCharToMultiByte(CP_ACP, 0, wide.data(), count, out.data(), bytes, nullptr,
                                 nullptr) == bytes;
}

size_t Win32Host::ansiCharLength(const char* text, size_t remaining) {
    if (remaining == 0) return 0;
    // A lead byte whose trail byte is missing stands alone.
    if (remaining >= 2 && ::IsDBCSLeadByte(static_cast<BYTE>(text[0]))) return 2;
    return 1;
}

} // namespace tvx
