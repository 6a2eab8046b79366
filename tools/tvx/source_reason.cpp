#include "source_reason.h"

#include "burn_report.h"
#include "results.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace tvxcli {

namespace {

namespace fs = std::filesystem;

// The longest source path the library takes, in bytes.
constexpr size_t kMaxSourcePath = 4095;

void TakeFile(std::map<std::string, uint64_t>& sizes, const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode))
        sizes[path] = static_cast<uint64_t>(st.st_size);
}

} // namespace

void SourceSizes::take(const BurnRequest& request) {
    sizes_.clear();
    if (request.source == BurnSource::Files) {
        for (const auto& pair : request.pairs) {
            size_t eq = pair.find('=');
            if (eq != std::string::npos) TakeFile(sizes_, pair.substr(eq + 1));
        }
        return;
    }
    TakeFile(sizes_, request.path);
    std::error_code ec;
    fs::recursive_directory_iterator it(request.path, ec), end;
    for (; !ec && it != end; it.increment(ec))
        TakeFile(sizes_, it->path().string());
}

std::string SourceSizes::why(const std::string& path) const {
    if (path.size() > kMaxSourcePath)
        return "its path is " + std::to_string(path.size()) + " bytes long, more than the " +
               std::to_string(kMaxSourcePath) + " a source path may have";
    struct stat st {};
    auto known = sizes_.find(path);
    if (::stat(path.c_str(), &st) != 0) {
        switch (errno) {
        case ENOENT:
        case ENOTDIR:
            if (known != sizes_.end()) return "it vanished during the burn";
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
    if (known != sizes_.end() && S_ISREG(st.st_mode) &&
        known->second != static_cast<uint64_t>(st.st_size))
        return "it changed size during the burn (" + std::to_string(known->second) +
               " bytes before, " + std::to_string(st.st_size) + " now)";
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
