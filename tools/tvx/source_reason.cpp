#include "source_reason.h"

#include "burn_report.h"
#include "results.h"

#include "platform/host.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace tvxcli {

namespace {

// The longest source path the library takes, in bytes.
constexpr size_t kMaxSourcePath = 4095;

// FNV-1a: two paths of one request that share a hash are as unlikely as to be ignored.
uint64_t PathHash(const std::string& path) {
    uint64_t h = 14695981039346656037ull;
    for (unsigned char c : path)
        h = (h ^ c) * 1099511628211ull;
    return h;
}

} // namespace

uint64_t SourceSizes::key(const std::string& path) const {
    for (const std::string* folder : {&folder_, &absoluteFolder_})
        if (!folder->empty() && path.compare(0, folder->size(), *folder) == 0)
            return PathHash(path.substr(folder->size()));
    return PathHash(path);
}

void SourceSizes::add(const std::string& path, uint64_t size) {
    sizes_.emplace_back(key(path), size);
}

const uint64_t* SourceSizes::sizeOf(const std::string& path) const {
    settle();
    const uint64_t h = key(path);
    auto it = std::lower_bound(sizes_.begin(), sizes_.end(), std::make_pair(h, uint64_t{0}));
    return it != sizes_.end() && it->first == h ? &it->second : nullptr;
}

bool SourceSizes::start(const BurnRequest& request) {
    settle();
    sizes_.clear();
    leftOut_.clear();
    folder_.clear();
    absoluteFolder_.clear();
    root_.clear();
    auto takeFile = [this](const std::string& path) {
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode))
            add(path, static_cast<uint64_t>(st.st_size));
    };
    if (request.source == BurnSource::Files) {
        for (const auto& pair : request.pairs) {
            size_t eq = pair.find('=');
            if (eq != std::string::npos) takeFile(pair.substr(eq + 1));
        }
        return false;
    }
    takeFile(request.path);
    if (request.source == BurnSource::Image || request.path.empty()) return false;
    auto slashed = [](std::string path) { return path.back() == '/' ? path : path + '/'; };
    root_ = request.path;
    folder_ = slashed(request.path);
    std::string absolute;
    if (tvx::host().fullPath(request.path, absolute)) absoluteFolder_ = slashed(absolute);
    return true;
}

void SourceSizes::walkSizes(std::vector<LeftOutEntry>& leftOut) {
    WalkSourceFolder(
        root_, [this](const std::string& path, uint64_t size) { add(path, size); }, leftOut);
    std::sort(sizes_.begin(), sizes_.end());
}

void SourceSizes::take(const BurnRequest& request) {
    if (start(request)) {
        walkSizes(leftOut_);
    } else {
        std::sort(sizes_.begin(), sizes_.end());
    }
}

void SourceSizes::takeAlongside(const BurnRequest& request) {
    if (!start(request)) {
        std::sort(sizes_.begin(), sizes_.end());
        return;
    }
    // Signals stay with the thread that runs the job, whose stop handling reads them.
    sigset_t all, was;
    sigfillset(&all);
    const bool masked = ::pthread_sigmask(SIG_SETMASK, &all, &was) == 0;
    try {
        sizing_ = std::thread([this] {
            std::vector<LeftOutEntry> seen; // the walk below names them
            walkSizes(seen);
        });
    } catch (const std::system_error&) {
        walkSizes(leftOut_); // no thread to be had: sizes and left-out entries in one walk
    }
    if (masked) ::pthread_sigmask(SIG_SETMASK, &was, nullptr);
    if (sizing_.joinable()) WalkSourceFolder(root_, nullptr, leftOut_);
}

std::string SourceSizes::why(const std::string& path) const {
    if (path.size() > kMaxSourcePath)
        return "its path is " + std::to_string(path.size()) + " bytes long, more than the " +
               std::to_string(kMaxSourcePath) + " a source path may have";
    struct stat st {};
    const uint64_t* known = sizeOf(path);
    if (::stat(path.c_str(), &st) != 0) {
        switch (errno) {
        case ENOENT:
        case ENOTDIR:
            if (known) return "it vanished during the burn";
            if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode))
                return "it is a symbolic link that leads nowhere";
            return "it does not exist";
        case ELOOP:
            return "its symbolic links form a loop";
        case ENAMETOOLONG:
            return "its name is too long for this system";
        default:
            return std::string("it cannot be looked up: ") + std::strerror(errno);
        }
    }
    if (known && S_ISREG(st.st_mode) && *known != static_cast<uint64_t>(st.st_size))
        return "it changed size during the burn (" + std::to_string(*known) + " bytes before, " +
               std::to_string(st.st_size) + " now)";
    if (S_ISFIFO(st.st_mode)) return "it is a named pipe, not a file";
    if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) return "it is a device, not a file";
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return std::string("it cannot be read: ") + std::strerror(errno);
    ::close(fd);
    return "";
}

bool SourceSizes::isHostPath(const std::string& text, const BurnRequest& request) const {
    if (request.source != BurnSource::Files) return true;
    for (const auto& pair : request.pairs) {
        size_t eq = pair.find('=');
        if (eq != std::string::npos && pair.compare(eq + 1, std::string::npos, text) == 0)
            return true;
    }
    return false;
}

void ReportNamedSource(const std::string& named, const BurnRequest& request,
                       const SourceSizes& sizes) {
    std::string problem = DiagnoseSource(request);
    std::string why = sizes.why(named);
    const bool host = sizes.isHostPath(named, request);
    if (!host)
        why = "the volume path is refused: it names the root or holds a \".\" or \"..\" "
              "component";
    if (why.empty() && request.source == BurnSource::Files)
        why = "its entry is refused: its volume path runs through a file, or its name equals "
              "an earlier entry's once the characters \\ / : * ? \" < > | are recorded as "
              "'_'";
    if (why.empty() && !problem.empty()) {
        std::fprintf(stderr, "  source: %s\n", problem.c_str());
        return;
    }
    if (why.empty()) why = "it could not be read as planned";
    std::fprintf(stderr, "  source: %s: %s\n", named.c_str(), why.c_str());
    if (!problem.empty() && problem.find(named) == std::string::npos)
        std::fprintf(stderr, "  source: %s\n", problem.c_str());
}

void ReportSource(TVX_Result result, TVX_RecHandle handle, const BurnRequest& request,
                  const SourceSizes& sizes) {
    if (result != TVX_ERR_SOURCE && result != TVX_ERR_VERIFY && result != TVX_ERR_COMMAND) return;
    TVX_LastError e;
    const bool recorded = result == TVX_ERR_SOURCE && handle &&
                          TVX_GetLastError(handle, &e) == TVX_OK && e.description;
    // A source the volume cannot record comes named with its rule.
    if (recorded && e.location == kSourceRefusedLocation) {
        std::fprintf(stderr, "  source: %s\n", e.description);
        return;
    }
    if (recorded && e.location == kSourceFailureLocation && *e.description) {
        ReportNamedSource(e.description, request, sizes);
        return;
    }
    std::string problem = DiagnoseSource(request);
    if (!problem.empty()) {
        std::fprintf(stderr, "  source: %s\n", problem.c_str());
    } else if (result == TVX_ERR_SOURCE) {
        std::fprintf(stderr, "  source: a source file could not be read as planned (it may have "
                             "changed during the burn)\n");
    }
}

} // namespace tvxcli
