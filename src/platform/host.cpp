#include "platform/host.h"

#include "platform/clock.h"
#if defined(_WIN32)
#include "platform/win32/win32_host.h"
#else
#include "platform/posix/posix_host.h"
#endif

#include <atomic>

namespace tvx {

namespace {
std::atomic<Host*> installedHost{nullptr};

Host& nativeHost() {
#if defined(_WIN32)
    static Win32Host instance;
#else
    static PosixHost instance;
#endif
    return instance;
}
} // namespace

Host& host() {
    Host* h = installedHost.load();
    return h ? *h : nativeHost();
}

void setHost(Host* replacement) {
    installedHost.store(replacement);
}

uint32_t Host::tickCount() {
    return static_cast<uint32_t>(clock().nowMs());
}
void Host::sleep(uint32_t milliseconds) {
    clock().sleepMs(milliseconds);
}

HostHandle Host::openFolder(const std::string&) {
    return nullptr;
}
std::unique_ptr<HostFile> Host::openFileIn(HostHandle, const std::string&) {
    return nullptr;
}
void Host::closeFolder(HostHandle) {}

bool Host::listFolder(const std::string& folder, const FolderVisitor& each,
                      std::vector<std::string>& skipped, bool) {
#if defined(_WIN32)
    constexpr char kSeparator = '\\';
#else
    constexpr char kSeparator = '/';
#endif
    std::string query = folder;
    if (query.empty() || query.back() != kSeparator) query += kSeparator;
    query += "*.*";
    std::vector<FindResult> results;
    if (!findFiles(query, results, skipped)) return false;
    for (const FindResult& r : results) {
        if (!each(r)) return false;
    }
    return true;
}

HostHandle Host::openMutex(const std::string&) {
    return nullptr;
}
HostHandle Host::createMutex(const std::string&) {
    return nullptr;
}
void Host::waitMutex(HostHandle) {}
void Host::releaseMutex(HostHandle) {}
void Host::closeMutex(HostHandle) {}

LockAttempt Host::tryJobLock(const std::string&, HostHandle& lock) {
    lock = nullptr;
    return LockAttempt::Unavailable;
}
void Host::releaseJobLock(HostHandle) {}

HostHandle Host::createEvent(bool, bool) {
    return nullptr;
}
void Host::setEvent(HostHandle) {}
void Host::resetEvent(HostHandle) {}
bool Host::waitEvent(HostHandle, uint32_t) {
    return false;
}
void Host::closeEvent(HostHandle) {}

uint32_t Host::logicalDrives() {
    return 0;
}
uint32_t Host::driveType(const std::string&) {
    return 1;
} // DRIVE_NO_ROOT_DIR
HostHandle Host::createDeviceFile(const std::string&, uint32_t, uint32_t, uint32_t) {
    return nullptr;
}
bool Host::deviceIoControl(HostHandle, uint32_t, void*, uint32_t, void*, uint32_t, uint32_t*) {
    return false;
}
void Host::closeDevice(HostHandle) {}
LockAttempt Host::lockDevice(HostHandle, uint64_t, bool) {
    return LockAttempt::Unavailable;
}
void Host::unlockDevice(HostHandle, uint64_t) {}
bool Host::deviceLockedElsewhere(HostHandle, uint64_t) {
    return false;
}
bool Host::passThroughFields(HostHandle, PassThroughSystemFields&) {
    return false;
}
std::string Host::deviceIdentity(HostHandle) {
    return {};
}

HostHandle Host::regOpenKey(const std::string&) {
    return nullptr;
}
bool Host::regQueryValue(HostHandle, const std::string&, void*, uint32_t&) {
    return false;
}
void Host::regCloseKey(HostHandle) {}

HostHandle Host::loadModule(const std::string&) {
    return nullptr;
}
void* Host::moduleSymbol(HostHandle, const char*) {
    return nullptr;
}
bool Host::freeModule(HostHandle) {
    return false;
}

} // namespace tvx
