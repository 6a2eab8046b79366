#include "results.h"

namespace tvxcli {

const char* ResultName(TVX_Result result) {
    switch (result) {
    case TVX_OK: return "TVX_OK";
    case TVX_ERR_NOT_READY: return "TVX_ERR_NOT_READY";
    case TVX_ERR_DISC_NOT_WRITABLE: return "TVX_ERR_DISC_NOT_WRITABLE";
    case TVX_ERR_NO_SPACE: return "TVX_ERR_NO_SPACE";
    case TVX_ERR_NO_DRIVE: return "TVX_ERR_NO_DRIVE";
    case TVX_ERR_SOURCE: return "TVX_ERR_SOURCE";
    case TVX_ERR_DISC_KIND: return "TVX_ERR_DISC_KIND";
    case TVX_ERR_COMMAND: return "TVX_ERR_COMMAND";
    case TVX_ERR_INVALID_ARG: return "TVX_ERR_INVALID_ARG";
    case TVX_ERR_CANCELLED: return "TVX_ERR_CANCELLED";
    case TVX_ERR_MODE: return "TVX_ERR_MODE";
    case TVX_ERR_VERIFY: return "TVX_ERR_VERIFY";
    default: return "unknown result";
    }
}

std::string MediaNames(uint32_t mask) {
    static const struct {
        uint32_t bit;
        const char* name;
    } kNames[] = {{MediaCdRom, "CD-ROM"},   {MediaCdR, "CD-R"},
                  {MediaCdRw, "CD-RW"},     {MediaDvdRom, "DVD-ROM"},
                  {MediaDvdR, "DVD-R"},     {MediaDvdRw, "DVD-RW"},
                  {MediaDvdRam, "DVD-RAM"}, {MediaDvdPlusR, "DVD+R"},
                  {MediaDvdPlusRw, "DVD+RW"}, {MediaDvdPlusRDualLayer, "DVD+R DL"},
                  {MediaDvdRDualLayer, "DVD-R DL"}, {MediaBdRom, "BD-ROM"},
                  {MediaBdR, "BD-R"},       {MediaBdRe, "BD-RE"}};
    std::string out;
    for (const auto& n : kNames) {
        if (!(mask & n.bit)) continue;
        if (!out.empty()) out += ", ";
        out += n.name;
    }
    return out.empty() ? "none" : out;
}

const char* BusName(uint32_t busKind) {
    switch (busKind) {
    case 1: return "ATAPI";
    case 2: return "SCSI";
    case 3: return "IEEE 1394";
    case 4: return "USB";
    default: return "other";
    }
}

void PrintLastError(FILE* out, TVX_RecHandle handle) {
    TVX_LastError e;
    if (!handle || TVX_GetLastError(handle, &e) != TVX_OK || e.location == 0) return;
    std::fprintf(out, "  drive error at step %d: sense key %X, ASC/ASCQ %02X/%02X: %s (%s)\n",
                 e.location, e.senseKey, e.asc, e.ascq, e.description ? e.description : "",
                 e.category ? e.category : "");
    std::fprintf(out, "  command:");
    for (int i = 0; i < e.cdbLength && i < 16; ++i) std::fprintf(out, " %02X", e.cdb[i]);
    std::fprintf(out, "\n");
}

int ReportFailure(const char* what, TVX_Result result, TVX_RecHandle handle) {
    std::fprintf(stderr, "error: %s: %s (0x%08X)\n", what, ResultName(result),
                 static_cast<unsigned>(result));
    if (result == TVX_ERR_COMMAND || result == TVX_ERR_VERIFY) PrintLastError(stderr, handle);
    if (result == TVX_ERR_CANCELLED) return kExitCancelled;
    if (result == TVX_ERR_VERIFY) return kExitVerify;
    return kExitFailed;
}

} // namespace tvxcli
