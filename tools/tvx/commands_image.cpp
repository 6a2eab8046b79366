// make-image: the volume a burn writes, as an image file. The tool builds it with the library's
// own image builder and streams it through the builder's file sink: the same plan, layout and
// stream that a burn hands the drive, with no drive, no virtual disc and no copy in between.
#include "burn_run.h"
#include "commands.h"
#include "host_output.h"
#include "left_out.h"
#include "results.h"
#include "signals.h"
#include "source_reason.h"

#include "image/image_file_sink.h"
#include "image/plan.h"
#include "image/source_check.h"
#include "platform/host.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fnmatch.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace tvxcli {

namespace {

constexpr uint64_t kSectorBytes = 2048;

struct PlanDeleter {
    void operator()(tvx::VolumePlan* plan) const { tvx::Plan_Free(plan); }
};
using PlanPtr = std::unique_ptr<tvx::VolumePlan, PlanDeleter>;

// The output as the sink sees it: an open descriptor this file does not own. A write fails once
// a stop was asked for, so that the stream ends at the next piece; errno of a failed write is
// kept for the message.
class OutputFile final : public tvx::HostFile {
  public:
    OutputFile(int fd, int& error) : fd_(fd), error_(error) {}
    uint32_t read(void*, uint32_t) override { return 0; }
    uint32_t write(const void* data, uint32_t count) override {
        const auto* in = static_cast<const uint8_t*>(data);
        uint32_t done = 0;
        while (done < count && !StopRequested()) {
            ssize_t n = ::write(fd_, in + done, count - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                error_ = n < 0 ? errno : ENOSPC;
                break;
            }
            done += static_cast<uint32_t>(n);
        }
        return done;
    }
    uint64_t size() override {
        struct stat st {};
        return ::fstat(fd_, &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
    }
    bool seek(uint64_t offset) override {
        if (::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) == static_cast<off_t>(offset))
            return true;
        error_ = errno;
        return false;
    }

  private:
    int fd_;
    int& error_;
};

// A pattern without '/' matches an entry's name at any depth; one with '/' matches the whole
// path relative to the source folder, '*' never crossing a '/'.
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

bool IsFolder(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Fills the plan as the burn of the same request does; folder pairs of a file set graft the
// folder's tree. Empty when it worked, else the source to name (for a refusal with a rule the
// plan's record says more).
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
            NameLeftOut(BurnRequest{BurnSource::Data, host, {}, {}});
            if (!tvx::Plan_AddFolderAt(plan, volume.c_str(), host.c_str())) return false;
            continue;
        }
        // Named as the burn names it: a bad volume path by itself, anything else by its file.
        failed = tvx::Plan_IsFileSetPath(volume.c_str()) ? host : volume;
        if (!tvx::Plan_AddFileSetEntry(plan, volume.c_str(), host.c_str())) return false;
    }
    return true;
}

// The host file of the first file run that no longer has its planned size, or "".
std::string ChangedSource(const tvx::VolumePlan* plan) {
    for (const tvx::WriteRun& run : plan->writeList) {
        if (run.kind != tvx::RunKind::File) continue;
        std::unique_ptr<tvx::HostFile> file =
            tvx::host().openFile(run.hostPath(), tvx::FileAccess::Read);
        if (!file || file->currentSize() != run.plannedSize()) return run.hostPath();
    }
    return "";
}

// As a burn reports TVX_ERR_SOURCE: the result, the source at fault and why.
int SourceFailure(const Options& options, const tvx::VolumePlan* plan, const std::string& failed,
                  const BurnRequest& request, const SourceSizes& sizes,
                  const std::string& outcome) {
    const TVX_Result result = TVX_ERR_SOURCE;
    const int rc = Fail(ExitCodeOf(result), "make-image: %s (0x%08X)", TVX_ResultName(result),
                        static_cast<unsigned>(result));
    if (!plan->refusal.empty())
        std::fprintf(stderr, "  source: %s: %s\n", plan->refusal.path.c_str(),
                     plan->refusal.rule.c_str());
    else
        ReportNamedSource(failed, request, sizes);
    std::fprintf(stderr, "  %s\n", outcome.c_str());
    PrintJsonResult(options, "make-image", &result, rc, nullptr, "");
    return rc;
}

} // namespace

