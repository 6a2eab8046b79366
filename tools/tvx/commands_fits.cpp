// check: whether the volume of a folder or a file set fits the disc in the drive. The volume is
// planned and laid out by the library's own image builder exactly as the burn of the same
// request plans it, so its size is the burn's to the sector; nothing is read or written.
#include "burn_run.h"
#include "commands.h"
#include "json.h"
#include "results.h"
#include "session.h"
#include "volume_plan.h"

#include <cstdio>
#include <sys/stat.h>

namespace tvxcli {

namespace {

constexpr uint64_t kSectorBytes = 2048;

const char* SourceName(BurnSource source) {
    switch (source) {
    case BurnSource::VideoTs:
        return "video-ts";
    case BurnSource::DvdVideo:
        return "dvd-video";
    case BurnSource::Files:
        return "files";
    default:
        return "data";
    }
}

std::string Bytes(uint64_t sectors) {
    char text[32];
    double bytes = static_cast<double>(sectors * kSectorBytes);
    if (bytes >= 1024.0 * 1024 * 1024)
        std::snprintf(text, sizeof text, "%.2f GiB", bytes / (1024.0 * 1024 * 1024));
    else
        std::snprintf(text, sizeof text, "%.1f MiB", bytes / (1024.0 * 1024));
    return text;
}

} // namespace

int CheckFits(const Options& options, const BurnRequest& requested) {
    BurnRequest request = requested;
    Options prepare = options;
    prepare.speed.clear();
    prepare.testWrite = prepare.verify = false;
    TVX_BurnOptions ignored{};
    if (int rc = PrepareBurn(prepare, request, ignored)) return rc;
    // A file set's burn takes files only (make-image alone grafts folders).
    for (const std::string& pair : request.pairs) {
        const std::string host = pair.substr(pair.find('=') + 1);
        struct stat st {};
        if (::stat(host.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            return Fail(kExitFailed, "%s: a folder; a file set's entries are files", host.c_str());
    }

    PlanPtr plan(
        tvx::Plan_Create(options.label.empty() ? tvx::kDefaultVolumeLabel : options.label.c_str()));
    if (!plan) return Fail(kExitFailed, "check: out of memory");
    SourceSizes sizes;
    sizes.take(request);
    std::string failed;
    if (!FillPlan(plan.get(), request, failed))
        return PlanSourceFailure(options, "check", plan.get(), failed, request, sizes,
                                 "nothing was checked against the disc");
    if (!tvx::Plan_Layout(plan.get()))
        return Fail(kExitFailed, "check: the volume cannot be laid out (more than 65535 folders, "
                                 "or beyond 2^32 sectors)");
    const uint32_t size = tvx::Plan_VolumeSize(plan.get());

    Session session;
    if (int rc = session.open(options)) return rc;
    TVX_DiscInfo disc{};
    if (TVX_Result r = TVX_GetDiscInfo(session.handle(), &disc); r != TVX_OK)
        return ReportFailure("check", r, session.handle(), options.verbose);
    // Media written over in place offer their whole capacity however much they hold.
    uint32_t space = disc.freeBlocks;
    if (!space && (disc.mediaType & (MediaDvdPlusRw | MediaDvdRam | MediaDvdRw)))
        space = disc.capacityBlocks;
    const bool fits = size <= space;
    const TVX_Result r = fits ? TVX_OK : TVX_ERR_NO_SPACE;
    const char* verdict = fits ? "fits" : "does not fit";

    if (options.json) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "0x%08X", static_cast<unsigned>(r));
        JsonObject doc;
        doc.add("source", SourceName(request.source));
        if (request.source != BurnSource::Files) doc.add("path", request.path);
        doc.add("result", TVX_ResultName(r))
            .add("code", static_cast<int64_t>(static_cast<uint32_t>(r)))
            .add("codeText", hex)
            .add("volumeSectors", int64_t{size})
            .add("discSectors", int64_t{space})
            .add("fits", fits)
            .add("verdict", verdict);
        std::printf("%s\n", doc.str().c_str());
    } else {
        std::printf("volume: %u sectors (%s), disc: %u sectors (%s): %s\n", size,
                    Bytes(size).c_str(), space, Bytes(space).c_str(), verdict);
    }
    if (fits) return kExitOk;
    return Fail(ExitCodeOf(r),
                "check: %s (0x%08X): the volume needs %u sectors more than the "
                "disc offers",
                TVX_ResultName(r), static_cast<unsigned>(r), size - space);
}

} // namespace tvxcli
