#include "host_output.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace tvxcli {

namespace fs = std::filesystem;

SafeOutput::~SafeOutput() {
    if (file_) std::fclose(file_);
    if (!committed_ && !direct_ && !temporary_.empty()) ::unlink(temporary_.c_str());
}

bool SafeOutput::open(std::string& error) {
    // Through a symbolic link the file it points to is replaced, not the link.
    std::error_code ec;
    if (fs::is_symlink(destination_, ec)) {
        fs::path target = fs::weakly_canonical(destination_, ec);
        if (!ec) destination_ = target.string();
    }
    struct stat existing {};
    bool exists = ::stat(destination_.c_str(), &existing) == 0;
    if (exists && S_ISDIR(existing.st_mode)) {
        error = destination_ + " is a folder";
        return false;
    }
    if (exists && !S_ISREG(existing.st_mode)) {
        // A device or pipe is written in place: there is nothing to replace.
        direct_ = true;
        file_ = std::fopen(destination_.c_str(), "wb");
        if (!file_) error = "cannot write " + destination_ + ": " + std::strerror(errno);
        return file_ != nullptr;
    }
    fs::path target(destination_);
    fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    std::string pattern = (folder / ("." + target.filename().string() + ".tvx-XXXXXX")).string();
    int fd = ::mkstemp(pattern.data());
    if (fd < 0) {
        error = "cannot write in " + folder.string() + ": " + std::strerror(errno);
        return false;
    }
    temporary_ = pattern;
    mode_t mode;
    if (exists) {
        mode = existing.st_mode & 07777;
    } else {
        mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    ::fchmod(fd, mode);
    file_ = ::fdopen(fd, "wb");
    if (!file_) {
        ::close(fd);
        error = "cannot write " + temporary_ + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

bool SafeOutput::commit(std::string& error) {
    bool ok = std::fflush(file_) == 0 && (direct_ || ::fsync(::fileno(file_)) == 0);
    int savedErrno = errno;
    bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    if (!ok || !closed) {
        error = "writing " + destination_ + " failed: " + std::strerror(ok ? errno : savedErrno);
        return false;
    }
    if (direct_) return committed_ = true;
    if (::rename(temporary_.c_str(), destination_.c_str()) != 0) {
        error = "cannot replace " + destination_ + ": " + std::strerror(errno);
        return false;
    }
    return committed_ = true;
}

} // namespace tvxcli
