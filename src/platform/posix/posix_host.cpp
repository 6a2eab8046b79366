#include "platform/posix/posix_host.h"

#include "platform/file_version.h"
#include "platform/text.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tvx {

namespace {

thread_local uint32_t threadLastError = 0;

void setError(uint32_t code) {
    threadLastError = code;
}

// Seconds from 1601-01-01 to 1970-01-01.
constexpr int64_t kEpochDifference = 11644473600LL;

class PosixFile final : public HostFile {
  public:
    // readSize: the size a file opened for reading had at its opening (its one fstat), or
    // negative for a file that is written, whose size is asked each time.
    PosixFile(int fd, int64_t readSize) : fd_(fd), readSize_(readSize) {}
    ~PosixFile() override { ::close(fd_); }

    uint32_t read(void* buffer, uint32_t count) override {
        auto* out = static_cast<uint8_t*>(buffer);
        uint32_t done = 0;
        while (done < count) {
            const uint32_t asked = count - done;
            ssize_t n = ::read(fd_, out + done, asked);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                ended_ = n == 0;
                break;
            }
            done += static_cast<uint32_t>(n);
            // A regular file answers a modest request short only at its end: no second call
            // is needed to hear it.
            if (readSize_ >= 0 && static_cast<uint32_t>(n) < asked && asked <= kShortMeansEnd) {
                ended_ = true;
                break;
            }
        }
        return done;
    }

    bool atEnd() override { return ended_ || HostFile::atEnd(); }

    uint32_t write(const void* data, uint32_t count) override {
        auto* in = static_cast<const uint8_t*>(data);
        uint32_t done = 0;
        while (done < count) {
            ssize_t n = ::write(fd_, in + done, count - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            done += static_cast<uint32_t>(n);
        }
        return done;
    }

    uint64_t size() override {
        if (readSize_ >= 0) return static_cast<uint64_t>(readSize_);
        return currentSize();
    }

    uint64_t currentSize() override {
        struct stat st {};
        if (::fstat(fd_, &st) != 0) return 0;
        return static_cast<uint64_t>(st.st_size);
    }

    bool seek(uint64_t offset) override {
        ended_ = false;
        return ::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) == static_cast<off_t>(offset);
    }

    void willNeed(uint64_t length) override {
        if (length > 0) ::posix_fadvise(fd_, 0, static_cast<off_t>(length), POSIX_FADV_WILLNEED);
    }

  private:
    // Requests up to this size are never cut by the system except at the file's end (it cuts
    // larger ones near 2 GiB).
    static constexpr uint32_t kShortMeansEnd = 1u << 30;

    int fd_;
    int64_t readSize_;
    bool ended_ = false; // the last read met the end of the file
};

enum class Probe { Found, Skipped, Gone, Failed };

// The find-first record of a file or folder with the given status.
void fill(std::string_view name, const struct stat& st, FindResult& r) {
    r.name.assign(name);
    r.shortName.clear();
    r.attributes = S_ISDIR(st.st_mode) ? kAttrDirectory : kAttrArchive;
    if (!name.empty() && name[0] == '.') r.attributes |= kAttrHidden;
    if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) r.attributes |= kAttrReadOnly;
    r.size = S_ISDIR(st.st_mode) ? 0 : static_cast<uint64_t>(st.st_size);
    r.accessTime = FileTimeFromUnix(st.st_atim.tv_sec, st.st_atim.tv_nsec);
    r.writeTime = FileTimeFromUnix(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
    // Linux keeps no portable birth time; the status-change time stands in for it.
    r.creationTime = FileTimeFromUnix(st.st_ctim.tv_sec, st.st_ctim.tv_nsec);
    r.volumeId = static_cast<uint64_t>(st.st_dev);
    r.fileId = static_cast<uint64_t>(st.st_ino);
    r.opened = false;
}

