#include "results.h"

#include <cstdarg>

namespace tvxcli {

namespace {

std::string lastFailure;

const struct {
    uint32_t bit;
    const char* name;
} kMediaNames[] = {{MediaCdRom, "CD-ROM"},
                   {MediaCdR, "CD-R"},
                   {MediaCdRw, "CD-RW"},
                   {MediaDvdRom, "DVD-ROM"},
                   {MediaDvdR, "DVD-R"},
                   {MediaDvdRw, "DVD-RW"},
                   {MediaDvdRam, "DVD-RAM"},
                   {MediaDvdPlusR, "DVD+R"},
                   {MediaDvdPlusRw, "DVD+RW"},
                   {MediaDvdPlusRDualLayer, "DVD+R DL"},
                   {MediaDvdRDualLayer, "DVD-R DL"},
                   {MediaBdRom, "BD-ROM"},
                   {MediaBdR, "BD-R"},
                   {MediaBdRe, "BD-RE"}};

} // namespace

std::string MediaNames(uint32_t mask) {
    std::string out;
    for (const auto& n : kMediaNames) {
        if (!(mask & n.bit)) continue;
        if (!out.empty()) out += ", ";
        out += n.name;
    }
    return out.empty() ? "none" : out;
}

std::string MediaName(uint32_t mediaType) {
    for (const auto& n : kMediaNames)
        if (mediaType & n.bit) return n.name;
    return "unknown disc";
}

const char* BusName(uint32_t busKind) {
    switch (busKind) {
    case 1:
        return "ATAPI";
    case 2:
        return "SCSI";
    case 3:
        return "IEEE 1394";
    case 4:
        return "USB";
    default:
        return "other";
    }
}

int Fail(int code, const char* format, ...) {
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    lastFailure = text;
    std::fprintf(stderr, "error: %s\n", text);
    return code;
}

const std::string& LastFailure() {
    return lastFailure;
}

void PrintLastError(FILE* out, TVX_RecHandle handle, bool verbose) {
    TVX_LastError e;
    if (!handle || TVX_GetLastError(handle, &e) != TVX_OK || e.location == 0) return;
    // A source that failed is no drive error: the record names the host path, which the
    // commands report with the reason.
    if (e.location == kSourceFailureLocation) return;
    if (e.location == kVerifyDifferentLocation) {
        std::fprintf(out, "  read back: %s\n", e.description ? e.description : "");
        return;
    }
    std::fprintf(out, "  drive error at step %d: sense key %X, ASC/ASCQ %02X/%02X: %s (%s)\n",
                 e.location, e.senseKey, e.asc, e.ascq, e.description ? e.description : "",
                 e.category ? e.category : "");
    std::fprintf(out, "  command:");
    for (int i = 0; i < e.cdbLength && i < 16; ++i)
        std::fprintf(out, " %02X", e.cdb[i]);
    std::fprintf(out, "\n");
    if (!verbose) return;
    std::fprintf(out, "  status %02X, sense:", e.status);
    for (int i = 0; i < e.senseLength && i < 32; ++i)
        std::fprintf(out, " %02X", e.sense[i]);
    std::fprintf(out, "\n");
}

int ExitCodeOf(TVX_Result result) {
    switch (result) {
    case TVX_OK:
        return kExitOk;
    case TVX_ERR_CANCELLED:
        return kExitCancelled;
    case TVX_ERR_VERIFY:
        return kExitVerify;
    case TVX_ERR_NO_DRIVE:
        return kExitNoDrive;
    default:
        return kExitFailed;
    }
}

int ReportFailure(const char* what, TVX_Result result, TVX_RecHandle handle, bool verbose) {
    Fail(ExitCodeOf(result), "%s: %s (0x%08X)", what, TVX_ResultName(result),
         static_cast<unsigned>(result));
    if (verbose || result == TVX_ERR_COMMAND || result == TVX_ERR_VERIFY)
        PrintLastError(stderr, handle, verbose);
    return ExitCodeOf(result);
}

} // namespace tvxcli
