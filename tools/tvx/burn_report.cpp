#include "burn_report.h"

#include "results.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace tvxcli {

namespace {

namespace fs = std::filesystem;

constexpr uint32_t kRewritable = MediaDvdRw | MediaDvdPlusRw | MediaDvdRam;

std::string Unreadable(const std::string& path, const char* what) {
    std::error_code ec;
    fs::file_status status = fs::status(path, ec);
    if (ec || !fs::exists(status)) return std::string(what) + " " + path + " does not exist";
    if (::access(path.c_str(), R_OK) != 0)
        return std::string(what) + " " + path + " cannot be read: " + std::strerror(errno);
    return "";
}

// The first file or folder below folder that cannot be read.
std::string FirstUnreadable(const std::string& folder) {
    std::string problem = Unreadable(folder, "folder");
    if (!problem.empty()) return problem;
    if (!fs::is_directory(folder)) return folder + " is not a folder";
    std::error_code ec;
    fs::recursive_directory_iterator it(folder, ec), end;
    if (ec) return "folder " + folder + " cannot be read: " + ec.message();
    bool any = false;
    for (; it != end; it.increment(ec)) {
        if (ec) return "folder below " + folder + " cannot be read: " + ec.message();
        any = true;
        std::string path = it->path().string();
        if (::access(path.c_str(), R_OK) != 0)
            return "file " + path + " cannot be read: " + std::strerror(errno);
        if (it->is_regular_file(ec)) {
            std::ifstream in(path, std::ios::binary);
            if (!in) return "file " + path + " cannot be opened";
        }
    }
    return any ? "" : "folder " + folder + " is empty";
}

} // namespace

std::string DiscStateAfterBurn(TVX_Result result, uint32_t mediaType, const JobFacts& facts,
                               bool testWrite) {
    if (result == TVX_OK) return "";
    if (testWrite) return "test write: nothing was recorded, the disc is unchanged";
    std::string kind = MediaName(mediaType);
    bool rewritable = (mediaType & kRewritable) != 0;
    if (!facts.trackBegun) return "nothing was written, the disc is unchanged";
    if (result == TVX_ERR_VERIFY && facts.verifying)
        return "the " + kind +
               " was written and closed, but it does not read back as the "
               "source: do not rely on it";
    if (result == TVX_ERR_VERIFY && facts.writeDone)
        return "the whole volume was sent to the " + kind +
               ", but closing it or reading it back failed: do not rely on it";
    if (!facts.writing) {
        if (mediaType & (MediaDvdPlusR | MediaDvdPlusRDualLayer))
            return "nothing was written, the disc is unchanged";
        return rewritable ? "no volume was written; the " + kind +
                                " holds no readable volume until it is burned again" +
                                (mediaType & MediaDvdRw ? " (erase it first with tvx erase)" : "")
                          : "a track was reserved on the " + kind +
                                " but nothing was written to it; a write-once disc cannot be "
                                "burned again";
    }
    if (rewritable)
        return "the burn did not complete: the " + kind +
               " holds no readable volume (its volume descriptors are overwritten); burn it "
               "again" +
               (mediaType & MediaDvdRw ? " after tvx erase" : "");
    return "the burn did not complete: the " + kind +
           " was written in part and its session left open, so no drive presents it as a "
           "finished disc; it holds no usable volume and, being write-once, cannot be burned "
           "again";
}

std::string VolumeWholeState(uint32_t mediaType) {
    return "the whole volume is on the " + MediaName(mediaType) +
           " and its data are safe; only finishing the disc (closing it) did not complete: it "
           "reads as it is, and tvx erase or a new burn can replace it";
}

std::string DiagnoseSource(const BurnRequest& request) {
    switch (request.source) {
    case BurnSource::Image: {
        std::string problem = Unreadable(request.path, "image");
        if (!problem.empty()) return problem;
        if (fs::is_directory(request.path)) return "image " + request.path + " is a folder";
        return "";
    }
    case BurnSource::DvdVideo: {
        std::string problem = FirstUnreadable(request.path);
        if (!problem.empty()) return problem;
        if (!fs::is_directory(fs::path(request.path) / "VIDEO_TS"))
            return "folder " + request.path + " holds no VIDEO_TS folder";
        return "";
    }
    case BurnSource::VideoTs:
    case BurnSource::Data:
        return FirstUnreadable(request.path);
    case BurnSource::Files:
        break;
    }
    for (const auto& pair : request.pairs) {
        size_t eq = pair.find('=');
        std::string host = eq == std::string::npos ? pair : pair.substr(eq + 1);
        std::string problem = Unreadable(host, "file");
        if (!problem.empty()) return problem;
    }
    return "";
}

} // namespace tvxcli
