#include "virtual_drives.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

namespace tvxcli {

namespace {

constexpr size_t kMaxVirtualDrives = 23; // as many as the letters D: to Z:

bool Settable(const std::string& text) {
    return text.find(tvx::vdrive::kListSeparator) == std::string::npos;
}

std::string Join(const std::vector<std::string>& items) {
    std::string out;
    for (const auto& item : items) {
        if (!out.empty()) out += tvx::vdrive::kListSeparator;
        out += item;
    }
    return out;
}

// The kind of disc a state file records, as the command line spells it ("dvd+r"); "" when it
// cannot be read. Never follows a link nor waits on a pipe.
std::string StateKind(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return "";
    char text[512];
    ssize_t n = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    std::string state(text, n > 0 ? static_cast<size_t>(n) : 0);
    const size_t at = state.rfind("kind=", 0) == 0 ? 0 : state.find("\nkind=");
    if (at == std::string::npos) return "";
    const size_t from = state.find('=', at) + 1;
    std::string kind = state.substr(from, state.find('\n', from) - from);
    std::transform(kind.begin(), kind.end(), kind.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return kind;
}

} // namespace

const char* VirtualDriveKinds() {
    return tvx::vdrive::LayerDriveKinds();
}

bool ParseVirtualDrive(const std::string& text, VirtualDriveRequest& request, std::string& error) {
    request = VirtualDriveRequest{};
    if (!tvx::vdrive::ParseDriveText(text, request, error)) return false;
    const size_t end = request.image.size();
    request.kindGiven =
        text.size() > end + 1 && text[end] == ':' && text.compare(end + 1, 7, "report=") != 0;
    return true;
}

bool ParseVirtualFault(const std::string& text, VirtualFaultRequest& request, std::string& error) {
    return tvx::vdrive::ParseFaultText(text, request, error);
}

bool ConfigureVirtualDrives(const std::vector<VirtualDriveRequest>& drives,
                            const std::vector<std::string>& faultTexts, std::string& error) {
    namespace fs = std::filesystem;
    if (drives.size() > kMaxVirtualDrives) {
        error = "too many virtual drives";
        return false;
    }
    std::vector<std::string> entries;
    for (const auto& request : drives) {
        // The layer reports nothing back, so what it would refuse is refused here.
        std::error_code ec;
        bool hasState = fs::exists(request.image + ".state", ec);
        const std::string held = hasState ? StateKind(request.image + ".state") : "";
        if (request.kindGiven && !held.empty() && held != request.kind) {
            error = request.image + " holds a " + held + " disc, not the " + request.kind +
                    " given; leave out :" + request.kind + " to use it, or name a new image";
            return false;
        }
        if (!hasState && fs::exists(request.image, ec) && request.kind != "dvd-rom" &&
            request.kind != "dvd+rw") {
            error = request.image + " exists but holds no disc state; use :dvd-rom or :dvd+rw to "
                                    "load an image file";
            return false;
        }
        // The layer opens the image from the process's folder, like the tool.
        std::string image = fs::absolute(request.image, ec).string();
        if (ec || !Settable(image)) {
            error = "cannot attach " + request.image;
            return false;
        }
        std::string entry = image + ":" + request.kind + ":" + std::to_string(request.capacity);
        for (const std::string& behaviour : request.behaviours)
            entry += "+" + behaviour;
        if (!Settable(entry)) {
            error = "cannot attach " + request.image;
            return false;
        }
        entries.push_back(entry);
    }
    for (const auto& fault : faultTexts) {
        if (!Settable(fault)) {
            error = "bad fault '" + fault + "'";
            return false;
        }
    }
    using namespace tvx::vdrive;
    if (::setenv(kDrivesVariable, Join(entries).c_str(), 1) != 0 ||
        ::setenv(kFaultsVariable, Join(faultTexts).c_str(), 1) != 0 ||
        ::setenv(kTimingVariable, "fast", 1) != 0 || ::unsetenv(kCompletionVariable) != 0) {
        error = "cannot configure the virtual drives";
        return false;
    }
    return true;
}

} // namespace tvxcli
