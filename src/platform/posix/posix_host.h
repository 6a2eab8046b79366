// The native host on Linux: files, time, text and environment through POSIX calls; drives
// through the kernel's SCSI pass-through (see the device part).
#pragma once

#include "platform/clock.h"
#include "platform/host.h"

#include <atomic>
#include <mutex>

namespace tvx {

class PosixHost : public Host {
  public:
    std::unique_ptr<HostFile> openFile(const std::string& path, FileAccess access) override;
    // A folder is an open descriptor of it; files in it are opened with openat.
    HostHandle openFolder(const std::string& path) override;
    std::unique_ptr<HostFile> openFileIn(HostHandle folder, const std::string& name) override;
    void closeFolder(HostHandle folder) override;
    bool findFiles(const std::string& query, std::vector<FindResult>& results,
                   std::vector<std::string>& skipped) override;
    // readdir, and each entry looked at by its name in the open folder; with openFiles, a
    // regular file is opened instead, which tells what a look would.
    bool listFolder(const std::string& folder, const FolderVisitor& each,
                    std::vector<std::string>& skipped, bool openFiles) override;
    bool fullPath(const std::string& path, std::string& absolute) override;

    Clock& clock() override { return clock_; }
    uint64_t currentFileTime() override;
    void refreshTimeZone() override;
    bool fileTimeToLocal(uint64_t fileTime, CalendarTime& local) override;

    std::string tempDirectory() override;
    bool systemErrorText(uint32_t code, std::string& text) override;
    uint32_t lastError() override;
    bool moduleFileVersion(uint32_t& high, uint32_t& low) override;

    bool ansiToUtf16(std::string_view text, std::u16string& out) override;
    bool utf16ToAnsi(std::u16string_view text, std::string& out) override;
    size_t ansiCharLength(const char* text, size_t remaining) override;

    // No named mutexes or named job locks: a name in a shared folder can be planted or held by
    // anyone. Drives are locked through their open device files (lockDevice). Events are
    // process-local.
    HostHandle createEvent(bool manualReset, bool signalled) override;
    void setEvent(HostHandle event) override;
    void resetEvent(HostHandle event) override;
    bool waitEvent(HostHandle event, uint32_t milliseconds) override;
    void closeEvent(HostHandle event) override;

    // Optical devices /dev/sr0, /dev/sr1... are the CD-ROM drives D:, E:... in device order.
    // "\\.\D:" opens the device read-write and non-blocking; the pass-through request becomes
    // SG_IO, the address query SCSI_IOCTL_GET_IDLUN, the adapter's bus type comes from sysfs
    // and exclusive access is the kernel's exclusive open of the device (O_EXCL: no mount and no
    // other exclusive opener meanwhile).
    uint32_t logicalDrives() override;
    uint32_t driveType(const std::string& root) override;
    HostHandle createDeviceFile(const std::string& path, uint32_t access, uint32_t share,
                                uint32_t flags) override;
    bool deviceIoControl(HostHandle device, uint32_t code, void* in, uint32_t inLength, void* out,
                         uint32_t outLength, uint32_t* returned) override;
    void closeDevice(HostHandle device) override;
    // Open-file-description locks on the device's byte: they belong to the open device file, so
    // two opens in one process conflict as two processes do.
    LockAttempt lockDevice(HostHandle device, uint64_t offset, bool wait) override;
    void unlockDevice(HostHandle device, uint64_t offset) override;
    bool deviceLockedElsewhere(HostHandle device, uint64_t offset) override;
    bool passThroughFields(HostHandle device, PassThroughSystemFields& fields) override;
    std::string deviceIdentity(HostHandle device) override;
    // The folder whose "sr<N>" entries are the optical devices (default /dev); tests point it at
    // stand-ins.
    void setDeviceFolder(std::string folder);

    // Dynamic modules through dlopen. A bare name such as "WNASPI32" is the shared object
    // "libwnaspi32.so" in the private module folder "torvexin/" beside the library's own file
    // (or beside the program that links the library statically; failing that, a folder of that
    // name on the program's run path), loaded by its absolute path and nowhere else (not from
    // the current directory, LD_LIBRARY_PATH or other run path entries); a name with a '/' is
    // a path.
    HostHandle loadModule(const std::string& name) override;
    void* moduleSymbol(HostHandle module, const char* symbol) override;
    bool freeModule(HostHandle module) override;

  protected:
    static void setLastError(uint32_t code);

  private:
    std::string deviceFolder();

    SystemClock clock_;
    // The zone as last read: tzset looks at the zone file every time it is called.
    std::atomic<bool> zoneRead_{false};
    std::mutex deviceFolderLock_;
    std::string deviceFolder_ = "/dev/";
};

// What an open file reaches, the same for every opener: "dev-<number>" for a device node,
// "file-<device>-<inode>" for anything else; empty when fstat fails.
std::string IdentityOfOpenFile(int fd);

// Conversions between Unix time and file times (100 ns units since 1601-01-01 UTC).
uint64_t FileTimeFromUnix(int64_t seconds, int64_t nanoseconds);
int64_t UnixSecondsFromFileTime(uint64_t fileTime);

} // namespace tvx
