// Burning many small files: the work of `tvx burn-data` (a data folder burnt to a virtual DVD+R
// on an image file, which the drive's cache flush puts on the disk) against copying the same
// files with `find DIR -type f -print0 | xargs -0 cat > FILE` and an fsync of FILE. Files of
// 256-4095 bytes with long, clashing names at 5,000, 20,000 and 80,000, in one folder and in a
// tree (also with a cold page cache); files of 1-8 KiB at 20,000 and 80,000 in one folder and
// 80,000 in 2,000 folders of 40. Also the heap a laid-out plan holds per entry and the peak
// memory of a burn. Prints figures and each target with whether it is met; asserts nothing.
// With bd-r: 1,000,000 files of 1-8 KiB (in folders of 40) burnt to a virtual BD-R on a sparse
// image, against cat + fsync, with the plan's heap per entry and the burn's peak memory.
//
// Usage: scale_bench [rounds] [work folder]   (defaults: 3, $TMPDIR or /tmp)
//        scale_bench bd-r [files] [work folder]  (default 1,000,000 files)
//        scale_bench burn FOLDER IMAGE [bd-r]    (one burn, for a profiler)
#include "small_files.h"

#include "image/plan.h"
#include "platform/host.h"
#include "platform/sim/sim_host.h"
#include "support/direct_transport.h"
#include "torvexin.h"
#include "vdrive/virtual_recorder.h"

#include <fcntl.h>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using namespace bench;

namespace {

constexpr int kFilesPerFolder = 100;
constexpr int kFoldersPerGroup = 20;

// Groups of folders of 100 files each.
void MakeTree(const fs::path& folder, int count) {
    for (int i = 0; i < count; ++i) {
        int album = i / kFilesPerFolder;
        char group[80], dir[80];
        std::snprintf(group, sizeof group, "Family collection, group %03d",
                      album / kFoldersPerGroup);
        std::snprintf(dir, sizeof dir, "Album of the family collection number %05d", album);
        fs::path d = folder / group / dir;
        if (i % kFilesPerFolder == 0) fs::create_directories(d);
        WriteFile(d / FileName(i), i, kSmall);
    }
}

// Empties the page cache (needs root); failing that, evicts the files' data pages, which leaves
// the folders' metadata cached. Answers what it did, or null when it could do neither.
const char* DropCaches(const fs::path& folder) {
    ::sync();
    if (FILE* f = std::fopen("/proc/sys/vm/drop_caches", "w")) {
        bool ok = std::fputs("3\n", f) >= 0;
        ok = std::fclose(f) == 0 && ok;
        if (ok) return "page cache dropped";
    }
    bool any = false;
    for (const auto& e : fs::recursive_directory_iterator(folder)) {
        if (!e.is_regular_file()) continue;
        int fd = ::open(e.path().c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) continue;
        any = ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED) == 0 || any;
        ::close(fd);
    }
    return any ? "file data evicted (no root: folder metadata stays cached)" : nullptr;
}

// One burn of the folder's contents on a fresh disc; seconds, or a negative value on failure.
double TimeBurn(const fs::path& folder, const fs::path& disc, bool bd = false) {
    tvx::SimHost sim;
    tvx::setHost(&sim);
    double seconds = -1;
    {
        using tvx::vdrive::DriveModel;
        tvx::vdrive::VirtualRecorder drive(sim.virtualClock(),
                                           bd ? DriveModel::BdCdWriter() : DriveModel::Default());
        drive.setTraceEnabled(false);
        if (bd) TVX_SetWritableMedia(MediaRecordableMask);
        drive.insertBlank(bd ? tvx::vdrive::MediumKind::BdR : tvx::vdrive::MediumKind::DvdPlusR, 0,
                          disc.string());
        tvx::test::DirectTransport transport;
        tvx::RecHandle* handle = transport.open(drive);
        TVX_BurnOptions options = {TVX_MODE_WRITE, -1};
        ::sync();
        auto start = WallClock::now();
        TVX_Result result =
            TVX_BurnVolumeData(handle, &options, folder.c_str(), "BENCH", nullptr, 0);
        seconds = Seconds(start);
        if (result != TVX_OK) {
            std::fprintf(stderr, "burn failed: %08X at location %d\n",
                         static_cast<unsigned>(result), handle->lastError.location);
            seconds = -1;
        }
        drive.removeDisc();
    }
    tvx::setHost(nullptr);
    fs::remove(disc);
    fs::remove(disc.string() + ".state");
    return seconds;
}

