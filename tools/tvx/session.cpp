#include "session.h"

#include "results.h"

#include <cstdio>
#include <cstdlib>

namespace tvxcli {

Session::~Session() {
    if (handle_) TVX_CloseRecHandle(handle_);
    if (started_) TVX_Terminate();
}

int Session::start() {
    if (TVX_Initialize() != 1) {
        std::fprintf(stderr, "error: no CD/DVD drive can be reached (see Torvexin.log in the "
                             "temporary directory); use --virtual IMAGE:KIND for a virtual "
                             "recorder\n");
        return kExitNoDrive;
    }
    started_ = true;
    return kExitOk;
}

int Session::open(int index) {
    if (int rc = start()) return rc;
    int count = TVX_GetDriveCount();
    if (index < 0 || index >= count) {
        std::fprintf(stderr, "error: no drive %d (%d drive%s found)\n", index, count,
                     count == 1 ? "" : "s");
        return kExitNoDrive;
    }
    handle_ = TVX_OpenRecHandle(index);
    if (!handle_) {
        std::fprintf(stderr, "error: drive %d cannot be opened\n", index);
        return kExitNoDrive;
    }
    return kExitOk;
}

bool ParseSpeed(const std::string& text, int32_t& kBps) {
    if (text.empty() || text == "max") {
        kBps = -1;
        return true;
    }
    char* end = nullptr;
    double value = std::strtod(text.c_str(), &end);
    if (end == text.c_str() || value <= 0) return false;
    if (*end == 'x' || *end == 'X') {
        kBps = static_cast<int32_t>(value * 1385.0 + 0.5);
        return end[1] == 0;
    }
    if (*end != 0 || value > 2147483647.0) return false;
    kBps = static_cast<int32_t>(value);
    return true;
}

} // namespace tvxcli
