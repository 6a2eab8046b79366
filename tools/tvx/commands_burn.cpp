// Burning folders, file sets and images, the size check, and erasing.
#include "burn_report.h"
#include "burn_run.h"
#include "commands.h"
#include "disc_after.h"
#include "json.h"
#include "left_out.h"
#include "progress.h"
#include "refusal_words.h"
#include "results.h"
#include "signals.h"
#include "source_reason.h"
#include "volume_plan.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <unistd.h>

namespace tvxcli {

namespace {

bool resultPrinted = false;
std::vector<std::pair<std::string, std::string>> extraMembers;

// The space the request's volume needs, for the words of TVX_ERR_NO_SPACE: exact for an image
// and a VIDEO_TS folder (the library's own size check), else what the files alone take.
NeededSpace NeededFor(TVX_RecHandle handle, const BurnRequest& request) {
    switch (request.source) {
    case BurnSource::Image:
        return FilesSpace(request.path, true);
    case BurnSource::VideoTs: {
        uint32_t sectors = 0;
        TVX_CheckVideoTsFolderSize(handle, request.path.c_str(), &sectors, nullptr);
        if (sectors) return NeededSpace{sectors, true};
        return FilesSpace(request.path, false);
    }
    case BurnSource::Files: {
        NeededSpace total;
        for (const auto& pair : request.pairs) {
            size_t eq = pair.find('=');
            if (eq != std::string::npos)
                total.sectors += FilesSpace(pair.substr(eq + 1), false).sectors;
        }
        return total;
    }
    default:
        return FilesSpace(request.path, false);
    }
}

bool splitPair(const std::string& text, std::string& volume, std::string& hostPath) {
    size_t eq = text.find('=');
    if (eq == std::string::npos || eq == 0 || eq + 1 == text.size()) return false;
    volume = text.substr(0, eq);
    hostPath = text.substr(eq + 1);
    return true;
}

const char* CommandName(BurnSource source) {
    switch (source) {
    case BurnSource::VideoTs:
        return "burn VIDEO_TS folder";
    case BurnSource::DvdVideo:
        return "burn DVD-Video folder";
    case BurnSource::Data:
        return "burn data folder";
    case BurnSource::Files:
        return "burn file set";
    case BurnSource::Image:
        return "burn image";
    }
    return "burn";
}

// A speed the drive does not offer for the disc in it is lowered to the fastest it offers below
// it, with a note, as burners do: the person wanted the disc written, not refused. Drives round
// their speeds (8x as 11082 kB/s), so one within 1% counts as the speed asked for. A speed
// below all offered ones is left to the drive.
void FitSpeed(const Options& options, TVX_RecHandle handle, int32_t& kBps, double oneX) {
    if (kBps <= 0) return;
    uint32_t speeds[32] = {};
    if (TVX_GetWriteSpeedCaps(handle, speeds, sizeof speeds) != TVX_OK || speeds[0] == 0) return;
    const double asked = kBps;
    uint32_t chosen = 0;
    for (uint32_t s : speeds)
        if (s > chosen && s <= asked * 1.01) chosen = s;
    if (chosen == 0 || chosen >= asked * 0.99) return;
    if (!options.quiet)
        std::fprintf(stderr,
                     "note: speed %s (%d kB/s) is %s for this disc; writing at %.1fx (%u kB/s)\n",
                     options.speed.c_str(), kBps,
                     chosen == *std::max_element(speeds, speeds + 32) ? "beyond the drive's fastest"
                                                                      : "not one the drive offers",
                     chosen / oneX, chosen);
    kBps = static_cast<int32_t>(chosen);
}

// With -v, the speed asked of the drive, so a person sees how a speed was read.
void ShowSpeed(const Options& options, int32_t kBps, double oneX) {
    if (!options.verbose || options.quiet) return;
    if (kBps <= 0)
        std::fprintf(stderr, "speed: the drive's fastest\n");
    else
        std::fprintf(stderr, "speed: %.1fx (%d kB/s)\n", kBps / oneX, kBps);
}

// The volume of a burn as an unnamed file in the temporary folder, gone when the tool ends.
class ReproducibleImage {
  public:
    ~ReproducibleImage() {
        if (fd_ >= 0) ::close(fd_);
    }
    int build(const Options& options, const BurnRequest& request, const char* what) {
        const char* tmp = std::getenv("TMPDIR");
        const std::string folder = tmp && *tmp ? tmp : "/tmp";
        fd_ = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
        if (fd_ < 0)
            return Fail(kExitFailed, "%s: no unnamed file can be made in %s: %s", what,
                        folder.c_str(), std::strerror(errno));
        if (!options.quiet && !options.json)
            std::fprintf(stderr,
                         "note: SOURCE_DATE_EPOCH is set: the volume is built in %s first (as "
                         "large as the volume), then burned\n",
                         folder.c_str());
        return WriteVolumeInto(options, request, fd_, what);
    }
    std::string path() const { return "/proc/self/fd/" + std::to_string(fd_); }

