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

bool VolumeWholeRecord(uint32_t mediaBefore, const TVX_LastError& record) {
    constexpr int32_t kPlusRwCloseFailed = 805, kPlusRwCloseWaitPoll = 239;
    return (mediaBefore & MediaDvdPlusRw) &&
           (record.location == kPlusRwCloseFailed || record.location == kPlusRwCloseWaitPoll);
}

std::string VolumeWholeState(uint32_t mediaType) {
    return "the whole volume is on the " + MediaName(mediaType) +
           " and its data are safe; only finishing the disc (closing it) did not complete: it "
           "reads as it is, and tvx erase or a new burn can replace it";
}

bool ReadBackFailed(TVX_Result result, TVX_RecHandle handle, const JobFacts& facts) {
    if (result != TVX_ERR_VERIFY) return false;
    TVX_LastError e;
    const bool recorded =
        TVX_GetLastError(handle, &e) == TVX_OK &&
        (e.location == kVerifyReadLocation || e.location == kVerifyDifferentLocation);
    return recorded || facts.verifying;
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
