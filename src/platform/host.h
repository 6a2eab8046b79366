// The host seam: every operating-system service the library uses goes through this interface.
//
// Its shape follows the Windows calls the subsystems are written against (logical drive mask,
// drive type, device files with device control, registry values), so the algorithms and log
// lines stay in those terms on every platform. Implementations: PosixHost (the native host on
// Linux) and SimHost (virtual clock, virtual drives; tests and demos).
//
// Contract:
// - Handles (HostHandle) are opaque; null means failure. Each kind has its own close call.
// - Buffers passed in stay owned by the caller; nothing is retained after a call returns.
// - Calls may come from any thread; implementations lock what they share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tvx {

class Clock;

using HostHandle = void*;

// File attribute bits as find-first reports them.
inline constexpr uint32_t kAttrReadOnly = 0x01;
inline constexpr uint32_t kAttrHidden = 0x02;
inline constexpr uint32_t kAttrSystem = 0x04;
inline constexpr uint32_t kAttrDirectory = 0x10;
inline constexpr uint32_t kAttrArchive = 0x20;
inline constexpr uint32_t kAttrNormal = 0x80;

// The platform's path limit for host paths, terminator included: 260 on Windows; on Linux the
// system's own (PATH_MAX), so that a folder deep down may hold the longest names a volume
// records.
#if defined(_WIN32)
inline constexpr size_t kMaxHostPath = 260;
#else
inline constexpr size_t kMaxHostPath = 4096;
#endif

// One result of a find-first query. Times are file times: 100 ns units since 1601-01-01 UTC.
struct FindResult {
    uint32_t attributes = 0;
    uint64_t creationTime = 0;
    uint64_t accessTime = 0;
    uint64_t writeTime = 0;
    uint64_t size = 0;
    std::string name;
    std::string shortName;
    // Identity of the object on the host (device and inode on Linux), for loop detection.
    uint64_t volumeId = 0;
    uint64_t fileId = 0;
    // A file of a listing that was asked to open files: it opened for reading (and was closed
    // again), with the size and times above.
    bool opened = false;
};

// Sees one entry of a folder listing; answers false to stop the listing.
using FolderVisitor = std::function<bool(const FindResult&)>;

struct CalendarTime {
    int year = 0;
    int month = 0; // 1-12
    int day = 0;   // 1-31
    int hour = 0;
    int minute = 0;
    int second = 0;
    int milliseconds = 0;
};

// The system's own words on the last pass-through request of a device file, beyond what the
// request structure carries back (Linux: SG_IO's status fields). Kept for drive reports, so that
// a fault on the way to the drive is told apart from the drive's answer; nothing decides on it.
struct PassThroughSystemFields {
    uint16_t hostStatus = 0;   // the adapter's word (0: it delivered the command)
    uint16_t driverStatus = 0; // the driver's word
    int32_t resid = 0;         // bytes asked for but not moved
    uint8_t senseWritten = 0;  // sense bytes the system wrote
    uint32_t durationMs = 0;   // as the system measured the command
    uint32_t info = 0;         // the system's summary bits
};

// Outcome of an attempt to take a job lock.
enum class LockAttempt {
    Acquired,    // the lock is this caller's until released
    Busy,        // another holder (any process, or another handle here) has it
    Unavailable, // no lock can be made on this host; the caller goes on without one
    Failed,      // the host makes such locks but this one could not be made (lastError says why)
};

// Single bytes of an open device file that carry the drive's locks (see Host::lockDevice). They
// lie far beyond any data, so that a lock never covers what a reader of the file reads.
inline constexpr uint64_t kDeviceLockImageOwner = 1ull << 62; // the virtual recorder's image
inline constexpr uint64_t kDeviceLockJob = kDeviceLockImageOwner + 1;     // the writing job
inline constexpr uint64_t kDeviceLockCommand = kDeviceLockImageOwner + 2; // one command

enum class FileAccess {
    Read,      // shared reading, existing file
    Write,     // create always
    ReadWrite, // open always
    Append,    // text log: open for appending, create when missing; only the caller's own file
};