struct Figures {
    double cat = 1e9;
    double burn = 1e9;
};

// Best of `rounds` alternating runs, after one cat that warms the cache for both.
Figures MeasureWarm(const fs::path& folder, const fs::path& work, int rounds) {
    Figures f;
    TimeCat(folder, work / "cat.out");
    for (int r = 0; r < rounds; ++r) {
        f.cat = std::min(f.cat, TimeCat(folder, work / "cat.out"));
        f.burn = std::min(f.burn, TimeBurn(folder, work / "disc.img"));
    }
    return f;
}

size_t PlanHeapPerEntry(const fs::path& folder) {
    size_t before = mallinfo2().uordblks;
    tvx::VolumePlan* plan = tvx::Plan_Create("BENCH");
    uint32_t entries = tvx::Plan_AddFolderContents(plan, folder.c_str());
    tvx::Plan_Layout(plan);
    size_t heap = mallinfo2().uordblks - before;
    tvx::Plan_Free(plan);
    return entries ? heap / entries : 0;
}

// Peak resident memory of one burn of the folder, in a fresh process of its own (this one's
// heap would count too); 0 on failure.
size_t BurnPeakBytes(const fs::path& folder, const fs::path& disc, bool bd = false) {
    pid_t child = ::fork();
    if (child == 0) {
        int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (null >= 0) ::dup2(null, 1);
        ::execl("/proc/self/exe", "scale_bench", "burn", folder.c_str(), disc.c_str(),
                bd ? "bd-r" : nullptr, nullptr);
        _exit(127);
    }
    int status = 0;
    struct rusage usage {};
    if (child < 0 || ::wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0)
        return 0;
    return static_cast<size_t>(usage.ru_maxrss) * 1024;
}

// Many files of 1-8 KiB onto a BD-R: one cat, one burn, the plan's heap and the burn's peak.
int BdScale(int count, const fs::path& base) {
    fs::path work = base / ("tvx-bd-scale-bench-" + std::to_string(getpid()));
    fs::path folder = work / "source";
    MakeFolders(folder, count, kKilobytes);
    TimeCat(folder, work / "cat.out");
    const double cat = TimeCat(folder, work / "cat.out");
    const double burn = TimeBurn(folder, work / "disc.img", true);
    const size_t heap = PlanHeapPerEntry(folder);
    const size_t peak = BurnPeakBytes(folder, work / "disc.img", true);
    fs::remove_all(work);
    std::printf("%d files of 1-8 KiB in folders of 40 to a virtual BD-R: cat %.3f s  burn %.3f s\n"
                "  burn/cat %.2f  (<= 1.25: %s)\n"
                "  heap of a laid-out plan per entry %zu bytes  (<= 512: %s)\n"
                "  peak memory of the burn's process %.1f MiB\n",
                count, cat, burn, burn / cat, Met(burn > 0 && burn / cat <= 1.25), heap,
                Met(heap <= 512), peak / 1048576.0);
    return burn < 0 ? 1 : 0;
}

} // namespace

