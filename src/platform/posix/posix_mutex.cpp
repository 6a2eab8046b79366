// Named mutexes as flock'ed lock files (the kernel releases a dead holder's lock, as Windows
// reports an abandoned mutex) and process-local events.
#include "platform/posix/posix_host.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tvx {

namespace {

constexpr char kSharedLockFolder[] = "/run/lock";
constexpr uint32_t kInfinite = 0xFFFFFFFFu;
constexpr char kJobLockPrefix[] = "TORVEXIN_JOB_";
constexpr int kJobLockAttempts = 8;

struct PosixMutex {
    int fd = -1;
    std::string removeOnClose; // a job lock's file, removed by its holder when released
    // Threads sharing one handle: the lock file is locked per open file, so the threads of this
    // process are ordered here first. Recursive like the system's mutex.
    std::recursive_mutex threads;
    int depth = 0;
};

struct PosixEvent {
    std::mutex lock;
    std::condition_variable changed;
    bool manualReset = false;
    bool signalled = false;
};

bool WritableFolder(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
           ::access(path.c_str(), W_OK | X_OK) == 0;
}

// A lock file name for any mutex name: path separators would name folders.
std::string FileNameOf(const std::string& name) {
    std::string file = name;
    for (char& c : file) {
        if (c == '/') c = '_';
    }
    return file;
}

// Opens the lock file, creating it for every user of the drive; -1 with errno on failure.
int OpenSharedLockFile(const std::string& path) {
    // Exclusive creation first, then the existing file: opening another user's file with O_CREAT
    // fails in sticky folders that protect regular files.
    for (int attempt = 0; attempt < 2; ++attempt) {
        int fd = ::open(path.c_str(), O_RDONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            ::fchmod(fd, 0666); // every user of the drive shares the lock, whatever the umask
            return fd;
        }
        if (errno != EEXIST) return -1;
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0 || errno != ENOENT) return fd; // removed in between: try once more
    }
    return -1;
}

HostHandle WrapLockFile(int fd) {
    auto* mutex = new PosixMutex;
    mutex->fd = fd;
    return mutex;
}

} // namespace

void PosixHost::setMutexDirectory(std::string directory) {
    std::lock_guard<std::mutex> guard(mutexDirectoryLock_);
    if (!directory.empty() && directory.back() != '/') directory += '/';
    mutexDirectory_ = std::move(directory);
}

std::string PosixHost::mutexDirectory() {
    std::lock_guard<std::mutex> guard(mutexDirectoryLock_);
    if (mutexDirectory_.empty()) {
        mutexDirectory_ = WritableFolder(kSharedLockFolder) ? std::string(kSharedLockFolder) + "/"
                                                            : tempDirectory();
    }
    return mutexDirectory_;
}

HostHandle PosixHost::openMutex(const std::string& name) {
    if (name.empty()) {
        setLastError(EINVAL);
        return nullptr;
    }
    std::string path = mutexDirectory() + FileNameOf(name);
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        setLastError(static_cast<uint32_t>(errno));
        return nullptr;
    }
    return WrapLockFile(fd);
}

HostHandle PosixHost::createMutex(const std::string& name) {
    if (name.empty()) {
        setLastError(EINVAL);
        return nullptr;
    }
    int fd = OpenSharedLockFile(mutexDirectory() + FileNameOf(name));
    if (fd < 0) {
        setLastError(static_cast<uint32_t>(errno));
        return nullptr;
    }
    return WrapLockFile(fd);
}

LockAttempt PosixHost::tryJobLock(const std::string& name, HostHandle& lock) {
    lock = nullptr;
    if (name.empty()) return LockAttempt::Unavailable;
    const std::string path = mutexDirectory() + kJobLockPrefix + FileNameOf(name);
    for (int attempt = 0; attempt < kJobLockAttempts; ++attempt) {
        int fd = OpenSharedLockFile(path);
        if (fd < 0) break;
        // flock belongs to the open file, so a second open in this process is refused as well.
        int result;
        while ((result = ::flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
        }
        if (result != 0) {
            const int error = errno;
            ::close(fd);
            setLastError(static_cast<uint32_t>(error));
            return error == EWOULDBLOCK ? LockAttempt::Busy : LockAttempt::Unavailable;
        }
        // A holder removes the file when it lets go; a file locked after that is no longer the
        // one others find, so the lock is taken again on the file that is there now.
        struct stat locked {
        }, current{};
        if (::fstat(fd, &locked) != 0 || ::stat(path.c_str(), &current) != 0 ||
            locked.st_dev != current.st_dev || locked.st_ino != current.st_ino) {
            ::close(fd);
            continue;
        }
        auto* mutex = static_cast<PosixMutex*>(WrapLockFile(fd));
        mutex->removeOnClose = path;
        lock = mutex;
        return LockAttempt::Acquired;
    }
    setLastError(static_cast<uint32_t>(errno));
    return LockAttempt::Unavailable;
}

void PosixHost::releaseJobLock(HostHandle handle) {
    auto* mutex = static_cast<PosixMutex*>(handle);
    if (!mutex) return;
    // Removed while still locked, so that no lock files pile up; closing ends the lock.
    ::unlink(mutex->removeOnClose.c_str());
    closeMutex(handle);
}

void PosixHost::waitMutex(HostHandle handle) {
    auto* mutex = static_cast<PosixMutex*>(handle);
    if (!mutex) return;
    mutex->threads.lock();
    if (mutex->depth++ == 0) {
        while (::flock(mutex->fd, LOCK_EX) != 0 && errno == EINTR) {
        }
    }
}

void PosixHost::releaseMutex(HostHandle handle) {
    auto* mutex = static_cast<PosixMutex*>(handle);
    if (!mutex || mutex->depth == 0) return;
    if (--mutex->depth == 0) ::flock(mutex->fd, LOCK_UN);
    mutex->threads.unlock();
}

void PosixHost::closeMutex(HostHandle handle) {
    auto* mutex = static_cast<PosixMutex*>(handle);
    if (!mutex) return;
    ::close(mutex->fd); // releases the lock if still held
    delete mutex;
}

HostHandle PosixHost::createEvent(bool manualReset, bool signalled) {
    auto* event = new PosixEvent;
    event->manualReset = manualReset;
    event->signalled = signalled;
    return event;
}

void PosixHost::setEvent(HostHandle handle) {
    auto* event = static_cast<PosixEvent*>(handle);
    if (!event) return;
    {
        std::lock_guard<std::mutex> guard(event->lock);
        event->signalled = true;
    }
    event->changed.notify_all();
}

void PosixHost::resetEvent(HostHandle handle) {
    auto* event = static_cast<PosixEvent*>(handle);
    if (!event) return;
    std::lock_guard<std::mutex> guard(event->lock);
    event->signalled = false;
}

bool PosixHost::waitEvent(HostHandle handle, uint32_t milliseconds) {
    auto* event = static_cast<PosixEvent*>(handle);
    if (!event) return false;
    std::unique_lock<std::mutex> guard(event->lock);
    auto isSet = [event] { return event->signalled; };
    bool set = milliseconds == kInfinite
                   ? (event->changed.wait(guard, isSet), true)
                   : event->changed.wait_for(guard, std::chrono::milliseconds(milliseconds), isSet);
    if (set && !event->manualReset) event->signalled = false;
    return set;
}

void PosixHost::closeEvent(HostHandle handle) {
    delete static_cast<PosixEvent*>(handle);
}

} // namespace tvx
