// Burning many small files: the work of `tvx burn-data` (a data folder burnt to a virtual DVD+R
// on an image file) at 5,000, 20,000 and 80,000 files with long, clashing names, in one folder
// and in a tree, against reading the same files with
// `find DIR -type f -print0 | xargs -0 cat > FILE`. Also the heap a laid-out plan holds per
// entry, and the same comparison with a cold page cache. Prints figures and the targets they are
// measured against; asserts nothing.
//
// Usage: scale_bench [rounds] [work folder]   (defaults: 3, $TMPDIR or /tmp)
#include "image/plan.h"
#include "platform/host.h"
#include "platform/sim/sim_host.h"
#include "support/direct_transport.h"
#include "torvexin.h"
#include "vdrive/virtual_recorder.h"

#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using WallClock = std::chrono::steady_clock;

namespace {

constexpr int kFilesPerFolder = 100;
constexpr int kFoldersPerGroup = 20;

double Seconds(WallClock::time_point since) {
    return std::chrono::duration<double>(WallClock::now() - since).count();
}

// Long names that share their first eight characters, so that every ISO 9660 name needs a
// numbered suffix.
std::string FileName(int i) {
    char name[160];
    std::snprintf(name, sizeof name,
                  "Photographs of the summer holiday by the sea, camera roll of 2026, "
                  "picture %06d.jpeg",
                  i);
    return name;
}

// Small files of real bytes (256 to 4095 bytes), not holes.
void WriteFile(const fs::path& path, int i) {
    static std::vector<char> bytes = [] {
        std::vector<char> b(4096);
        for (size_t k = 0; k < b.size(); ++k)
            b[k] = static_cast<char>(k * 131 + 7);
        return b;
    }();
    std::ofstream out(path, std::ios::binary);
    bytes[0] = static_cast<char>(i);
    out.write(bytes.data(), 256 + (i * 7919) % 3840);
}

void MakeFlat(const fs::path& folder, int count) {
    fs::create_directories(folder);
    for (int i = 0; i < count; ++i)
        WriteFile(folder / FileName(i), i);
}

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
        WriteFile(d / FileName(i), i);
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

double TimeCat(const fs::path& folder, const fs::path& out) {
    std::string command =
        "find '" + folder.string() + "' -type f -print0 | xargs -0 cat > '" + out.string() + "'";
    ::sync();
    auto start = WallClock::now();
    if (std::system(command.c_str()) != 0) std::fprintf(stderr, "cat failed\n");
    double seconds = Seconds(start);
    fs::remove(out);
    return seconds;
}

// One burn of the folder's contents on a fresh disc; seconds, or a negative value on failure.
double TimeBurn(const fs::path& folder, const fs::path& disc) {
    tvx::SimHost sim;
    tvx::setHost(&sim);
    double seconds = -1;
    {
        tvx::vdrive::VirtualRecorder drive(sim.virtualClock());
        drive.setTraceEnabled(false);
        drive.insertBlank(tvx::vdrive::MediumKind::DvdPlusR, 0, disc.string());
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

} // namespace

int main(int argc, char** argv) {
    int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    const char* tmp = std::getenv("TMPDIR");
    fs::path base = argc > 2 ? fs::path(argv[2]) : fs::path(tmp ? tmp : "/tmp");
    fs::path work = base / ("tvx-scale-bench-" + std::to_string(getpid()));
    fs::create_directories(work);
    std::printf("burn-data to a virtual DVD+R against find | xargs cat, best of %d "
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
                MakeFlat(folder, counts[c]);
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
                                "burn/cat %.2f  (target <= 1.20)\n",
                                counts[c], what, how, cat, burn, burn / cat);
                }
            }
        }
    }
    fs::remove_all(work);

    for (int shape = 0; shape < 2; ++shape) {
        const char* what = shape == 0 ? "one folder" : "a tree";
        std::printf("80,000 files in %s: burn/cat %.2f%s; time per file at 80,000 / at 5,000: "
                    "%.2f%s\n",
                    what, ratio80k[shape], shape == 0 ? " (target <= 1.30)" : "",
                    perFile[shape][2] / perFile[shape][0], shape == 0 ? " (target <= 1.20)" : "");
    }
    std::printf("heap of a laid-out plan per entry, 80,000 long names: %zu bytes (target <= 512)\n",
                heap80k);
    return 0;
}