int main(int argc, char** argv) {
    // One burn of a given folder, for a profiler.
    if ((argc == 4 || argc == 5) && std::string(argv[1]) == "burn") {
        double seconds = TimeBurn(argv[2], argv[3], argc == 5);
        std::printf("burn %.3f s\n", seconds);
        return seconds < 0 ? 1 : 0;
    }
    const char* tmp = std::getenv("TMPDIR");
    if (argc > 1 && std::string(argv[1]) == "bd-r") {
        const int count = argc > 2 ? std::max(1, std::atoi(argv[2])) : 1000000;
        return BdScale(count, argc > 3 ? fs::path(argv[3]) : fs::path(tmp ? tmp : "/tmp"));
    }
    int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    fs::path base = argc > 2 ? fs::path(argv[2]) : fs::path(tmp ? tmp : "/tmp");
    fs::path work = base / ("tvx-scale-bench-" + std::to_string(getpid()));
    fs::create_directories(work);
    std::printf("burn-data to a virtual DVD+R against find | xargs cat + fsync, best of %d "
                "(a shared machine is noisy: compare the ratios)\n",
                rounds);

    const int counts[] = {5000, 20000, 80000};
    double perFile[2][3] = {};
    double ratio80k[2] = {};
    size_t heap80k = 0;
    for (int shape = 0; shape < 2; ++shape) {
        const char* what = shape == 0 ? "one folder" : "a tree";
        for (int c = 0; c < 3; ++c) {
            fs::path folder = work / "source";
            fs::remove_all(folder);
            if (shape == 0) {
                MakeFlat(folder, counts[c], kSmall);
            } else {
                MakeTree(folder, counts[c]);
            }
            Figures f = MeasureWarm(folder, work, rounds);
            perFile[shape][c] = f.burn / counts[c];
            std::printf("%6d files in %-10s cat %7.3f s  burn %7.3f s  burn/cat %.2f  "
                        "%6.1f us per file\n",
                        counts[c], what, f.cat, f.burn, f.burn / f.cat, perFile[shape][c] * 1e6);
            std::fflush(stdout);
            if (c == 2) ratio80k[shape] = f.burn / f.cat;
            if (shape == 0 && c == 2) heap80k = PlanHeapPerEntry(folder);
            if (shape == 0 && c == 1) {
                const char* how = DropCaches(folder);
                if (!how) {
                    std::printf("cold cache: skipped, the page cache cannot be dropped "
                                "(run as root)\n");
                } else {
                    double cat = 1e9, burn = 1e9;
                    for (int r = 0; r < rounds; ++r) {
                        DropCaches(folder);
                        cat = std::min(cat, TimeCat(folder, work / "cat.out"));
                        DropCaches(folder);
                        burn = std::min(burn, TimeBurn(folder, work / "disc.img"));
                    }
                    std::printf("%6d files in %-10s cold (%s): cat %7.3f s  burn %7.3f s  "
                                "burn/cat %.2f  (target <= 1.20: %s)\n",
                                counts[c], what, how, cat, burn, burn / cat,
                                Met(burn / cat <= 1.20));
                }
            }
        }
    }
    // Files of 1-8 KiB: 80,000 in one folder, the same in 2,000 folders of 40, 20,000 in one.
    struct Kilo {
        const char* what;
        int count;
        bool folders;
    };
    const Kilo kilos[] = {{"80,000 files of 1-8 KiB in one folder", 80000, false},
                          {"80,000 files of 1-8 KiB in 2,000 folders of 40", 80000, true},
                          {"20,000 files of 1-8 KiB in one folder", 20000, false}};
    double kiloRatio[3] = {};
    size_t peak = 0;
    for (int k = 0; k < 3; ++k) {
        fs::path folder = work / "source";
        fs::remove_all(folder);
        if (kilos[k].folders) {
            MakeFolders(folder, kilos[k].count, kKilobytes);
        } else {
            MakeFlat(folder, kilos[k].count, kKilobytes);
        }
        Figures f = MeasureWarm(folder, work, rounds);
        kiloRatio[k] = f.burn / f.cat;
        std::printf("%-48s cat %7.3f s  burn %7.3f s  burn/cat %.2f\n", kilos[k].what, f.cat,
                    f.burn, kiloRatio[k]);
        std::fflush(stdout);
        if (k == 0) peak = BurnPeakBytes(folder, work / "disc.img");
    }
    fs::remove_all(work);

    std::printf("\ntargets (warm cache; cat = find | xargs cat, then fsync of its output):\n");
    for (int k = 0; k < 3; ++k)
        std::printf("  %-48s burn/cat %.2f  (<= 1.25: %s)\n", kilos[k].what, kiloRatio[k],
                    Met(kiloRatio[k] <= 1.25));
    double shapeRatio = perFile[0][2] / perFile[1][2]; // the same count: burn times
    std::printf("  80,000 files of 256-4095 bytes, one folder / tree (burn times) %.2f  "
                "(<= 1.10: %s)\n",
                shapeRatio, Met(shapeRatio <= 1.10));
    double growth = perFile[0][2] / perFile[0][0];
    std::printf("  time per file in one folder, 80,000 / 5,000 %.2f  (<= 1.10: %s)\n", growth,
                Met(growth <= 1.10));
    for (int shape = 0; shape < 2; ++shape)
        std::printf("  (80,000 files of 256-4095 bytes in %s: burn/cat %.2f)\n",
                    shape == 0 ? "one folder" : "a tree", ratio80k[shape]);
    double limit = 80000 * 512.0 + 16 * 1048576.0;
    std::printf("  peak memory of a burn of 80,000 files of 1-8 KiB in one folder %.1f MiB  "
                "(<= 512 bytes per entry + 16 MiB = %.1f MiB: %s)\n",
                peak / 1048576.0, limit / 1048576.0, Met(peak > 0 && peak <= limit));
    std::printf("  heap of a laid-out plan per entry, 80,000 long names: %zu bytes  (<= 512: %s)\n",
                heap80k, Met(heap80k <= 512));
    return 0;
}