// What find-first makes of one path (relative to the open folder, or AT_FDCWD): a file or
// folder, an object it skips, nothing (the entry vanished), or a failure that errno describes.
Probe probe(int folder, const char* path, std::string_view name, FindResult& r) {
    struct stat st {};
    if (::fstatat(folder, path, &st, 0) != 0) {
        int error = errno;
        struct stat link {};
        if ((error == ENOENT || error == ELOOP) &&
            ::fstatat(folder, path, &link, AT_SYMLINK_NOFOLLOW) == 0)
            return Probe::Skipped; // a link that leads nowhere
        errno = error;
        return error == ENOENT ? Probe::Gone : Probe::Failed;
    }
    if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) return Probe::Skipped;
    fill(name, st, r);
    return Probe::Found;
}

// A regular file (as the listing's type says) opened by its name in the folder and closed
// again: what a look at it would tell, and that it opens for reading, in one lookup of its
// name. Anything else (it cannot be opened, or is no longer a regular file) is left to probe.
bool openProbe(int folder, const char* name, FindResult& r) {
    int fd = ::openat(folder, name, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW);
    if (fd < 0) return false;
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    ::close(fd);
    if (!ok) return false;
    fill(name, st, r);
    r.opened = true;
    return true;
}

std::string lastComponent(const std::string& path) {
    size_t end = path.size();
    while (end > 1 && path[end - 1] == '/')
        --end;
    size_t slash = path.rfind('/', end - 1);
    if (slash == std::string::npos) return path.substr(0, end);
    return path.substr(slash + 1, end - slash - 1);
}

bool isListQuery(const std::string& query, std::string& folder) {
    static const char kAll[] = "*.*";
    if (query.size() < 4) return false;
    if (query.compare(query.size() - 3, 3, kAll) != 0) return false;
    char sep = query[query.size() - 4];
    if (sep != '/' && sep != '\\') return false;
    folder = query.substr(0, query.size() - 4);
    if (folder.empty()) folder = "/";
    return true;
}

} // namespace

uint64_t FileTimeFromUnix(int64_t seconds, int64_t nanoseconds) {
    int64_t s = seconds + kEpochDifference;
    if (s < 0) return 0;
    return static_cast<uint64_t>(s) * 10000000ULL + static_cast<uint64_t>(nanoseconds / 100);
}

int64_t UnixSecondsFromFileTime(uint64_t fileTime) {
    return static_cast<int64_t>(fileTime / 10000000ULL) - kEpochDifference;
}

void PosixHost::setLastError(uint32_t code) {
    threadLastError = code;
}

uint32_t PosixHost::lastError() {
    return threadLastError;
}

namespace {
// Opens path relative to the folder descriptor (or AT_FDCWD) as openFile describes.
std::unique_ptr<HostFile> openAt(int folder, const char* path, FileAccess access);
} // namespace

std::unique_ptr<HostFile> PosixHost::openFile(const std::string& path, FileAccess access) {
    return openAt(AT_FDCWD, path.c_str(), access);
}

// A folder handle carries its descriptor plus one, so that descriptor 0 is no null handle.
HostHandle PosixHost::openFolder(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        setLastError(static_cast<uint32_t>(errno));
        return nullptr;
    }
    return reinterpret_cast<HostHandle>(static_cast<intptr_t>(fd) + 1);
}

std::unique_ptr<HostFile> PosixHost::openFileIn(HostHandle folder, const std::string& name) {
    if (!folder || name.empty() || name.find('/') != std::string::npos) {
        setLastError(EINVAL);
        return nullptr;
    }
    int fd = static_cast<int>(reinterpret_cast<intptr_t>(folder) - 1);
    return openAt(fd, name.c_str(), FileAccess::Read);
}

void PosixHost::closeFolder(HostHandle folder) {
    if (folder) ::close(static_cast<int>(reinterpret_cast<intptr_t>(folder) - 1));
}

