#include "vdrive/state_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <random>
#if defined(_WIN32)
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace tvx::vdrive {
namespace {

// A state file is a few lines per track; anything larger is not one.
constexpr size_t kMaxStateBytes = 1 << 20;
// Fresh names tried before giving up (each clash means someone made that very name).
constexpr int kNameAttempts = 64;

std::string Failed(const char* what, const std::string& path) {
    return std::string("cannot ") + what + " " + path + ": " + std::strerror(errno);
}

std::string FreshName(const std::string& path) {
    static thread_local std::mt19937_64 random{std::random_device{}()};
    char tail[24];
    std::snprintf(tail, sizeof tail, ".%016llx", static_cast<unsigned long long>(random()));
    return path + tail;
}

#if defined(_WIN32)
int OpenRead(const std::string& path) {
    int fd = -1;
    return ::_sopen_s(&fd, path.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT, _SH_DENYNO, 0) == 0
               ? fd
               : -1;
}
int CreateNew(const std::string& path, uint32_t) {
    int fd = -1;
    int flags = _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT;
    return ::_sopen_s(&fd, path.c_str(), flags, _SH_DENYNO, _S_IREAD | _S_IWRITE) == 0 ? fd : -1;
}
bool IsRegular(int fd) {
    struct _stat64 st {};
    return ::_fstat64(fd, &st) == 0 && (st.st_mode & _S_IFREG);
}
int64_t ReadSome(int fd, char* out, size_t n) {
    return ::_read(fd, out, static_cast<unsigned>(n));
}
int64_t WriteSome(int fd, const char* data, size_t n) {
    return ::_write(fd, data, static_cast<unsigned>(n));
}
bool Sync(int fd) {
    return ::_commit(fd) == 0;
}
void Close(int fd) {
    ::_close(fd);
}
bool Replace(const std::string& from, const std::string& to) {
    std::error_code ec;
    std::filesystem::rename(from, to, ec);
    return !ec;
}
void SyncFolder(const std::string&) {}
#else
int OpenRead(const std::string& path) {
    // Non-blocking: a FIFO in the state file's place must not hang the attach.
    return ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
}
int CreateNew(const std::string& path, uint32_t mode) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0 && mode != 0600) ::fchmod(fd, mode);
    return fd;
}
bool IsRegular(int fd) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}
int64_t ReadSome(int fd, char* out, size_t n) {
    return ::read(fd, out, n);
}
int64_t WriteSome(int fd, const char* data, size_t n) {
    return ::write(fd, data, n);
}
bool Sync(int fd) {
    return ::fsync(fd) == 0;
}
void Close(int fd) {
    ::close(fd);
}
bool Replace(const std::string& from, const std::string& to) {
    return ::rename(from.c_str(), to.c_str()) == 0;
}
// The rename is durable only once the folder that holds the name is.
void SyncFolder(const std::string& path) {
    std::string folder = std::filesystem::path(path).parent_path().string();
    int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}
#endif

} // namespace

bool ReadStateFile(const std::string& path, std::string& text, std::string& problem) {
    int fd = OpenRead(path);
    if (fd < 0) {
        problem = Failed("open", path);
        return false;
    }
    text.clear();
    bool ok = IsRegular(fd);
    if (!ok) problem = path + " is not a regular file";
    char buffer[4096];
    while (ok) {
        int64_t got = ReadSome(fd, buffer, sizeof buffer);
        if (got < 0) {
            problem = Failed("read", path);
            ok = false;
        } else if (got == 0) {
            break;
        } else if (text.size() + static_cast<size_t>(got) > kMaxStateBytes) {
            problem = path + " is too large to be a disc state";
            ok = false;
        } else {
            text.append(buffer, static_cast<size_t>(got));
        }
    }
    Close(fd);
    return ok;
}

bool ReplaceStateFile(const std::string& path, const std::string& text, uint32_t mode,
                      std::string& problem) {
    std::string temp;
    int fd = -1;
    for (int i = 0; i < kNameAttempts && fd < 0; ++i) {
        temp = FreshName(path);
        fd = CreateNew(temp, mode);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) {
        problem = Failed("create", temp);
        return false;
    }
    size_t done = 0;
    while (done < text.size()) {
        int64_t put = WriteSome(fd, text.data() + done, text.size() - done);
        if (put <= 0) break;
        done += static_cast<size_t>(put);
    }
    bool ok = done == text.size() && Sync(fd);
    if (!ok) problem = Failed("write", temp);
    Close(fd);
    if (ok && !Replace(temp, path)) {
        problem = Failed("replace", path);
        ok = false;
    }
    if (!ok) {
        std::remove(temp.c_str());
        return false;
    }
    SyncFolder(path);
    return true;
}

} // namespace tvx::vdrive
