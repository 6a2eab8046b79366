// make-image: the volume a burn writes, as an image file. The tool builds it with the library's
// own image builder and streams it through the builder's file sink: the same plan, layout and
// stream that a burn hands the drive, with no drive, no virtual disc and no copy in between.
#include "burn_run.h"
#include "commands.h"
#include "host_output.h"
#include "json.h"
#include "left_out.h"
#include "results.h"
#include "signals.h"
#include "source_reason.h"
#include "volume_plan.h"

#include "image/image_file_sink.h"
#include "image/plan.h"
#include "image/source_check.h"
#include "platform/host.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace tvxcli {

namespace {

constexpr uint64_t kSectorBytes = 2048;

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

} // namespace

namespace {

// make-image to output, or (intoFd >= 0) the volume of a burn into a file of the tool's own.
int BuildVolume(const Options& options, const BurnRequest& requested,
                const std::vector<std::string>& excludes, const std::string& output, int intoFd,
                const char* burnName) {
    const bool forBurn = intoFd >= 0;
    const char* what = forBurn ? burnName : "make-image";
    const bool toStdout = output == "-";
    const std::string outputName = forBurn    ? "the temporary image"
                                   : toStdout ? "standard output"
                                              : output;
    const std::string notWritten = forBurn ? "nothing was burned" : output + " was not written";
    const std::string incomplete =
        toStdout ? "the volume on standard output is incomplete" : notWritten;
    BurnRequest request = requested;
    Options checked = options;
    checked.testWrite = checked.verify = false;
    checked.speed.clear();
    TVX_BurnOptions burn{};
    if (int rc = PrepareBurn(checked, request, burn)) return rc;
    if (toStdout && !forBurn && ::isatty(STDOUT_FILENO))
        return Fail(kExitUsage, "standard output is a terminal; give -o FILE or redirect it");
    if (toStdout && !forBurn && options.json)
        return Fail(kExitUsage, "--json and -o - both want standard output");

    PlanPtr plan(
        tvx::Plan_Create(options.label.empty() ? tvx::kDefaultVolumeLabel : options.label.c_str()));
    if (!plan) return Fail(kExitFailed, "%s: out of memory", what);
    plan->exclude = ExcludeMatcher(excludes);
    SourceSizes sizes;
    sizes.take(request);
    NameLeftOut(sizes.leftOut());
    if (options.json) {
        std::vector<std::string> items;
        for (const LeftOutEntry& e : sizes.leftOut())
            items.push_back(JsonObject().add("path", e.path).add("kind", e.kind).str());
        AddJsonResultMember("leftOut", JsonArray(items));
    }
    std::string failed;
    if (!FillPlan(plan.get(), request, failed))
        return PlanSourceFailure(options, what, plan.get(), failed, request, sizes,
                                 toStdout || forBurn ? "nothing was written" : notWritten);
    // Every file opened once before anything is written, as a burn does.
    if (!tvx::Plan_CheckSources(plan.get(), &failed))
        return PlanSourceFailure(options, what, plan.get(), failed, request, sizes,
                                 toStdout || forBurn ? "nothing was written" : notWritten);
    if (!tvx::Plan_Layout(plan.get()))
        return Fail(kExitFailed,
                    "%s: the volume cannot be laid out (more than 65535 folders, "
                    "or beyond 2^32 sectors)",
                    what);
    const uint32_t sectors = tvx::Plan_VolumeSize(plan.get());
    if (options.json && !forBurn) {
        AddJsonResultMember("volumeSectors", std::to_string(sectors));
        AddJsonResultMember("volumeBytes", std::to_string(uint64_t{sectors} * kSectorBytes));
    }

    InstallStopHandlers();
    // A reader that closes the pipe ends make-image as it ends any other filter.
    if (toStdout) std::signal(SIGPIPE, SIG_DFL);
    SafeOutput file(output);
    std::string error;
    if (!toStdout && !forBurn && !file.open(error)) return Fail(kExitFailed, "%s", error.c_str());
    const int fd = forBurn ? intoFd : toStdout ? STDOUT_FILENO : ::fileno(file.file());
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
        return PlanSourceFailure(options, what, plan.get(), ChangedSource(plan.get()), request,
                                 sizes, incomplete);
    if (forBurn) return kExitOk;
    if (!toStdout && !file.commit(error)) return Fail(kExitFailed, "%s", error.c_str());
    if (!options.quiet && !options.json)
        std::fprintf(toStdout ? stderr : stdout,
                     "%s: %s holds the volume, %u sectors (%llu bytes)\n", what, outputName.c_str(),
                     sectors, static_cast<unsigned long long>(sectors) * kSectorBytes);
    TVX_Result ok = TVX_OK;
    PrintJsonResult(options, what, &ok, kExitOk, nullptr, "");
    return kExitOk;
}

} // namespace

int MakeImage(const Options& options, const BurnRequest& request,
              const std::vector<std::string>& excludes, const std::string& output) {
    return BuildVolume(options, request, excludes, output, -1, nullptr);
}

int WriteVolumeInto(const Options& options, const BurnRequest& request, int fd, const char* what) {
    return BuildVolume(options, request, {}, "", fd, what);
}

} // namespace tvxcli
