// The volume plan of a tool request, as the burn of the same request builds it.
#include "volume_plan.h"

#include "commands.h"
#include "left_out.h"
#include "results.h"

#include <fnmatch.h>
#include <sys/stat.h>

namespace tvxcli {

// '*' never crosses a '/' in a pattern that holds one.
tvx::ScanExclude ExcludeMatcher(const std::vector<std::string>& patterns) {
    if (patterns.empty()) return {};
    return [patterns](std::string_view relative) {
        const std::string path(relative);
        const size_t slash = path.rfind('/');
        const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
        for (const std::string& p : patterns) {
            const bool whole = p.find('/') != std::string::npos;
            if (fnmatch(p.c_str(), whole ? path.c_str() : name.c_str(), whole ? FNM_PATHNAME : 0) ==
                0)
                return true;
        }
        return false;
    };
}

namespace {

bool IsFolder(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace

bool FillPlan(tvx::VolumePlan* plan, const BurnRequest& request, std::string& failed) {
    failed = request.path;
    switch (request.source) {
    case BurnSource::VideoTs:
        return tvx::Plan_AddVideoTsFolder(plan, request.path.c_str()) != 0;
    case BurnSource::DvdVideo:
        return tvx::Plan_AddDvdVideoFolder(plan, request.path.c_str()) != 0;
    case BurnSource::Data:
        return tvx::Plan_AddFolderContents(plan, request.path.c_str()) != 0;
    case BurnSource::Files:
    case BurnSource::Image:
        break;
    }
    for (const std::string& pair : request.pairs) {
        const size_t eq = pair.find('=');
        const std::string volume = pair.substr(0, eq), host = pair.substr(eq + 1);
        if (IsFolder(host)) {
            failed = host;
            std::vector<LeftOutEntry> leftOut;
            WalkSourceFolder(host, nullptr, leftOut);
            NameLeftOut(leftOut);
            if (!tvx::Plan_AddFolderAt(plan, volume.c_str(), host.c_str())) return false;
            continue;
        }
        // Named as the burn names it: a bad volume path by itself, anything else by its file.
        failed = tvx::Plan_IsFileSetPath(volume.c_str()) ? host : volume;
        if (!tvx::Plan_AddFileSetEntry(plan, volume.c_str(), host.c_str())) return false;
    }
    return true;
}

uint32_t PlannedSectors(const BurnRequest& request, const std::string& label) {
    constexpr uint64_t kSectorBytes = 2048;
    if (request.source == BurnSource::Image) {
        struct stat st {};
        if (::stat(request.path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return 0;
        return static_cast<uint32_t>((static_cast<uint64_t>(st.st_size) + kSectorBytes - 1) /
                                     kSectorBytes);
    }
    // A burn's file set takes files only: one with a folder fails before anything is written.
    for (const std::string& pair : request.pairs)
        if (IsFolder(pair.substr(pair.find('=') + 1))) return 0;
    PlanPtr plan(tvx::Plan_Create(label.empty() ? tvx::kDefaultVolumeLabel : label.c_str()));
    std::string failed;
    if (!plan || !FillPlan(plan.get(), request, failed) || !tvx::Plan_Layout(plan.get())) return 0;
    return tvx::Plan_VolumeSize(plan.get());
}

// As a burn reports TVX_ERR_SOURCE: the result, the source at fault and why.
int PlanSourceFailure(const Options& options, const char* what, const tvx::VolumePlan* plan,
                      const std::string& failed, const BurnRequest& request,
                      const SourceSizes& sizes, const std::string& outcome) {
    const TVX_Result result = TVX_ERR_SOURCE;
    const int rc = Fail(ExitCodeOf(result), "%s: %s (0x%08X)", what, TVX_ResultName(result),
                        static_cast<unsigned>(result));
    if (!plan->refusal.empty())
        std::fprintf(stderr, "  source: %s: %s\n", plan->refusal.path.c_str(),
                     plan->refusal.rule.c_str());
    else
        ReportNamedSource(failed, request, sizes);
    std::fprintf(stderr, "  %s\n", outcome.c_str());
    PrintJsonResult(options, what, &result, rc, nullptr, "");
    return rc;
}

} // namespace tvxcli
