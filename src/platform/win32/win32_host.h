// The native host on Windows: every operation through the system's own calls (files and
// find-first, the full-path service, the system clock and time zone, the ANSI code page, named
// mutexes and events, logical drives and device files with device control, the registry under
// HKEY_LOCAL_MACHINE, and dynamic modules).
//
// This header stays free of <windows.h>: handles cross the seam as HostHandle.
#pragma once

#include "platform/clock.h"
#include "platform/host.h"

#include <map>
#include <mutex>

namespace tvx {

// The library's own module, stored by the module entry on process attach. Null when the
// library is linked statically: the version resource is then the program's own.
extern void* ModuleHandle;

// Milliseconds of the system tick counter; sleeping really sleeps.
class Win32Clock final : public Clock {
  public:
    uint64_t nowMs() override;
    void sleepMs(uint32_t milliseconds) override;
};

class Win32Host : public Host {
  public:
    std::unique_ptr<HostFile> openFile(const std::string& path, FileAccess access) override;
    // FindFirstFileA; a query ending in "*.*" lists the folder with FindNextFileA, any other
    // query answers its first match.
    bool findFiles(const std::string& query, std::vector<FindResult>& results,
                   std::vector<std::string>& skipped) override;
    // The same listing, one entry at a time.
    // Files are not opened (openFiles asks for no more than a hint): find-first reports them.
    bool listFolder(const std::string& folder, const FolderVisitor& each,
                    std::vector<std::string>& skipped, bool openFiles) override;
    bool fullPath(const std::string& path, std::string& absolute) override;

    Clock& clock() override;
    uint64_t currentFileTime() override;
    bool fileTimeToLocal(uint64_t fileTime, CalendarTime& local) override;

    std::string tempDirectory() override;
    bool systemErrorText(uint32_t code, std::string& text) override;
    uint32_t lastError() override;
    bool moduleFileVersion(uint32_t& high, uint32_t& low) override;

    bool ansiToUtf16(std::string_view text, std::u16string& out) override;
    bool utf16ToAnsi(std::u16string_view text, std::string& out) override;
    size_t ansiCharLength(const char* text, size_t remaining) override;

    HostHandle openMutex(const std::string& name) override;
    HostHandle createMutex(const std::string& name) override;
    void waitMutex(HostHandle mutex) override;
    void releaseMutex(HostHandle mutex) override;
    void closeMutex(HostHandle mutex) override;
    // Job locks are named kernel mutexes taken without waiting.
    LockAttempt tryJobLock(const std::string& name, HostHandle& lock) override;
    void releaseJobLock(HostHandle lock) override;
    // Mutex names are the kernel's; tests keep their runs apart with a name prefix made from a
    // folder path (empty: the names as given).
    void setMutexDirectory(std::string directory);

    HostHandle createEvent(bool manualReset, bool signalled) override;
    void setEvent(HostHandle event) override;
    void resetEvent(HostHandle event) override;
    bool waitEvent(HostHandle event, uint32_t milliseconds) override;
    void closeEvent(HostHandle event) override;

    uint32_t logicalDrives() override;
    uint32_t driveType(const std::string& root) override;
    HostHandle createDeviceFile(const std::string& path, uint32_t access, uint32_t share,
                                uint32_t flags) override;
    bool deviceIoControl(HostHandle device, uint32_t code, void* in, uint32_t inLength, void* out,
                         uint32_t outLength, uint32_t* returned) override;
    void closeDevice(HostHandle device) override;

    // Values as the registry stores them: text values (REG_SZ and its kin, which the A call
    // answers in the ANSI code page) are handed over in UTF-16, terminator included.
    HostHandle regOpenKey(const std::string& subKey) override;
    bool regQueryValue(HostHandle key, const std::string& name, void* data,
                       uint32_t& size) override;
    void regCloseKey(HostHandle key) override;

    // A bare module name is searched in the application's folder and the system folder only
    // (LoadLibraryEx's restricted search where the system has it, absolute paths otherwise); a
    // name with a path is loaded from there.
    HostHandle loadModule(const std::string& name) override;
    void* moduleSymbol(HostHandle module, const char* symbol) override;
    bool freeModule(HostHandle module) override;

  protected:
    static void setLastError(uint32_t code);

  private:
    std::string mutexName(const std::string& name);

    Win32Clock clock_;
    std::mutex mutexPrefixLock_;
    std::string mutexPrefix_;
    // Job locks held in this process, by object name: the system's mutex would let its owning
    // thread in twice.
    std::mutex jobLocksLock_;
    std::map<HostHandle, std::string> jobLocks_;
};

} // namespace tvx