namespace {

std::unique_ptr<HostFile> openAt(int folder, const char* path, FileAccess access) {
    // Non-blocking, so that a pipe or device never holds the open; then checked and switched
    // back to blocking for the reads and writes (a regular file ignores the flag, so it costs
    // no more calls).
    int flags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    switch (access) {
    case FileAccess::Read:
        flags |= O_RDONLY;
        break;
    case FileAccess::Write:
        flags |= O_WRONLY | O_CREAT | O_TRUNC;
        break;
    case FileAccess::ReadWrite:
        flags |= O_RDWR | O_CREAT;
        break;
    // The log lives in a shared folder: a link planted there must not be followed, and nobody
    // else may read what it says.
    case FileAccess::Append:
        flags |= O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW;
        break;
    }
    int fd = ::openat(folder, path, flags, access == FileAccess::Append ? 0600 : 0666);
    if (fd < 0) {
        setError(static_cast<uint32_t>(errno));
        return nullptr;
    }
    struct stat st {};
    int refused = 0;
    if (::fstat(fd, &st) != 0) {
        refused = errno;
    } else if (S_ISDIR(st.st_mode)) {
        refused = EISDIR;
    } else if (access == FileAccess::Read && !S_ISREG(st.st_mode)) {
        refused = EINVAL; // a source must be a file: a pipe or device has no fixed size
    } else if (!S_ISREG(st.st_mode) &&
               ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
        refused = errno;
    }
    if (refused != 0) {
        setError(static_cast<uint32_t>(refused));
        ::close(fd);
        return nullptr;
    }
    if (access == FileAccess::Append && (!S_ISREG(st.st_mode) || st.st_uid != ::geteuid())) {
        setError(EPERM);
        ::close(fd);
        return nullptr;
    }
    int64_t readSize = access == FileAccess::Read ? static_cast<int64_t>(st.st_size) : -1;
    return std::make_unique<PosixFile>(fd, readSize);
}

} // namespace

bool PosixHost::findFiles(const std::string& query, std::vector<FindResult>& results,
                          std::vector<std::string>& skipped) {
    std::string folder;
    if (!isListQuery(query, folder)) {
        FindResult r;
        switch (probe(AT_FDCWD, query.c_str(), lastComponent(query), r)) {
        case Probe::Found:
            results.push_back(std::move(r));
            return true;
        case Probe::Skipped:
            skipped.push_back(query);
            setLastError(ENOENT);
            return false;
        case Probe::Gone:
        case Probe::Failed:
            setLastError(static_cast<uint32_t>(errno));
            return false;
        }
    }
    size_t before = results.size();
    bool ok = listFolder(
        folder,
        [&results](const FindResult& r) {
            results.push_back(r);
            return true;
        },
        skipped, false);
    // A partial listing would record a folder without some of its entries.
    if (!ok) results.resize(before);
    return ok;
}

bool PosixHost::listFolder(const std::string& folder, const FolderVisitor& each,
                           std::vector<std::string>& skipped, bool openFiles) {
    // Entries are looked at relative to the open folder: the kernel resolves the folder's path
    // once, not once per entry.
    int folderFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = folderFd >= 0 ? ::fdopendir(folderFd) : nullptr;
    if (!dir) {
        setLastError(static_cast<uint32_t>(errno));
        if (folderFd >= 0) ::close(folderFd);
        return false;
    }
    std::string prefix = folder.empty() ? std::string("/") : folder;
    if (prefix.back() != '/') prefix += '/';
    int error = 0;
    bool stopped = false;
    FindResult r; // one record for every entry, so its name keeps its memory
    for (;;) {
        errno = 0;
        struct dirent* e = ::readdir(dir);
        if (!e) {
            error = errno;
            break;
        }
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
        Probe found = openFiles && e->d_type == DT_REG && openProbe(::dirfd(dir), e->d_name, r)
                          ? Probe::Found
                          : probe(::dirfd(dir), e->d_name, e->d_name, r);
        if (found == Probe::Found) {
            if (!each(r)) {
                stopped = true;
                break;
            }
        } else if (found == Probe::Skipped) {
            skipped.push_back(prefix + e->d_name);
        } else if (found == Probe::Failed) {
            error = errno;
            break;
        }
        // An entry that vanished since it was listed is not reported.
    }
    ::closedir(dir);
    if (error != 0) setLastError(static_cast<uint32_t>(error));
    return error == 0 && !stopped;
}

