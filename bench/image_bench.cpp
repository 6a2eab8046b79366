// The volume image builder at scale: planning and laying out 100,000 files in one directory and
// a tree of 20,000 directories (scanned from disk and made through file-set entries), the heap
// each file costs, and streaming a 1.5 GiB DVD-Video folder of real bytes to a null sink against
// `cat` of the same files to /dev/null. Prints figures; asserts nothing.
//
// Usage: image_bench [work folder]   (default: $TMPDIR or /tmp)
#include "image/plan.h"
#include "image/sector_sink.h"

#include <malloc.h>

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
using namespace tvx;

namespace {

double Seconds(WallClock::time_point since) {
    return std::chrono::duration<double>(WallClock::now() - since).count();
}

size_t HeapInUse() {
    return mallinfo2().uordblks;
}

// Reads every file as the engine would (straight into its buffer) and drops the bytes.
class NullSink final : public SectorSink {
  public:
    int writeBytes(const void*, uint32_t count) override {
        bytes += (count + 2047) / 2048 * 2048;
        return 1;
    }
    int writeFile(HostFile& file, uint64_t expectedSize) override {
        uint64_t done = 0;
        while (done < expectedSize) {
            uint64_t want = expectedSize - done;
            uint32_t piece = want < buffer.size() ? static_cast<uint32_t>(want)
                                                  : static_cast<uint32_t>(buffer.size());
            uint32_t got = file.read(buffer.data(), piece);
            if (got == 0) return 0;
            done += got;
        }
        bytes += (expectedSize + 2047) / 2048 * 2048;
        return 1;
    }
    std::vector<char> buffer = std::vector<char>(1 << 20);
    uint64_t bytes = 0;
};

void MakeEmptyFiles(const fs::path& folder, int count) {
    fs::create_directories(folder);
    for (int i = 0; i < count; ++i) {
        std::ofstream(folder / ("file_" + std::to_string(i) + ".dat"));
    }
}

void Report(const char* what, double seconds, uint32_t entries, size_t heap) {
    std::printf("%-44s %7.3f s  %7u entries  heap %6.1f MiB (%4zu bytes per entry)\n", what,
                seconds, entries, heap / 1048576.0, entries ? heap / entries : 0);
}

void PlanScan(const char* what, const fs::path& folder) {
    size_t heapBefore = HeapInUse();
    auto t0 = WallClock::now();
    VolumePlan* plan = Plan_Create("BENCH");
    uint32_t added = Plan_AddFolderContents(plan, folder.c_str());
    int laidOut = Plan_Layout(plan);
    double seconds = Seconds(t0);
    size_t heap = HeapInUse() - heapBefore;
    Report(what, seconds, added, heap);
    if (!laidOut) std::printf("  layout failed\n");
    Plan_Free(plan);
}

void PlanFileSet(const char* what, const std::vector<std::string>& paths, const std::string& src) {
    size_t heapBefore = HeapInUse();
    auto t0 = WallClock::now();
    VolumePlan* plan = Plan_Create("BENCH");
    for (const std::string& p : paths) {
        if (!Plan_AddFileSetEntry(plan, p.c_str(), src.c_str())) {
            std::printf("  entry %s failed\n", p.c_str());
            break;
        }
    }
    int laidOut = Plan_Layout(plan);
    double seconds = Seconds(t0);
    size_t heap = HeapInUse() - heapBefore;
    Report(what, seconds, plan->directoryCount + plan->fileCount - 1, heap);
    if (!laidOut) std::printf("  layout failed\n");
    Plan_Free(plan);
}

// Real bytes: a sparse file reads as holes, faster than any data, and would flatter the stream.
void MakeDvdFolder(const fs::path& disc, uint64_t totalBytes) {
    fs::path v = disc / "VIDEO_TS";
    fs::create_directories(v);
    std::vector<char> block(1 << 20);
    for (size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<char>(i * 131 + 7);
    auto make = [&](const char* name, uint64_t size) {
        std::ofstream out(v / name, std::ios::binary);
        for (uint64_t done = 0; done < size; done += block.size()) {
            out.write(block.data(),
                      static_cast<std::streamsize>(std::min<uint64_t>(block.size(), size - done)));
        }
    };
    make("VIDEO_TS.IFO", 12288);
    make("VIDEO_TS.BUP", 12288);
    make("VIDEO_TS.VOB", 1 << 20);
    make("VTS_01_0.IFO", 65536);
    make("VTS_01_0.BUP", 65536);
    const uint64_t vob = 1ull << 30; // the largest VOB of a title set
    int n = 1;
    for (uint64_t made = 0; made < totalBytes; made += vob, ++n) {
        char name[32];
        std::snprintf(name, sizeof name, "VTS_01_%d.VOB", n);
        make(name, std::min(vob, totalBytes - made));
    }
}

} // namespace

int main(int argc, char** argv) {
    fs::path work = argc > 1 ? fs::path(argv[1])
                             : fs::path(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp");
    work /= "tvx-image-bench";
    fs::remove_all(work);
    fs::create_directories(work);
    std::printf("preparing folders in %s ...\n", work.c_str());

    // 100,000 files in one directory.
    MakeEmptyFiles(work / "flat", 100000);
    PlanScan("scan + layout, 100,000 files in one folder", work / "flat");
    std::string src = (work / "source.bin").string();
    std::ofstream(src) << "x";
    std::vector<std::string> flat;
    for (int i = 0; i < 100000; ++i)
        flat.push_back("\\DATA\\file_" + std::to_string(i) + ".dat");
    PlanFileSet("file set + layout, 100,000 files in one dir", flat, src);

    // 20,000 directories: 20 folders of 1,000 folders, each holding one file.
    for (int a = 0; a < 20; ++a) {
        for (int b = 0; b < 1000; ++b) {
            fs::path d =
                work / "tree" / ("group" + std::to_string(a)) / ("dir" + std::to_string(b));
            fs::create_directories(d);
            std::ofstream(d / "f.txt");
        }
    }
    PlanScan("scan + layout, tree of 20,020 directories", work / "tree");
    std::vector<std::string> tree;
    for (int a = 0; a < 20; ++a) {
        for (int b = 0; b < 1000; ++b) {
            tree.push_back("/g" + std::to_string(a) + "/dir" + std::to_string(b) + "/f.txt");
        }
    }
    PlanFileSet("file set + layout, tree of 20,020 directories", tree, src);
    fs::remove_all(work / "flat");
    fs::remove_all(work / "tree");

    // Streaming a 1.5 GiB DVD-Video folder against cat.
    fs::path disc = work / "disc";
    MakeDvdFolder(disc, 3ull << 29);
    VolumePlan* plan = Plan_Create("BENCH");
    Plan_AddDvdVideoFolder(plan, disc.c_str());
    Plan_Layout(plan);
    std::string cat = "cat " + (disc / "VIDEO_TS").string() + "/* > /dev/null";
    double catBest = 1e9, streamBest = 1e9;
    for (int round = 0; round < 3; ++round) {
        auto t0 = WallClock::now();
        if (std::system(cat.c_str()) != 0) std::printf("cat failed\n");
        catBest = std::min(catBest, Seconds(t0));
        NullSink sink;
        t0 = WallClock::now();
        if (!Plan_Stream(plan, sink)) std::printf("stream failed\n");
        streamBest = std::min(streamBest, Seconds(t0));
    }
    double gib = Plan_VolumeSize(plan) * 2048.0 / (1 << 30);
    std::printf("stream %.2f GiB DVD-Video to a null sink: %.3f s (%.0f MiB/s)\n", gib, streamBest,
                gib * 1024 / streamBest);
    std::printf("cat of the same files to /dev/null:     %.3f s (%.0f MiB/s)\n", catBest,
                gib * 1024 / catBest);
    std::printf("stream speed / cat speed: %.2f\n", catBest / streamBest);
    Plan_Free(plan);
    fs::remove_all(work);
    return 0;
}