  private:
    int fd_ = -1;
};

} // namespace

int PrepareBurn(const Options& options, BurnRequest& request, TVX_BurnOptions& burn) {
    if (options.testWrite && options.verify)
        return Fail(kExitUsage, "--test and --verify exclude each other");
    if (!ParseSpeed(options.speed, burn.writeSpeed))
        return Fail(kExitUsage,
                    "bad speed '%s' (use a speed such as 8, 8x or 2.4x, a value in kB/s such as "
                    "11080kB, or max)",
                    options.speed.c_str());
    burn.mode = options.testWrite ? TVX_MODE_TEST_WRITE
                : options.verify  ? TVX_MODE_WRITE_VERIFY
                                  : TVX_MODE_WRITE;
    if (request.source != BurnSource::Files) return kExitOk;
    if (!request.listFile.empty()) {
        std::ifstream in(request.listFile);
        if (!in) return Fail(kExitUsage, "cannot read the list %s", request.listFile.c_str());
        for (std::string line; std::getline(in, line);) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (!line.empty() && line[0] != '#') request.pairs.push_back(line);
        }
    }
    std::string volume, host;
    for (const auto& pair : request.pairs)
        if (!splitPair(pair, volume, host))
            return Fail(kExitUsage, "'%s' is not VOLUME_PATH=HOST_PATH", pair.c_str());
    if (request.pairs.empty()) return Fail(kExitUsage, "the file set is empty");
    return kExitOk;
}

TVX_Result RunBurn(const Options& options, TVX_RecHandle handle, const BurnRequest& request,
                   const TVX_BurnOptions& burn, uint32_t mediaType) {
    const char* label = options.label.empty() ? nullptr : options.label.c_str();
    const char* path = request.path.c_str();
    StartProgress(options);
    // Progress counts against the volume's own size. The library's total is that size except on
    // dash media, where it may be padded to the smallest track: only there is the volume
    // planned here, a second scan of the source; elsewhere the first write event tells.
    constexpr uint32_t kPaddedMedia = MediaDvdR | MediaDvdRw | MediaDvdRDualLayer;
    if (request.source == BurnSource::Image || (mediaType & kPaddedMedia))
        SetVolumeSize(PlannedSectors(request, options.label));
    InstallStopHandlers();
    switch (request.source) {
    case BurnSource::VideoTs:
        return TVX_BurnVideoTsFolder(handle, &burn, path, label, ProgressCallback, 0);
    case BurnSource::DvdVideo:
        return TVX_BurnDVDVIDEO(handle, &burn, path, label, ProgressCallback, 0);
    case BurnSource::Data:
        return TVX_BurnVolumeData(handle, &burn, path, label, ProgressCallback, 0);
    case BurnSource::Image:
        return TVX_BurnVolumeImage(handle, &burn, path, ProgressCallback, 0);
    case BurnSource::Files:
        break;
    }
    std::vector<std::string> volume(request.pairs.size()), host(request.pairs.size());
    std::vector<TVX_FileSetEntry> entries(request.pairs.size());
    for (size_t i = 0; i < request.pairs.size(); ++i) {
        splitPair(request.pairs[i], volume[i], host[i]);
        entries[i] = {volume[i].c_str(), host[i].c_str()};
    }
    return TVX_BurnFileSet(handle, &burn, entries.data(), static_cast<int32_t>(entries.size()),
                           label, ProgressCallback, 0);
}

