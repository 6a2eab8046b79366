#include "host_output.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace tvxcli {

namespace fs = std::filesystem;

namespace {

// The temporary file being written, for the handler of a signal that ends the process: its
// destructor never runs then. One output is written at a time.
char pendingTemporary[4096];

// Signals whose default action ends the process.
constexpr int kEndingSignals[] = {SIGINT,    SIGTERM, SIGHUP,  SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM,
                                  SIGVTALRM, SIGPROF, SIGXCPU, SIGIO,   SIGPWR,  SIGSYS,  SIGABRT,
                                  SIGSEGV,   SIGBUS,  SIGFPE,  SIGILL,  SIGTRAP};

// Handles the signal unless someone else does (the stop handlers) or it is ignored.
void cleanUpOn(int signal, const struct sigaction& action) {
    struct sigaction previous {};
    if (sigaction(signal, nullptr, &previous) != 0 || previous.sa_handler != SIG_DFL) return;
    sigaction(signal, &action, nullptr);
}

void removePendingAndEnd(int signal) {
    if (pendingTemporary[0]) ::unlink(pendingTemporary);
    // The handler was reset on entry: raised again, the signal ends the process as it would
    // have, once this handler returns.
    ::raise(signal);
}

void cleanUpOnEndingSignals() {
    struct sigaction action {};
    action.sa_handler = removePendingAndEnd;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    for (int signal : kEndingSignals)
        cleanUpOn(signal, action);
    for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal)
        cleanUpOn(signal, action);
    // Beyond the size limit a write fails (and says so) instead of ending the process.
    std::signal(SIGXFSZ, SIG_IGN);
}

// Why a symbolic link cannot be written through, or "" when it leads to something.
std::string danglingLink(const std::string& path) {
    struct stat target {};
    if (::stat(path.c_str(), &target) == 0) return "";
    if (errno == ELOOP) return path + " is a symbolic link in a loop; nothing was written";
    return path + " is a symbolic link that leads nowhere; nothing was written";
}

} // namespace

SafeOutput::~SafeOutput() {
    if (file_) std::fclose(file_);
    if (!committed_ && !direct_ && !unnamed_ && !temporary_.empty()) ::unlink(temporary_.c_str());
    pendingTemporary[0] = '\0';
}

bool SafeOutput::open(std::string& error) {
    // Through a symbolic link the file it points to is replaced, not the link; a link to
    // nothing is refused rather than replaced by a file or followed to make one.
    std::error_code ec;
    if (fs::is_symlink(destination_, ec)) {
        error = danglingLink(destination_);
        if (!error.empty()) return false;
        fs::path target = fs::weakly_canonical(destination_, ec);
        if (ec) {
            error = "cannot resolve " + destination_ + ": " + ec.message();
            return false;
        }
        destination_ = target.string();
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
    if (pattern.size() >= sizeof pendingTemporary) {
        error = "cannot write in " + folder.string() + ": the path is too long";
        return false;
    }
    // The name is made in place where the signal handler finds it, so that no moment passes
    // between creating the file and being able to remove it.
    cleanUpOnEndingSignals();
    std::memcpy(pendingTemporary, pattern.c_str(), pattern.size() + 1);
    temporary_ = pattern;
    // A file without a name where the system offers one (it is given one only once written
    // whole): even a kill -9 then leaves nothing behind.
    int fd = -1;
    if (::access("/proc/self/fd", X_OK) == 0) {
        fd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
        if (fd >= 0) {
            unnamed_ = true;
            pendingTemporary[0] = '\0';
        }
    }
    if (fd < 0) fd = ::mkstemp(pendingTemporary);
    if (fd < 0) {
        pendingTemporary[0] = '\0';
        error = "cannot write in " + folder.string() + ": " + std::strerror(errno);
        return false;
    }
    if (!unnamed_) temporary_ = pendingTemporary;
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
    // The unnamed file gets its temporary name while it is still open.
    if (ok && unnamed_ && !giveName(::fileno(file_), error)) {
        std::fclose(file_);
        file_ = nullptr;
        return false;
    }
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
    pendingTemporary[0] = '\0';
    return committed_ = true;
}

bool SafeOutput::giveName(int fd, std::string& error) {
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    std::string name = temporary_;
    // temporary_ ends in the pattern's six X; each try fills them anew.
    static const char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        for (size_t i = name.size() - 6; i < name.size(); ++i)
            name[i] = kChars[random() % (sizeof kChars - 1)];
        std::memcpy(pendingTemporary, name.c_str(), name.size() + 1);
        if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            temporary_ = name;
            unnamed_ = false;
            return true;
        }
        pendingTemporary[0] = '\0';
        if (errno != EEXIST) break;
    }
    error = "cannot write " + destination_ + ": " + std::strerror(errno);
    return false;
}

} // namespace tvxcli
