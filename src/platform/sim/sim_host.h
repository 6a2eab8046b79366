// The simulation host: real files, virtual time, and configurable drive letters, registry
// values, a proxy device and device files whose pass-through requests go to ScsiTargets such as
// the virtual recorder. Used by tests and by virtual drives of tools. Device locks are kept in
// this process (a simulated drive has no other opener); named mutexes and events are the native
// host's, and event waits that time out advance the virtual clock instead of sleeping.
#pragma once

#include "platform/pass_through.h"
#if defined(_WIN32)
#include "platform/win32/win32_host.h"
#else
#include "platform/posix/posix_host.h"
#endif
#include "platform/scsi_target.h"

#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace tvx {

// The native host that gives the simulation its files, text, mutexes and events.
#if defined(_WIN32)
using NativeHost = Win32Host;
#else
using NativeHost = PosixHost;
#endif

// One drive letter of the simulated machine and how its device file behaves.
struct SimDrive {
    uint32_t driveType = DRIVE_CDROM;
    ScsiTarget* target = nullptr; // receives the pass-through requests; null: they fail
    bool deviceFileOpens = true;  // false: "\\.\X:" cannot be opened
    // The drive's number among the CD-ROM class devices, through which the proxy device reaches
    // it; -1 when the proxy does not know it.
    int classDeviceNumber = -1;
    bool proxyFiltered = false; // answers the proxy driver's exclusive-access control
    bool addressAnswers = true; // the SCSI address query succeeds
    ScsiAddress address = {sizeof(ScsiAddress), 0, 0, 0, 0};
    // The adapter's bus type; none: the storage property query fails.
    std::optional<uint8_t> storageBus = kStorageBusAtapi;
};

class SimHost : public NativeHost {
  public:
    SimHost() = default;
    ~SimHost() override;

    Clock& clock() override { return clock_; }
    VirtualClock& virtualClock() { return clock_; }

    // Overrides of the environment, for tests.
    void setTempDirectory(std::string dir) { tempDir_ = std::move(dir); }
    void setCurrentFileTime(uint64_t fileTime) { now_ = fileTime; }

    std::string tempDirectory() override;
    uint64_t currentFileTime() override;

    // Drives. A letter added again is replaced.
    SimDrive& addDrive(char letter, uint32_t driveType = DRIVE_CDROM, ScsiTarget* target = nullptr);
    SimDrive& drive(char letter); // must have been added
    void removeDrive(char letter);
    // The proxy device "\\.\CDRBLOCK" exists.
    void setProxyDevice(bool present);
    // "\\.\CDRBLK:" opens the device file of this drive (0: it cannot be opened).
    void setProxyDriveDevice(char letter);

    // Registry values under HKEY_LOCAL_MACHINE; key and value names compare case-insensitively.
    void setRegistryValue(const std::string& key, const std::string& name,
                          std::vector<uint8_t> bytes);
    void setRegistryDword(const std::string& key, const std::string& name, uint32_t value);
    // A text stored as UTF-16 (little-endian), with or without its terminating zero.
    void setRegistryText(const std::string& key, const std::string& name, std::string_view text,
                         bool terminated);
    // "System\MountedDevices" value "\DosDevices\X:" as Windows stores it (binary UTF-16).
    void setMountedDevice(char letter, std::string_view text);
    // The CD-ROM class driver's Enum value "<index>" (a UTF-16 string) and its Count.
    void setClassDevice(int index, std::string_view instancePath);

    // Dynamic modules. A name registered with a table is served from it (entry points of the
    // test's own code); a name registered with a file opens that file with the native loader.
    // Names compare case-insensitively; any other name fails to load.
    void registerModule(const std::string& name, std::map<std::string, void*> symbols);
    void registerModuleFile(const std::string& name, const std::string& path);
    size_t loadedModuleCount(); // handles loaded and not yet freed

    HostHandle loadModule(const std::string& name) override;
    void* moduleSymbol(HostHandle module, const char* symbol) override;
    bool freeModule(HostHandle module) override;

    // Observations for tests.
    bool exclusiveHeld(char letter);
    size_t openDeviceCount();
    std::vector<uint32_t> controlCodes(); // every control asked, in order
    void clearControlCodes();

    // A wait that is not satisfied advances the virtual clock by its time limit.
    bool waitEvent(HostHandle event, uint32_t milliseconds) override;

    uint32_t logicalDrives() override;
    uint32_t driveType(const std::string& root) override;
    HostHandle createDeviceFile(const std::string& path, uint32_t access, uint32_t share,
                                uint32_t flags) override;
    bool deviceIoControl(HostHandle device, uint32_t code, void* in, uint32_t inLength, void* out,
                         uint32_t outLength, uint32_t* returned) override;
    void closeDevice(HostHandle device) override;
    // Locks of the simulated drive, held by one device file at a time as on a real host.
    LockAttempt lockDevice(HostHandle device, uint64_t offset, bool wait) override;
    void unlockDevice(HostHandle device, uint64_t offset) override;
    bool deviceLockedElsewhere(HostHandle device, uint64_t offset) override;
    std::string deviceIdentity(HostHandle device) override;
    // Virtual drives have no system beneath them whose fields could be told.
    bool passThroughFields(HostHandle, PassThroughSystemFields&) override { return false; }

    HostHandle regOpenKey(const std::string& subKey) override;
    bool regQueryValue(HostHandle key, const std::string& name, void* data,
                       uint32_t& size) override;
    void regCloseKey(HostHandle key) override;

  private:
    struct DeviceHandle {
        bool proxy = false;
        char letter = 0;
    };
    struct KeyHandle {
        std::string key; // folded
    };
    struct ModuleEntry {
        std::map<std::string, void*> symbols;
        std::string file; // set: loaded through the native loader
    };
    struct ModuleHandle {
        const ModuleEntry* entry = nullptr;
        HostHandle native = nullptr;
    };
    using Values = std::map<std::string, std::vector<uint8_t>>;

    bool driveControl(DeviceHandle* handle, char letter, uint32_t code, void* in, uint32_t inLength,
                      void* out, uint32_t outLength, uint32_t* returned);
    bool passThrough(ScsiTarget* target, void* in, uint32_t inLength, uint32_t* returned);
    bool exclusive(DeviceHandle* handle, char letter, bool on);
    // What one drive is to its locks: its target, or its entry when it has none.
    const void* driveKey(char letter);
    bool fail(uint32_t error);

    VirtualClock clock_;
    std::optional<std::string> tempDir_;
    std::optional<uint64_t> now_;

    std::recursive_mutex lock_;
    std::map<char, SimDrive> drives_;
    std::map<char, DeviceHandle*> exclusiveOwners_;
    std::map<std::pair<const void*, uint64_t>, DeviceHandle*> deviceLocks_;
    std::condition_variable_any deviceLocksChanged_;
    std::set<DeviceHandle*> devices_;
    std::set<KeyHandle*> keys_;
    std::map<std::string, Values> registry_;
    std::map<std::string, ModuleEntry> modules_; // by folded name
    std::map<ModuleHandle*, std::unique_ptr<ModuleHandle>> moduleHandles_;
    std::vector<uint32_t> controls_;
    bool proxyPresent_ = false;
    char proxyDriveLetter_ = 0;
};

} // namespace tvx
