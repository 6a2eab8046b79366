// `tvx burn-data` as a whole process, startup, its own walk of the folder and the burn to a
// virtual DVD+R on an image file (which the drive's cache flush puts on the disk) included,
// against `find DIR -type f -print0 | xargs -0 cat > FILE` and an fsync of FILE: 80,000 files
// of 1-8 KiB in one folder and in 2,000 folders of 40, warm cache, best of a few alternating
// runs (target: within 1.25x). Also the peak resident memory of the tvx process (target: 512
// bytes per entry + 16 MiB). Prints figures and each target with whether it is met; asserts
// nothing.
//
// Usage: tvx_burn_bench [rounds] [work folder] [tvx]   (defaults: 3, $TMPDIR or /tmp, the
//        tvx of this build)
#include "small_files.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

using namespace bench;

namespace {

struct Burn {
    double seconds = -1; // negative: tvx failed
    long peakKiB = 0;
};

// One `tvx burn-data` of folder onto a fresh virtual DVD+R in disc, as this process's child.
Burn RunTvx(const char* tvx, const fs::path& folder, const fs::path& disc) {
    ::sync();
    auto start = WallClock::now();
    pid_t child = ::fork();
    if (child == 0) {
        int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (null >= 0) ::dup2(null, 1);
        const std::string drive = disc.string() + ":dvd+r";
        ::execl(tvx, "tvx", "--virtual", drive.c_str(), "burn-data", "-q", folder.c_str(), nullptr);
        _exit(127);
    }
    int status = 0;
    struct rusage usage {};
    Burn burn;
    if (child > 0 && ::wait4(child, &status, 0, &usage) == child && WIFEXITED(status) &&
        WEXITSTATUS(status) == 0) {
        burn.seconds = Seconds(start);
        burn.peakKiB = usage.ru_maxrss;
    } else {
        std::fprintf(stderr, "tvx burn-data failed (status %d)\n", status);
    }
    std::error_code ec;
    fs::remove(disc, ec);
    fs::remove(disc.string() + ".state", ec);
    return burn;
}

} // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    const char* tmp = std::getenv("TMPDIR");
    const fs::path base = argc > 2 ? fs::path(argv[2]) : fs::path(tmp ? tmp : "/tmp");
    const fs::path work = base / ("tvx-burn-bench-" + std::to_string(::getpid()));
    const char* tool = argc > 3 ? argv[3] : TVX_TOOL_PATH;
    fs::create_directories(work);
    std::printf("tvx burn-data (whole process) to a virtual DVD+R against find | xargs cat + "
                "fsync, best of %d (a shared machine is noisy: compare the ratios)\n",
                rounds);
    constexpr int kCount = 80000;
    const double limit = kCount * 512.0 + 16 * 1048576.0;
    bool allMet = true;
    for (bool folders : {false, true}) {
        const fs::path folder = work / "source";
        fs::remove_all(folder);
        if (folders)
            MakeFolders(folder, kCount, kKilobytes);
        else
            MakeFlat(folder, kCount, kKilobytes);
        TimeCat(folder, work / "cat.out"); // warms the cache for both
        double cat = 1e9, tvx = 1e9;
        long peak = 0;
        for (int r = 0; r < rounds; ++r) {
            cat = std::min(cat, TimeCat(folder, work / "cat.out"));
            Burn burn = RunTvx(tool, folder, work / "disc.img");
            if (burn.seconds < 0) {
                tvx = -1;
                break;
            }
            tvx = std::min(tvx, burn.seconds);
            peak = std::max(peak, burn.peakKiB);
        }
        const double ratio = tvx / cat;
        const double peakBytes = peak * 1024.0;
        const bool met = tvx > 0 && ratio <= 1.25 && peakBytes <= limit;
        allMet = allMet && met;
        std::printf("80,000 files of 1-8 KiB in %-17s cat %7.3f s  tvx %7.3f s  tvx/cat %.2f "
                    "(<= 1.25: %s)  peak %.1f MiB (<= %.1f MiB: %s)\n",
                    folders ? "2,000 folders:" : "one folder:", cat, tvx, ratio,
                    Met(tvx > 0 && ratio <= 1.25), peakBytes / 1048576.0, limit / 1048576.0,
                    Met(peak > 0 && peakBytes <= limit));
        std::fflush(stdout);
    }
    fs::remove_all(work);
    std::printf("targets: %s\n", allMet ? "all met" : "NOT all met");
    return 0;
}
