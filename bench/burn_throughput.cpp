// Burning a DVD-Video folder of real bytes to a virtual DVD+R backed by an image file, against
// `cat` of the same files into one file. Prints throughput of both, their ratio, and the
// process's peak memory after each volume size (it must not grow with the volume).
//
// Usage: burn_throughput [GiB] [work folder]   (defaults: 1.5, $TMPDIR or /tmp)
#include "platform/host.h"
#include "platform/sim/sim_host.h"
#include "support/direct_transport.h"
#include "torvexin.h"
#include "vdrive/virtual_recorder.h"

#include <sys/resource.h>
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
using Clock = std::chrono::steady_clock;

namespace {

constexpr uint64_t kMiB = 1024 * 1024;
constexpr uint64_t kVobBytes = 1024 * kMiB; // the largest VOB of a title set

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

long PeakRssKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// A DVD-Video folder of real bytes (no holes, which read faster than data): VIDEO_TS with the
// video manager and one title set whose VOBs hold `bytes` in pieces of at most 1 GiB.
void MakeSource(const fs::path& folder, uint64_t bytes) {
    fs::path v = folder / "VIDEO_TS";
    fs::create_directories(v);
    fs::create_directories(folder / "AUDIO_TS");
    std::vector<char> block(kMiB);
    for (size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<char>(i * 131 + 7);
    auto make = [&](const std::string& name, uint64_t size) {
        std::ofstream out(v / name, std::ios::binary);
        block[0] = static_cast<char>(name.size());
        for (uint64_t done = 0; done < size; done += block.size()) {
            out.write(block.data(),
                      static_cast<std::streamsize>(std::min<uint64_t>(block.size(), size - done)));
        }
    };
    make("VIDEO_TS.IFO", 12288);
    make("VIDEO_TS.BUP", 12288);
    make("VIDEO_TS.VOB", kMiB);
    make("VTS_01_0.IFO", 65536);
    make("VTS_01_0.BUP", 65536);
    uint64_t made = 0;
    for (int n = 1; made < bytes; ++n) {
        uint64_t size = std::min(kVobBytes, bytes - made);
        make("VTS_01_" + std::to_string(n) + ".VOB", size);
        made += size;
    }
}

double TimeCat(const fs::path& folder, const fs::path& out) {
    std::string command = "cat '" + folder.string() + "'/VIDEO_TS/* > '" + out.string() + "'";
    // Dirty pages left by the previous run would be written back during this one and slow it.
    ::sync();
    auto start = Clock::now();
    if (std::system(command.c_str()) != 0) std::fprintf(stderr, "cat failed\n");
    double seconds = Seconds(start);
    fs::remove(out);
    return seconds;
}

// One burn on a fresh sparse-backed disc; seconds, or a negative value on failure.
double TimeBurn(const fs::path& folder, const fs::path& disc) {
    tvx::SimHost sim;
    tvx::setHost(&sim);
    double seconds = -1;
    {
        tvx::vdrive::VirtualRecorder drive(sim.virtualClock());
        drive.setTraceEnabled(std::getenv("TVX_BENCH_TRACE") != nullptr);
        drive.insertBlank(tvx::vdrive::MediumKind::DvdPlusR, 0, disc.string());
        tvx::test::DirectTransport transport;
        tvx::RecHandle* handle = transport.open(drive);
        TVX_BurnOptions options = {TVX_MODE_WRITE, -1};
        ::sync();
        auto start = Clock::now();
        TVX_Result result = TVX_BurnDVDVIDEO(handle, &options, folder.c_str(), "BENCH", nullptr, 0);
        seconds = Seconds(start);
        if (result != TVX_OK) {
            std::fprintf(stderr, "burn failed: %08X at location %d (%s)\n",
                         static_cast<unsigned>(result), handle->lastError.location,
                         handle->lastError.description ? handle->lastError.description : "");
            seconds = -1;
            std::string trace = drive.formatTrace();
            std::fprintf(stderr, "%s\n",
                         trace.substr(trace.size() > 3000 ? trace.size() - 3000 : 0).c_str());
        }
        drive.removeDisc();
    }
    tvx::setHost(nullptr);
    fs::remove(disc);
    fs::remove(disc.string() + ".state");
    return seconds;
}

void Measure(const fs::path& work, uint64_t bytes) {
    fs::path source = work / "source";
    fs::remove_all(source);
    MakeSource(source, bytes);
    // Both read the same files from the page cache: one pass to warm it; then the best of
    // three alternating runs of each, as the machine may be busy.
    TimeCat(source, work / "cat.out");
    double cat = 1e9, burn = 1e9;
    for (int round = 0; round < 3; ++round) {
        cat = std::min(cat, TimeCat(source, work / "cat.out"));
        burn = std::min(burn, TimeBurn(source, work / "disc.img"));
    }
    double mib = static_cast<double>(bytes) / kMiB;
    std::printf("%8.0f MiB  cat %7.2f s (%7.1f MiB/s)  burn %7.2f s (%7.1f MiB/s)  "
                "burn/cat %.3f (target <= 1.15)  peak RSS %.1f MiB (target < 16)\n",
                mib, cat, mib / cat, burn, mib / burn, burn / cat, PeakRssKiB() / 1024.0);
    std::fflush(stdout);
    fs::remove_all(source);
}

} // namespace

int main(int argc, char** argv) {
    double gib = argc > 1 ? std::atof(argv[1]) : 1.5;
    const char* tmp = std::getenv("TMPDIR");
    fs::path base = argc > 2 ? fs::path(argv[2]) : fs::path(tmp ? tmp : "/tmp");
    fs::path work = base / ("tvx-burn-bench-" + std::to_string(getpid()));
    fs::create_directories(work);
    std::printf("burning a DVD-Video folder to a virtual DVD+R on an image file\n");
    Measure(work, 256 * kMiB);
    Measure(work, static_cast<uint64_t>(gib * 1024) * kMiB);
    fs::remove_all(work);
    return 0;
}