int ReportBurn(const Options& options, const char* what, TVX_Result result, TVX_RecHandle handle,
               const BurnRequest& request, const BurnBefore& before) {
    EndProgress(result == TVX_OK);
    if (result == TVX_OK) {
        if (!options.quiet && !options.json)
            std::printf("%s: done%s\n", what,
                        options.testWrite ? " (test write: nothing was recorded)"
                        : options.verify  ? ", verified"
                                          : "");
        PrintJsonResult(options, what, &result, kExitOk, handle, "");
        return kExitOk;
    }
    const bool readBack = ReadBackFailed(result, handle, Facts());
    int rc = ReportFailure(what, result, handle, options.verbose);
    // Writing or closing that failed is told as such whether or not a read-back was to follow.
    if (result == TVX_ERR_VERIFY && !readBack) {
        std::fprintf(stderr, "  the burn failed before the read-back\n");
        rc = kExitFailed;
    }
    if (result == TVX_ERR_CANCELLED && StopRequested())
        std::fprintf(stderr, "  stopped by %s\n", StopSignalName());
    std::string refusal =
        ExplainRefusal(result, before.disc, options.testWrite, NeededFor(handle, request));
    if (!refusal.empty()) std::fprintf(stderr, "  %s\n", refusal.c_str());
    ReportSource(result, handle, request, before.sizes);
    TVX_LastError finish{};
    const bool volumeWhole = TVX_GetLastError(handle, &finish) == TVX_OK &&
                             VolumeWholeRecord(before.disc.mediaType, finish);
    // What the disc holds now is the drive's word, read after the job; nothing is asked when
    // nothing was written.
    DiscAfterJob after;
    if (Facts().trackBegun && !options.testWrite && !volumeWhole) after = ReadDiscAfterJob(handle);
    after.structuresCleared = finish.location != kIncompleteWipeLocation;
    // A formatted DVD-RW (restricted overwrite) is the one DVD-RW a burn takes that is not blank.
    const TVX_DiscInfo& was = before.disc;
    const bool inPlace = (was.mediaType & (MediaDvdPlusRw | MediaDvdRam)) ||
                         ((was.mediaType & MediaDvdRw) && !was.blank);
    std::string state = DescribeDiscAfter(result, was.mediaType, inPlace, Facts(),
                                          options.testWrite, volumeWhole, readBack, after);
    if (!state.empty()) std::fprintf(stderr, "  disc: %s\n", state.c_str());
    PrintJsonResult(options, what, &result, rc, handle, state);
    return rc;
}

int Burn(const Options& options, const BurnRequest& requested) {
    BurnRequest request = requested;
    TVX_BurnOptions burn{};
    if (int rc = PrepareBurn(options, request, burn)) return rc;
    Session session;
    if (int rc = session.open(options)) return rc;
    TVX_RecHandle h = session.handle();
    BurnBefore before;
    TVX_GetDiscInfo(h, &before.disc);
    // A speed in x is a multiple of the disc's own 1x (CD, DVD or BD).
    const double oneX = OneX(before.disc.mediaType);
    ParseSpeed(options.speed, burn.writeSpeed, oneX);
    FitSpeed(options, h, burn.writeSpeed, oneX);
    ShowSpeed(options, burn.writeSpeed, oneX);
    const char* what = CommandName(request.source);
    // The library takes no time from its caller: a volume with the times SOURCE_DATE_EPOCH
    // gives is built here, as make-image builds it, and burned as an image.
    ReproducibleImage built;
    if (options.sourceDate && request.source != BurnSource::Image) {
        if (int rc = built.build(options, request, what)) return rc;
        request = BurnRequest{BurnSource::Image, built.path(), {}, {}};
    }
    before.sizes.takeAlongside(request);
    NameLeftOut(before.sizes.leftOut());
    TVX_Result r = RunBurn(options, h, request, burn, before.disc.mediaType);
    return ReportBurn(options, what, r, h, request, before);
}

int CheckVideoTs(const Options& options, const std::string& folder) {
    Session session;
    if (int rc = session.open(options)) return rc;
    uint32_t size = 0, free = 0;
    TVX_Result r = TVX_CheckVideoTsFolderSize(session.handle(), folder.c_str(), &size, &free);
    bool measured = r == TVX_OK || r == TVX_ERR_NO_SPACE;
    if (options.json) {
        JsonObject doc;
        char hex[16];
        std::snprintf(hex, sizeof hex, "0x%08X", static_cast<unsigned>(r));
        doc.add("folder", folder).add("result", TVX_ResultName(r));
        doc.add("code", static_cast<int64_t>(static_cast<uint32_t>(r))).add("codeText", hex);
        if (measured)
            doc.add("volumeSectors", int64_t{size})
                .add("freeSectors", int64_t{free})
                .add("fits", r == TVX_OK);
        doc.addRaw("lastError", r == TVX_OK ? "null" : JsonLastError(session.handle()));
        std::printf("%s\n", doc.str().c_str());
    } else if (measured) {
        std::printf("volume: %u sectors, disc: %u free sectors: %s\n", size, free,
                    r == TVX_OK ? "fits" : "does not fit");
    }
    if (r == TVX_OK) return kExitOk;
    if (r == TVX_ERR_SOURCE) {
        BurnRequest request{BurnSource::VideoTs, folder, {}, {}};
        int rc = ReportFailure("check", r, session.handle(), options.verbose);
        ReportSource(r, session.handle(), request, SourceSizes());
        return rc;
    }
    return ReportFailure("check", r, session.handle(), options.verbose);
}