int MakeImage(const Options& options, const BurnRequest& requested,
              const std::vector<std::string>& excludes, const std::string& output) {
    const char* what = "make-image";
    const bool toStdout = output == "-";
    const std::string outputName = toStdout ? "standard output" : output;
    const std::string notWritten = output + " was not written";
    const std::string incomplete =
        toStdout ? "the volume on standard output is incomplete" : notWritten;
    BurnRequest request = requested;
    Options checked = options;
    checked.testWrite = checked.verify = false;
    checked.speed.clear();
    TVX_BurnOptions burn{};
    if (int rc = PrepareBurn(checked, request, burn)) return rc;
    if (toStdout && ::isatty(STDOUT_FILENO))
        return Fail(kExitUsage, "standard output is a terminal; give -o FILE or redirect it");
    if (toStdout && options.json)
        return Fail(kExitUsage, "--json and -o - both want standard output");

    PlanPtr plan(
        tvx::Plan_Create(options.label.empty() ? tvx::kDefaultVolumeLabel : options.label.c_str()));
    if (!plan) return Fail(kExitFailed, "%s: out of memory", what);
    plan->exclude = ExcludeMatcher(excludes);
    SourceSizes sizes;
    sizes.take(request);
    NameLeftOut(request);
    std::string failed;
    if (!FillPlan(plan.get(), request, failed))
        return SourceFailure(options, plan.get(), failed, request, sizes,
                             toStdout ? "nothing was written" : notWritten);
    // Every file opened once before anything is written, as a burn does.
    if (!tvx::Plan_CheckSources(plan.get(), &failed))
        return SourceFailure(options, plan.get(), failed, request, sizes,
                             toStdout ? "nothing was written" : notWritten);
    if (!tvx::Plan_Layout(plan.get()))
        return Fail(kExitFailed,
                    "%s: the volume cannot be laid out (more than 65535 folders, "
                    "or beyond 2^32 sectors)",
                    what);
    const uint32_t sectors = tvx::Plan_VolumeSize(plan.get());

    InstallStopHandlers();
    // A reader that closes the pipe ends make-image as it ends any other filter.
    if (toStdout) std::signal(SIGPIPE, SIG_DFL);
    SafeOutput file(output);
    std::string error;
    if (!toStdout && !file.open(error)) return Fail(kExitFailed, "%s", error.c_str());
    const int fd = toStdout ? STDOUT_FILENO : ::fileno(file.file());
    // A regular file may stay sparse where the volume is empty; a pipe gets every byte.
    struct stat st {};
    const bool sparse = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    int writeError = 0;
    auto out = std::make_unique<OutputFile>(fd, writeError);
    bool streamed;
    {
        tvx::ImageFileSink sink(std::move(out), sparse);
        streamed = tvx::Plan_Stream(plan.get(), sink) && sink.finish();
    }
    if (!streamed && StopRequested())
        return Fail(kExitCancelled, "stopped by %s; %s", StopSignalName(), incomplete.c_str());
    if (!streamed && writeError)
        return Fail(kExitFailed, "writing %s failed: %s; %s", outputName.c_str(),
                    std::strerror(writeError), incomplete.c_str());
    if (!streamed)
        return SourceFailure(options, plan.get(), ChangedSource(plan.get()), request, sizes,
                             incomplete);
    if (!toStdout && !file.commit(error)) return Fail(kExitFailed, "%s", error.c_str());
    if (!options.quiet && !options.json)
        std::fprintf(toStdout ? stderr : stdout,
                     "%s: %s holds the volume, %u sectors (%llu bytes)\n", what, outputName.c_str(),
                     sectors, static_cast<unsigned long long>(sectors) * kSectorBytes);
    TVX_Result ok = TVX_OK;
    PrintJsonResult(options, what, &ok, kExitOk, nullptr, "");
    return kExitOk;
}

} // namespace tvxcli
