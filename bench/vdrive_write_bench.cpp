// Write throughput of the virtual recorder: 1 GiB in 32-block WRITE(10) commands to an
// in-memory disc and to a sparse-file disc, beside a plain sequential write of the same bytes.
#include "vdrive/virtual_recorder.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using tvx::vdrive::kBlockSize;
constexpr uint64_t kTotalBytes = 1ull << 30;
constexpr uint32_t kChunkBlocks = 32;
constexpr uint32_t kChunkBytes = kChunkBlocks * kBlockSize;
constexpr uint32_t kChunks = static_cast<uint32_t>(kTotalBytes / kChunkBytes);

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// Writes the whole GiB to a fresh DVD+R in the drive; returns the seconds taken.
double BurnToDrive(const std::string& backingFile, std::vector<uint8_t>& buffer) {
    tvx::VirtualClock clock;
    tvx::vdrive::VirtualRecorder drive(clock);
    if (!drive.insertBlank(tvx::vdrive::MediumKind::DvdPlusR, 0, backingFile)) {
        std::fprintf(stderr, "cannot insert a disc\n");
        return -1;
    }
    uint8_t cdb[10] = {0x2A, 0, 0, 0, 0, 0, 0, 0, kChunkBlocks, 0};
    tvx::ScsiRequest request;
    request.cdb = cdb;
    request.cdbLength = 10;
    request.direction = tvx::DataDirection::ToDevice;
    request.data = buffer.data();
    request.byteCount = kChunkBytes;
    auto start = std::chrono::steady_clock::now();
    for (uint32_t i = 0; i < kChunks; ++i) {
        uint32_t lba = i * kChunkBlocks;
        cdb[2] = static_cast<uint8_t>(lba >> 24);
        cdb[3] = static_cast<uint8_t>(lba >> 16);
        cdb[4] = static_cast<uint8_t>(lba >> 8);
        cdb[5] = static_cast<uint8_t>(lba);
        buffer[0] = static_cast<uint8_t>(i);
        tvx::ScsiResult r = drive.execute(request);
        if (r.status != tvx::kScsiStatusGood) {
            std::fprintf(stderr, "WRITE(10) refused at %u\n", lba);
            return -1;
        }
    }
    return Seconds(start);
}

double PlainWrite(const std::string& path, std::vector<uint8_t>& buffer) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return -1;
    auto start = std::chrono::steady_clock::now();
    for (uint32_t i = 0; i < kChunks; ++i) {
        buffer[0] = static_cast<uint8_t>(i);
        if (::write(fd, buffer.data(), kChunkBytes) != static_cast<ssize_t>(kChunkBytes)) {
            ::close(fd);
            return -1;
        }
    }
    double s = Seconds(start);
    ::close(fd);
    return s;
}

void Report(const char* what, double seconds) {
    std::printf("%-34s %8.3f s  %8.1f MB/s\n", what, seconds, kTotalBytes / seconds / 1e6);
}

} // namespace

int main() {
    const char* tmp = std::getenv("TMPDIR");
    std::string dir = tmp && *tmp ? tmp : "/tmp";
    std::string disc = dir + "/tvx_vdrive_bench_disc.img";
    std::string plain = dir + "/tvx_vdrive_bench_plain.bin";
    std::vector<uint8_t> buffer(kChunkBytes, 0x5A);

    // Best of two rounds each; every file run starts with the page cache written back, so one
    // run's dirty pages do not slow the next.
    double memory = 1e9, file = 1e9, plainSeconds = 1e9;
    for (int round = 0; round < 2; ++round) {
        double m = BurnToDrive("", buffer);
        ::sync();
        double p = PlainWrite(plain, buffer);
        std::remove(plain.c_str());
        ::sync();
        double f = BurnToDrive(disc, buffer);
        std::remove(disc.c_str());
        std::remove((disc + ".state").c_str());
        ::sync();
        if (m < 0 || f < 0 || p < 0) return 1;
        memory = std::min(memory, m);
        file = std::min(file, f);
        plainSeconds = std::min(plainSeconds, p);
    }

    std::printf("1 GiB in %u WRITE(10) commands of %u blocks\n", kChunks, kChunkBlocks);
    Report("in-memory disc", memory);
    Report("sparse-file disc", file);
    Report("plain sequential file write", plainSeconds);
    std::printf("sparse-file disc / plain write: %.2f (target at least 0.80)\n",
                plainSeconds / file);
    std::printf("in-memory disc: %.2f GB/s (target at least 1.00)\n", kTotalBytes / memory / 1e9);
    return 0;
}