namespace {

// Why the disc cannot be erased, in words.
std::string EraseRefusal(TVX_RecHandle handle) {
    TVX_DiscInfo disc{};
    if (TVX_GetDiscInfo(handle, &disc) != TVX_OK) return "";
    std::string kind = MediaName(disc.mediaType);
    if (disc.mediaType & (MediaDvdRw | MediaDvdPlusRw)) {
        if (disc.blank) return "the disc is a blank " + kind + ": there is nothing to erase";
        return "the " + kind + " does not report itself erasable";
    }
    return "the disc is a " + kind + ", which cannot be erased (only DVD-RW and DVD+RW can)";
}

} // namespace

int Erase(const Options& options) {
    Session session;
    if (int rc = session.open(options)) return rc;
    StartProgress(options);
    InstallStopHandlers();
    TVX_Result r = TVX_EraseDisc(session.handle(), options.full ? 0 : 1, ProgressCallback, 0);
    // A stop asked for is told as one even when the drive had already finished: the person
    // who stopped it then erases again rather than trusting a disc they gave up on.
    if (r == TVX_OK && StopRequested()) r = TVX_ERR_CANCELLED;
    EndProgress(r == TVX_OK);
    if (r == TVX_OK) {
        if (!options.quiet && !options.json) std::printf("erase: done\n");
        PrintJsonResult(options, "erase", &r, kExitOk, session.handle(), "");
        return kExitOk;
    }
    int rc = ReportFailure("erase", r, session.handle(), options.verbose);
    std::string state;
    if (r == TVX_ERR_DISC_KIND) {
        std::string why = EraseRefusal(session.handle());
        if (!why.empty()) std::fprintf(stderr, "  %s\n", why.c_str());
        state = "nothing was erased, the disc is unchanged";
    } else if (r == TVX_ERR_CANCELLED) {
        std::fprintf(stderr, "  stopped by %s\n", StopSignalName());
        state = "the erase was stopped: the drive may finish blanking on its own, or leave the "
                "disc partly erased; erase it again before burning";
    } else if (!Facts().erasing) {
        // Refused before the drive was asked to erase: the disc holds what it held.
        state = "nothing was erased, the disc is unchanged";
    } else {
        state = "the erase failed: the disc may be partly erased; erase it again before burning";
    }
    std::fprintf(stderr, "  disc: %s\n", state.c_str());
    PrintJsonResult(options, "erase", &r, rc, session.handle(), state);
    return rc;
}

void PrintJsonResult(const Options& options, const char* command, const TVX_Result* result,
                     int exitCode, TVX_RecHandle handle, const std::string& discState) {
    if (!options.json || resultPrinted) return;
    resultPrinted = true;
    JsonObject object;
    object.add("event", "result").add("command", command);
    object.add("result", result ? TVX_ResultName(*result) : nullptr);
    if (result) {
        object.add("code", static_cast<int64_t>(static_cast<uint32_t>(*result)));
        char hex[16];
        std::snprintf(hex, sizeof hex, "0x%08X", static_cast<unsigned>(*result));
        object.add("codeText", hex);
    } else {
        object.addRaw("code", "null").addRaw("codeText", "null");
    }
    object.add("exitCode", int64_t{exitCode});
    object.add("stoppedBy", StopRequested() ? StopSignalName() : nullptr);
    object.add("message", exitCode == kExitOk ? "" : LastFailure());
    object.add("discState", discState);
    const JobFacts& facts = Facts();
    if (facts.trackBlocks) object.add("volumeSectors", int64_t{facts.trackBlocks});
    for (const auto& [key, json] : extraMembers)
        object.addRaw(key.c_str(), json);
    object.addRaw("lastError",
                  result && *result != TVX_OK && handle ? JsonLastError(handle) : "null");
    std::printf("%s\n", object.str().c_str());
    std::fflush(stdout);
}

bool JsonResultPrinted() {
    return resultPrinted;
}

void AddJsonResultMember(const std::string& key, const std::string& json) {
    extraMembers.emplace_back(key, json);
}

} // namespace tvxcli
