// make-image against its peers on one DVD-Video tree, warm cache, in the same run:
// `tvx make-image --dvd-video DIR -o FILE` against `cat` of the same files into one file
// (target: within 1.1x) and against `genisoimage -dvd-video -udf -o FILE DIR` (target: faster).
// Every command's output is put on the disk (sync FILE) before its clock stops, as make-image
// itself does before it renames its file into place. Also the peak resident memory of the
// make-image process (target: under 16 MiB). Prints figures and each target with whether it is
// met; asserts nothing.
//
// Usage: make_image_bench [MiB of video] [rounds] [work folder]
//        (defaults: 1536, 3, $TMPDIR or /tmp)
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using WallClock = std::chrono::steady_clock;

namespace {

constexpr uint64_t kMiB = 1 << 20;
// A title set's video files are cut at 1 GiB less one 2 KiB sector, as authoring tools do.
constexpr uint64_t kVobLimit = (1ull << 30) - 2048;

// Writes `bytes` of data (no holes, no zero sectors) to path.
bool WriteData(const fs::path& path, uint64_t bytes, unsigned seed) {
    std::vector<unsigned char> block(kMiB);
    unsigned x = seed * 2654435761u + 1;
    for (auto& b : block) {
        x = x * 1103515245u + 12345u;
        b = static_cast<unsigned char>(x >> 16) | 1;
    }
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = true;
    while (ok && bytes > 0) {
        size_t n = static_cast<size_t>(std::min<uint64_t>(bytes, block.size()));
        ok = std::fwrite(block.data(), 1, n, f) == n;
        bytes -= n;
    }
    return std::fclose(f) == 0 && ok;
}

// Copies a file of the sample DVD, with the title set's last sector (bytes 12-15, big-endian)
// set to lastSector when that is not 0.
bool CopyIfo(const fs::path& from, const fs::path& to, uint32_t lastSector) {
    FILE* in = std::fopen(from.c_str(), "rb");
    if (!in) return false;
    std::vector<unsigned char> bytes(1 << 16);
    bytes.resize(std::fread(bytes.data(), 1, bytes.size(), in));
    std::fclose(in);
    if (bytes.size() < 16) return false;
    for (int i = 0; lastSector && i < 4; ++i)
        bytes[12 + i] = static_cast<unsigned char>(lastSector >> (24 - 8 * i));
    FILE* out = std::fopen(to.c_str(), "wb");
    if (!out) return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    return std::fclose(out) == 0 && ok;
}

// A DVD-Video folder that genisoimage accepts: the sample DVD's video manager and title set
// information, the title set's video `videoBytes` long (whole sectors) in files of at most
// 1 GiB, and the title set's last sector set to match.
bool MakeDvdVideo(const fs::path& root, uint64_t videoBytes) {
    const fs::path sample = fs::path(TVX_SAMPLE_DVD) / "VIDEO_TS";
    const fs::path v = root / "VIDEO_TS";
    fs::create_directories(v);
    videoBytes = (videoBytes + 2047) / 2048 * 2048;
    const uint64_t ifoSectors = fs::file_size(sample / "VTS_01_0.IFO") / 2048;
    const auto last = static_cast<uint32_t>(2 * ifoSectors + videoBytes / 2048 - 1);
    bool ok = CopyIfo(sample / "VIDEO_TS.IFO", v / "VIDEO_TS.IFO", 0) &&
              CopyIfo(sample / "VIDEO_TS.BUP", v / "VIDEO_TS.BUP", 0) &&
              CopyIfo(sample / "VTS_01_0.IFO", v / "VTS_01_0.IFO", last) &&
              CopyIfo(sample / "VTS_01_0.BUP", v / "VTS_01_0.BUP", last);
    for (int part = 1; ok && videoBytes > 0; ++part) {
        uint64_t n = std::min(videoBytes, kVobLimit);
        char name[32];
        std::snprintf(name, sizeof name, "VTS_01_%d.VOB", part);
        ok = WriteData(v / name, n, 10 + part);
        videoBytes -= n;
    }
    return ok;
}

struct Run {
    double seconds = -1; // negative: the command failed
};

// Runs a shell command and syncs `output`; the time covers both.
Run Time(const std::string& command, const fs::path& output) {
    std::string line = command + " && sync '" + output.string() + "'";
    ::sync();
    auto start = WallClock::now();
    pid_t child = ::fork();
    if (child == 0) {
        ::execl("/bin/sh", "sh", "-c", line.c_str(), nullptr);
        _exit(127);
    }
    int status = 0;
    Run run;
    if (child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) &&
        WEXITSTATUS(status) == 0) {
        run.seconds = std::chrono::duration<double>(WallClock::now() - start).count();
    }
    std::error_code ec;
    fs::remove(output, ec);
    return run;
}