class HostFile {
  public:
    virtual ~HostFile() = default;
    // Bytes read; 0 at the end or on failure.
    virtual uint32_t read(void* buffer, uint32_t count) = 0;
    // Bytes written; less than count on failure.
    virtual uint32_t write(const void* data, uint32_t count) = 0;
    // Bytes in the file. A file opened for reading may answer the size it had when it was
    // opened (the POSIX host measures it once, at the opening).
    virtual uint64_t size() = 0;
    // Bytes in the file now, asked of the system again (a file that changed since size()).
    virtual uint64_t currentSize() { return size(); }
    // Whether no bytes follow those read so far. A host whose read already met the end may
    // answer without asking the system again; otherwise this reads (at most one byte).
    virtual bool atEnd() {
        uint8_t byte = 0;
        return read(&byte, 1) == 0;
    }
    virtual bool seek(uint64_t offset) = 0;
    // Asks the system to start reading the first `length` bytes into its cache, without
    // waiting, because they will be read soon. A hint only: it may do nothing.
    virtual void willNeed(uint64_t length) { (void)length; }
};

class Host {
  public:
    virtual ~Host() = default;

    // Files
    // Reading opens regular files only, and no open waits for a peer (a pipe, a device).
    virtual std::unique_ptr<HostFile> openFile(const std::string& path, FileAccess access) = 0;
    // Opening many files of one folder: the folder is opened once, and each file by its name in
    // it, so the system need not resolve the whole path for every file. openFileIn reads exactly
    // as openFile(folder + '/' + name, FileAccess::Read) would. The default implementations open
    // no folder (null), and callers then open files by their full path.
    virtual HostHandle openFolder(const std::string& path);
    virtual std::unique_ptr<HostFile> openFileIn(HostHandle folder, const std::string& name);
    virtual void closeFolder(HostHandle folder);
    // A path, or a folder followed by '/' and the pattern "*.*" to list the folder. Appends
    // every file and folder found (without "." and ".."). Objects of other kinds (pipes,
    // sockets, devices, links that lead nowhere) are not reported; their paths go to skipped.
    // Answers false (lastError set) when the path names no file or folder, or when the folder
    // cannot be listed completely; an empty folder is listed with success.
    virtual bool findFiles(const std::string& query, std::vector<FindResult>& results,
                           std::vector<std::string>& skipped) = 0;
    // Lists a folder one entry at a time, as findFiles(folder + separator + "*.*") lists it and
    // in the same order, without holding the whole listing: every file and folder found goes to
    // `each` (its FindResult lives for that call only). Skipped objects go to skipped. Answers
    // false when the folder cannot be listed completely (lastError set; what `each` saw stays
    // seen) or when `each` stopped the listing. With openFiles, a host may also open each file
    // for reading and say so (FindResult::opened), in fewer calls than a look at the file and
    // an open of it later. The default implementation asks findFiles and opens nothing.
    virtual bool listFolder(const std::string& folder, const FolderVisitor& each,
                            std::vector<std::string>& skipped, bool openFiles);
    // Absolute form of a path; false when it does not fit kMaxHostPath.
    virtual bool fullPath(const std::string& path, std::string& absolute) = 0;

    // Clock, time zone and time
    virtual Clock& clock() = 0;
    uint32_t tickCount(); // milliseconds, wraps like the system tick counter
    void sleep(uint32_t milliseconds);
    virtual uint64_t currentFileTime() = 0; // UTC now
    // Reads the system's time-zone setting again. A host may keep what it read until then, so
    // that time conversions need no look at the system each; a burn calls this once, first.
    virtual void refreshTimeZone() {}
    // The file time in local time under the zone's current rules (daylight saving included).
    virtual bool fileTimeToLocal(uint64_t fileTime, CalendarTime& local) = 0;

    // Environment
    // The temporary directory, ending with a path separator; empty on failure.
    virtual std::string tempDirectory() = 0;
    // The system's description of an error number; false (and lastError set) when none.
    virtual bool systemErrorText(uint32_t code, std::string& text) = 0;
    virtual uint32_t lastError() = 0;
    // The library file's version: high = major << 16 | minor, low = build << 16 | revision.
    virtual bool moduleFileVersion(uint32_t& high, uint32_t& low) = 0;