bool PosixHost::fullPath(const std::string& path, std::string& absolute) {
    if (path.empty()) return false;
    std::string joined;
    if (path[0] == '/') {
        joined = path;
    } else {
        char cwd[4096];
        if (!::getcwd(cwd, sizeof cwd)) return false;
        joined = std::string(cwd) + "/" + path;
    }
    // Normalise "." and ".." and repeated or trailing separators, as the full-path service does
    // (without resolving links).
    std::vector<std::string> parts;
    size_t i = 0;
    while (i < joined.size()) {
        size_t j = joined.find('/', i);
        if (j == std::string::npos) j = joined.size();
        std::string part = joined.substr(i, j - i);
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(std::move(part));
        }
        i = j + 1;
    }
    std::string out;
    for (const auto& p : parts)
        out += "/" + p;
    if (out.empty()) out = "/";
    if (out.size() >= kMaxHostPath) return false;
    absolute = std::move(out);
    return true;
}

uint64_t PosixHost::currentFileTime() {
    struct timespec ts {};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    return FileTimeFromUnix(ts.tv_sec, ts.tv_nsec);
}

void PosixHost::refreshTimeZone() {
    ::tzset();
    zoneRead_.store(true);
}

bool PosixHost::fileTimeToLocal(uint64_t fileTime, CalendarTime& local) {
    if (!zoneRead_.load()) refreshTimeZone(); // localtime_r need not read the zone itself
    time_t t = static_cast<time_t>(UnixSecondsFromFileTime(fileTime));
    struct tm tm {};
    if (!::localtime_r(&t, &tm)) return false;
    local.year = tm.tm_year + 1900;
    local.month = tm.tm_mon + 1;
    local.day = tm.tm_mday;
    local.hour = tm.tm_hour;
    local.minute = tm.tm_min;
    local.second = tm.tm_sec;
    local.milliseconds = static_cast<int>((fileTime / 10000ULL) % 1000ULL);
    return true;
}

std::string PosixHost::tempDirectory() {
    const char* dir = std::getenv("TMPDIR");
    std::string path = (dir && *dir) ? dir : "/tmp";
    if (path.back() != '/') path += '/';
    return path;
}

bool PosixHost::systemErrorText(uint32_t code, std::string& text) {
    if (code == 0) {
        // The system's text for success, ending with its own line break like all system texts.
        text = "The operation completed successfully.\n";
        return true;
    }
    char buffer[256];
    const char* message = ::strerror_r(static_cast<int>(code), buffer, sizeof buffer);
    if (!message || std::strncmp(message, "Unknown error", 13) == 0) {
        setLastError(EINVAL);
        return false;
    }
    text = std::string(message) + ".\n";
    return true;
}

bool PosixHost::moduleFileVersion(uint32_t& high, uint32_t& low) {
    high = (kFileVersionMajor << 16) | kFileVersionMinor;
    low = (kFileVersionBuild << 16) | kFileVersionRevision;
    return true;
}

bool PosixHost::ansiToUtf16(std::string_view text, std::u16string& out) {
    return Utf8ToUtf16(text, out);
}

bool PosixHost::utf16ToAnsi(std::u16string_view text, std::string& out) {
    return Utf16ToUtf8(text, out);
}

size_t PosixHost::ansiCharLength(const char* text, size_t remaining) {
    return Utf8SequenceLength(text, remaining);
}

} // namespace tvx
