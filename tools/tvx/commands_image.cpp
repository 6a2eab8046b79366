// make-image: the volume a burn writes, as an image file. The volume is burned through the
// public interface onto a virtual DVD+R of ample capacity (a sparse file in a temporary folder
// beside the output) and the volume's sectors are copied out, so an image and a burned disc
// come from the same code.
#include "burn_report.h"
#include "burn_run.h"
#include "commands.h"
#include "host_output.h"
#include "progress.h"
#include "results.h"
#include "signals.h"
#include "source_reason.h"
#include "virtual_drives.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

namespace tvxcli {

namespace {

namespace fs = std::filesystem;

// Blocks of the virtual disc: far beyond any volume; the image file stays sparse.
constexpr uint32_t kScratchBlocks = 0x7FFFFFFF;
constexpr uint64_t kSectorBytes = 2048;

class ScratchFolder {
  public:
    ~ScratchFolder() {
        std::error_code ec;
        if (!path_.empty()) fs::remove_all(path_, ec);
    }
    bool create(const std::string& output, std::string& error) {
        fs::path target(output);
        fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
        std::string pattern =
            (folder / ("." + target.filename().string() + ".disc-XXXXXX")).string();
        if (!::mkdtemp(pattern.data())) {
            error = "cannot make a temporary folder in " + folder.string() + ": " +
                    std::strerror(errno);
            return false;
        }
        path_ = pattern;
        return true;
    }
    std::string path() const { return path_; }

  private:
    std::string path_;
};

// Copies the first sectors of the scratch disc to output; a disc file shorter than the volume
// (never written at its end) reads as zeros there.
int CopyVolume(const std::string& disc, uint32_t sectors, const std::string& output) {
    std::ifstream in(disc, std::ios::binary);
    if (!in) return Fail(kExitFailed, "cannot read the burned volume in %s", disc.c_str());
    SafeOutput out(output);
    std::string error;
    if (!out.open(error)) return Fail(kExitFailed, "%s", error.c_str());
    std::vector<char> buffer(1 << 20);
    uint64_t left = uint64_t{sectors} * kSectorBytes;
    while (left > 0) {
        if (StopRequested())
            return Fail(kExitCancelled, "stopped by %s; %s was not written", StopSignalName(),
                        output.c_str());
        size_t n = static_cast<size_t>(std::min<uint64_t>(buffer.size(), left));
        in.read(buffer.data(), static_cast<std::streamsize>(n));
        size_t got = static_cast<size_t>(in.gcount());
        std::memset(buffer.data() + got, 0, n - got);
        if (std::fwrite(buffer.data(), 1, n, out.file()) != n)
            return Fail(kExitFailed, "writing %s failed: %s", output.c_str(), std::strerror(errno));
        left -= n;
    }
    if (!out.commit(error)) return Fail(kExitFailed, "%s", error.c_str());
    return kExitOk;
}

} // namespace

int MakeImage(const Options& options, const BurnRequest& requested, const std::string& output) {
    const char* what = "make-image";
    BurnRequest request = requested;
    Options burnOptions = options;
    burnOptions.testWrite = burnOptions.verify = false;
    burnOptions.speed.clear();
    TVX_BurnOptions burn{};
    if (int rc = PrepareBurn(burnOptions, request, burn)) return rc;
    if (fs::is_directory(output)) return Fail(kExitUsage, "%s is a folder", output.c_str());

    ScratchFolder scratch;
    std::string error;
    if (!scratch.create(output, error)) return Fail(kExitFailed, "%s", error.c_str());
    std::string disc = (fs::path(scratch.path()) / "volume.img").string();
    VirtualDriveSpec drive;
    drive.image = disc;
    drive.kind = "dvd+r";
    drive.capacity = kScratchBlocks;
    if (!ConfigureVirtualDrives({drive}, {}, error)) return Fail(kExitFailed, "%s", error.c_str());
    burnOptions.virtualImages = {disc};
    burnOptions.drive = "virtual:" + disc;

    SourceSizes sizes;
    sizes.take(request);
    uint32_t sectors = 0;
    {
        Session session;
        if (int rc = session.start()) return rc;
        if (session.open(burnOptions) != kExitOk) {
            TVX_DriveInfo first{};
            if (TVX_GetDriveCount() > 0 && TVX_GetDriveInfo(0, &first) == TVX_OK &&
                first.driveLetter)
                return Fail(kExitFailed, "make-image works through the virtual recorder, which "
                                         "the CD/DVD drives of this machine hide; nothing was "
                                         "written");
            return Fail(kExitFailed,
                        "the virtual recorder cannot hold its disc in %s (it needs "
                        "a large sparse file there); nothing was written",
                        scratch.path().c_str());
        }
        TVX_Result r = RunBurn(burnOptions, session.handle(), request, burn);
        EndProgress(r == TVX_OK);
        if (r != TVX_OK) {
            int rc = ReportFailure(what, r, session.handle(), options.verbose);
            if (r == TVX_ERR_CANCELLED) std::fprintf(stderr, "  stopped by %s\n", StopSignalName());
            ReportSource(r, session.handle(), request, sizes);
            std::fprintf(stderr, "  %s was not written\n", output.c_str());
            PrintJsonResult(options, what, &r, rc, session.handle(), "");
            return rc;
        }
        sectors = Facts().trackBlocks;
    }
    if (int rc = CopyVolume(disc, sectors, output)) {
        PrintJsonResult(options, what, nullptr, rc, nullptr, "");
        return rc;
    }
    if (!options.quiet && !options.json)
        std::printf("%s: %s holds the volume, %u sectors (%llu bytes)\n", what, output.c_str(),
                    sectors, static_cast<unsigned long long>(sectors) * kSectorBytes);
    TVX_Result ok = TVX_OK;
    PrintJsonResult(options, what, &ok, kExitOk, nullptr, "");
    return kExitOk;
}

} // namespace tvxcli