    // Text in the ANSI code page (UTF-8 on Linux) and UTF-16
    virtual bool ansiToUtf16(std::string_view text, std::u16string& out) = 0;
    virtual bool utf16ToAnsi(std::u16string_view text, std::string& out) = 0;
    // Bytes of the character that starts at text (at most remaining); more than 1 marks what the
    // name rules call a double-byte character: never split, never upper-cased.
    virtual size_t ansiCharLength(const char* text, size_t remaining) = 0;

    // Named mutexes, shared between processes, for hosts that cannot lock a device (lockDevice
    // answers Unavailable). The default implementations fail.
    virtual HostHandle openMutex(const std::string& name);
    virtual HostHandle createMutex(const std::string& name);
    virtual void waitMutex(HostHandle mutex);
    virtual void releaseMutex(HostHandle mutex);
    virtual void closeMutex(HostHandle mutex);

    // Named job locks, for hosts that cannot lock a device: exclusive, shared between processes,
    // never waited for. The lock is released with releaseJobLock or when its holder dies. Two
    // attempts in one process conflict too. The default implementations make no lock
    // (Unavailable).
    virtual LockAttempt tryJobLock(const std::string& name, HostHandle& lock);
    virtual void releaseJobLock(HostHandle lock);

    // Events (manual or automatic reset). The default implementations fail.
    virtual HostHandle createEvent(bool manualReset, bool signalled);
    virtual void setEvent(HostHandle event);
    virtual void resetEvent(HostHandle event);
    virtual bool waitEvent(HostHandle event, uint32_t milliseconds); // true when signalled
    virtual void closeEvent(HostHandle event);

    // Drives and device files. The default implementations find nothing.
    virtual uint32_t logicalDrives();                    // bit 0 = A:
    virtual uint32_t driveType(const std::string& root); // Windows DRIVE_* values
    virtual HostHandle createDeviceFile(const std::string& path, uint32_t access, uint32_t share,
                                        uint32_t flags);
    virtual bool deviceIoControl(HostHandle device, uint32_t code, void* in, uint32_t inLength,
                                 void* out, uint32_t outLength, uint32_t* returned);
    virtual void closeDevice(HostHandle device);
    // Locks on the drive itself: an exclusive lock on one byte of an open device file. Every
    // other open of the same device conflicts, in any process and in this one; the system drops
    // the locks of a holder that dies, and of a device file that is closed. No name in a shared
    // folder is involved, so nobody can plant or hold the lock without opening the device. With
    // wait, blocks until the lock is free. The default implementations make no lock
    // (Unavailable): such a host orders its drives with named mutexes instead.
    virtual LockAttempt lockDevice(HostHandle device, uint64_t offset, bool wait);
    virtual void unlockDevice(HostHandle device, uint64_t offset);
    // Whether another open of the device holds the lock at offset, asked without taking it.
    // The default knows no such locks (false).
    virtual bool deviceLockedElsewhere(HostHandle device, uint64_t offset);
    // The system's fields of the last pass-through request on this device file; false when the
    // host keeps none (the default) or no request was carried yet.
    virtual bool passThroughFields(HostHandle device, PassThroughSystemFields& fields);
    // A name for what an open device file reaches that is the same for every opener in any
    // process (on Linux the device number); empty when unknown.
    virtual std::string deviceIdentity(HostHandle device);

    // Registry, read only, under HKEY_LOCAL_MACHINE. The default implementations find nothing.
    virtual HostHandle regOpenKey(const std::string& subKey);
    // size: in the buffer's capacity, out the value's length in bytes.
    virtual bool regQueryValue(HostHandle key, const std::string& name, void* data, uint32_t& size);
    virtual void regCloseKey(HostHandle key);

    // Dynamic modules. The default implementations find nothing.
    virtual HostHandle loadModule(const std::string& name);
    virtual void* moduleSymbol(HostHandle module, const char* symbol);
    virtual bool freeModule(HostHandle module);
};

// The process-wide host: the native host unless another was installed.
Host& host();
// Installs a host for the whole process (null restores the native host). Internal, not
// exported; the caller keeps ownership and keeps it alive while installed.
void setHost(Host* replacement);

} // namespace tvx