// Peak memory of the make-image process alone: it runs as this process's direct child.
long MakeImagePeakKiB(const std::string& tvx, const fs::path& tree, const fs::path& output) {
    pid_t child = ::fork();
    if (child == 0) {
        int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (null >= 0) ::dup2(null, 1);
        ::execl(tvx.c_str(), "tvx", "make-image", "-q", "--dvd-video", tree.c_str(), "-o",
                output.c_str(), nullptr);
        _exit(127);
    }
    int status = 0;
    struct rusage usage {};
    long peak = 0;
    if (child > 0 && ::wait4(child, &status, 0, &usage) == child && WIFEXITED(status) &&
        WEXITSTATUS(status) == 0)
        peak = usage.ru_maxrss;
    std::error_code ec;
    fs::remove(output, ec);
    return peak;
}

const char* Met(bool met) {
    return met ? "met" : "NOT met";
}

std::string Quoted(const fs::path& p) {
    return "'" + p.string() + "'";
}

} // namespace

int main(int argc, char** argv) {
    const uint64_t mib = argc > 1 ? std::max(1ll, std::atoll(argv[1])) : 1536;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    const char* tmp = std::getenv("TMPDIR");
    fs::path base = argc > 3 ? fs::path(argv[3]) : fs::path(tmp ? tmp : "/tmp");
    fs::path work = base / ("tvx-make-image-bench-" + std::to_string(::getpid()));
    fs::path tree = work / "movie";
    const std::string tvx = TVX_TOOL_PATH;
    if (!MakeDvdVideo(tree, mib * kMiB)) {
        std::fprintf(stderr, "cannot write the DVD-Video tree in %s\n", work.c_str());
        fs::remove_all(work);
        return 1;
    }
    const bool haveGenisoimage = std::system("command -v genisoimage > /dev/null") == 0;
    const fs::path out = work / "out.iso";
    const std::string cat = "cat " + Quoted(tree / "VIDEO_TS") + "/* > " + Quoted(out);
    const std::string make =
        "'" + tvx + "' make-image -q --dvd-video " + Quoted(tree) + " -o " + Quoted(out);
    const std::string geniso =
        "genisoimage -quiet -dvd-video -udf -o " + Quoted(out) + " " + Quoted(tree);
    std::printf("make-image of a %llu MiB DVD-Video tree against cat and genisoimage, best of "
                "%d, warm cache, each output synced (a shared machine is noisy: compare the "
                "ratios)\n",
                static_cast<unsigned long long>(mib), rounds);
    Time(cat, out); // warms the cache for all three
    double best[3] = {1e9, 1e9, 1e9};
    bool failed = false;
    for (int r = 0; r < rounds; ++r) {
        const std::string* commands[3] = {&cat, &make, &geniso};
        for (int i = 0; i < 3; ++i) {
            if (i == 2 && !haveGenisoimage) continue;
            Run run = Time(*commands[i], out);
            if (run.seconds < 0) {
                std::fprintf(stderr, "failed: %s\n", commands[i]->c_str());
                failed = true;
                continue;
            }
            best[i] = std::min(best[i], run.seconds);
        }
    }
    const long peak = MakeImagePeakKiB(tvx, tree, out);
    fs::remove_all(work);
    if (failed || peak == 0) return 1;

    const double mb = static_cast<double>(mib) * kMiB / 1e6;
    std::printf("cat          %7.3f s  %7.0f MB/s\n", best[0], mb / best[0]);
    std::printf("make-image   %7.3f s  %7.0f MB/s\n", best[1], mb / best[1]);
    if (haveGenisoimage) std::printf("genisoimage  %7.3f s  %7.0f MB/s\n", best[2], mb / best[2]);
    std::printf("make-image peak memory: %.1f MiB\n", peak / 1024.0);
    const double toCat = best[1] / best[0];
    std::printf("target: make-image within 1.1x of cat: %.2fx: %s\n", toCat, Met(toCat <= 1.1));
    if (haveGenisoimage)
        std::printf("target: make-image faster than genisoimage: %.2fx its time: %s\n",
                    best[1] / best[2], Met(best[1] < best[2]));
    else
        std::printf("target: make-image faster than genisoimage: not measured (no genisoimage)\n");
    std::printf("target: peak memory under 16 MiB%s: %s\n",
                mib >= 1536 ? " for a 1.5 GB tree" : " (a smaller tree than the target's)",
                Met(peak < 16 * 1024));
    return 0;
}
