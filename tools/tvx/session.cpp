#include "session.h"

#include "devices.h"
#include "results.h"
#include "virtual_drives.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>

namespace tvxcli {

Session::~Session() {
    if (handle_) TVX_CloseRecHandle(handle_);
    if (started_) TVX_Terminate();
}

int Session::start() {
    // Every kind the library can write, not only the DVDs a host of old expects.
    TVX_SetWritableMedia(MediaRecordableMask);
    if (TVX_Initialize() != 1) {
        // With virtual drives asked for, the layer has said on standard error why it has none.
        const char* virtualDrives = std::getenv(tvx::vdrive::kDrivesVariable);
        if (virtualDrives && *virtualDrives)
            return Fail(kExitNoDrive, "the virtual drives could not be attached (see the messages "
                                      "above and Torvexin.log in the temporary directory)");
        return Fail(kExitNoDrive, "no CD/DVD drive can be reached (see Torvexin.log in the "
                                  "temporary directory); use --virtual IMAGE:KIND for a virtual "
                                  "recorder");
    }
    started_ = true;
    return kExitOk;
}

int Session::open(const Options& options) {
    if (int rc = start()) return rc;
    std::string error;
    index_ = ResolveDrive(options.drive, options.virtualImages, error);
    if (index_ < 0) return Fail(kExitNoDrive, "%s", error.c_str());
    handle_ = TVX_OpenRecHandle(index_);
    if (!handle_) return Fail(kExitNoDrive, "drive %s cannot be opened", options.drive.c_str());
    return kExitOk;
}

double OneX(uint32_t mediaType) {
    if (mediaType & (MediaCdR | MediaCdRw | MediaCdRom)) return 176.4;
    if (mediaType & (MediaBdR | MediaBdRe | MediaBdRom)) return 4495.0;
    return kDvdOneX;
}

bool ParseSpeed(const std::string& text, int32_t& kBps, double oneX) {
    if (text.empty() || text == "max") {
        kBps = -1;
        return true;
    }
    // Digits, an optional fraction, then nothing or x (a multiple of the disc's 1x, as burners
    // take a bare number) or kB or kB/s: nothing strtod would also take (nan, inf, hexadecimal,
    // exponents).
    size_t i = 0, digits = 0;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])))
        ++i, ++digits;
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])))
            ++i, ++digits;
    }
    if (digits == 0 || i > 12) return false;
    std::string unit = text.substr(i);
    for (char& c : unit)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const bool kilobytes = unit == "kb" || unit == "kb/s" || unit == "k";
    if (!kilobytes && !unit.empty() && unit != "x") return false;
    double value = std::strtod(text.c_str(), nullptr);
    if (!kilobytes) value *= oneX;
    if (!(value >= 1.0) || value > 2147483647.0) return false;
    kBps = static_cast<int32_t>(value + 0.5);
    return true;
}

} // namespace tvxcli
