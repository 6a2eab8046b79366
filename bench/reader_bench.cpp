// Disc reader figures:
// 1. TVX_OpenFile on discs of 25,000 to 100,000 entries, best of five: the time per entry stays
//    flat when the walk, the parent search and the path search are linear.
// 2. A 1 GiB file read with TVX_ReadFile in 1 MiB calls from a virtual DVD-ROM backed by a
//    sparse image file, against dd of the same bytes from the image.
#include "common/byte_order.h"
#include "image/udf_tag.h"
#include "memory_disc.h"
#include "support/direct_transport.h"
#include "support/temp_dir.h"
#include "test_udf_image.h"
#include "torvexin.h"
#include "vdrive/virtual_recorder.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

using namespace tvx;
using test::TestNode;

namespace {

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// Seconds per entry of opening the last file of a disc of `entries` entries.
double OpenOnLargeDisc(uint32_t entries) {
    const uint32_t perDirectory = 1000;
    std::vector<TestNode> dirs;
    for (uint32_t d = 0; d < entries / perDirectory; ++d) {
        std::vector<TestNode> files;
        for (uint32_t f = 0; f < perDirectory; ++f) {
            TestNode file = TestNode::File("FILE_" + std::to_string(f) + ".DAT", "x");
            file.alloc = TestNode::Alloc::Embedded; // one File Entry per file, no data block
            files.push_back(std::move(file));
        }
        dirs.push_back(TestNode::Dir("DIR_" + std::to_string(d), std::move(files)));
    }
    test::TestVolumeOptions options;
    options.sectors = entries + entries / perDirectory * 40 + 1024;
    test::TestVolume volume = test::BuildTestVolume(TestNode::Dir("", std::move(dirs)), options);

    test::DirectTransport transport;
    test::MemoryDisc disc(std::move(volume.image));
    RecHandle* handle = transport.open(disc);
    const std::string last = "/DIR_" + std::to_string(entries / perDirectory - 1) + "/FILE_" +
                             std::to_string(perDirectory - 1) + ".DAT";
    // Best of five: one open is a few tenths of a second, at the mercy of a busy machine.
    double best = 1e9;
    bool found = true;
    for (int run = 0; run < 5; ++run) {
        const auto start = std::chrono::steady_clock::now();
        TVX_DiscFile file = TVX_OpenFile(handle, last.c_str());
        best = std::min(best, Seconds(start));
        found = found && file;
        TVX_CloseFile(file);
    }
    std::printf("open on a disc of %6u entries (best of 5): %8.1f ms, %5.2f us per entry%s\n",
                entries, best * 1000, best * 1e6 / entries, found ? "" : "  (NOT FOUND)");
    return best / entries;
}

// A volume whose one file is 1 GiB of the sparse image: two extents, the first of 0x3FFFF800.
std::string MakeGigabyteImage(const test::TempDir& temp) {
    test::TestVolume volume = test::BuildTestVolume(
        TestNode::Dir("", {TestNode::File("BIG.VOB", std::string(2048, 'v'))}));
    const uint64_t size = 1ull << 30;
    const uint32_t dataBlock = volume.dataBlock["/BIG.VOB"];
    uint8_t* fe =
        volume.image.data() + (volume.partitionStart + volume.entryBlock["/BIG.VOB"]) * 2048ull;
    PutLe64(fe + 56, size);
    PutLe32(fe + 172, 16);
    PutLe32(fe + 176, 0x3FFFF800);
    PutLe32(fe + 180, dataBlock);
    PutLe32(fe + 184, 0x800);
    PutLe32(fe + 188, dataBlock + 0x3FFFF800 / 2048);
    UDF_MakeTag(fe, kTagFileEntry, volume.entryBlock["/BIG.VOB"], 176 + 16);
    // The partition grows to hold the file, in both copies of the descriptor sequence.
    const uint32_t partitionLength = dataBlock + static_cast<uint32_t>(size / 2048) + 1;
    for (uint32_t sector : {33u, 49u}) {
        uint8_t* pd = volume.image.data() + sector * 2048ull;
        PutLe32(pd + 192, partitionLength);
        UDF_MakeTag(pd, kTagPartition, sector, 512);
    }
    const std::string path = temp.file("big.img");
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(volume.image.data()),
              static_cast<std::streamsize>(volume.image.size()));
    out.close();
    const uint64_t end = (volume.partitionStart + dataBlock) * 2048ull + size + 1024 * 2048ull;
    if (truncate(path.c_str(), static_cast<off_t>(end)) != 0) return "";
    return path + ":" + std::to_string((volume.partitionStart + dataBlock) * 2048ull);
}

void ReadGigabyte() {
    test::TempDir temp;
    const std::string made = MakeGigabyteImage(temp);
    const std::string image = made.substr(0, made.rfind(':'));
    const std::string offset = made.substr(made.rfind(':') + 1);

    const std::string dd = "dd if='" + image +
                           "' of=/dev/null bs=1M iflag=skip_bytes,count_bytes skip=" + offset +
                           " count=" + std::to_string(1ull << 30) + " 2>/dev/null";
    // The best of several runs of each, after one that warms the page cache alike for both:
    // single runs of a tenth of a second are at the mercy of anything else on the machine.
    constexpr int kRuns = 5;
    std::system(dd.c_str());
    double ddSeconds = 1e9;
    for (int run = 0; run < kRuns; ++run) {
        auto start = std::chrono::steady_clock::now();
        if (std::system(dd.c_str()) != 0) std::printf("dd failed\n");
        ddSeconds = std::min(ddSeconds, Seconds(start));
    }

    test::ScopedSimHost host;
    test::DirectTransport transport;
    vdrive::VirtualRecorder drive(host->virtualClock());
    drive.setTraceEnabled(false);
    if (!drive.loadImage(image, vdrive::MediumKind::DvdRom)) {
        std::printf("the virtual recorder did not load the image\n");
        return;
    }
    TVX_DiscFile file = TVX_OpenFile(transport.open(drive), "/BIG.VOB");
    if (!file) {
        std::printf("/BIG.VOB not found\n");
        return;
    }
    std::vector<char> buffer(1 << 20);
    uint64_t total = 0;
    double readSeconds = 1e9;
    for (int run = 0; run < kRuns; ++run) {
        TVX_SeekFile(file, 0, 0, TVX_SEEK_SET);
        total = 0;
        uint32_t got = 0;
        auto start = std::chrono::steady_clock::now();
        while (TVX_ReadFile(file, buffer.data(), static_cast<uint32_t>(buffer.size()), &got) && got)
            total += got;
        readSeconds = std::min(readSeconds, Seconds(start));
    }
    TVX_CloseFile(file);
    const double mib = total / 1048576.0;
    std::printf("1 GiB file, TVX_ReadFile in 1 MiB calls: %.0f MiB in %.3f s = %.0f MiB/s\n", mib,
                readSeconds, mib / readSeconds);
    std::printf("dd of the same bytes from the image:     1024 MiB in %.3f s = %.0f MiB/s\n",
                ddSeconds, 1024 / ddSeconds);
    std::printf("ratio (reader / dd): %.2f\n", ddSeconds / readSeconds);
}

} // namespace

int main() {
    double at25k = OpenOnLargeDisc(25000);
    OpenOnLargeDisc(50000);
    double at100k = OpenOnLargeDisc(100000);
    std::printf("open cost per entry at 100,000 / at 25,000: %.2f (target <= 1.20)\n",
                at100k / at25k);
    ReadGigabyte();
    return 0;
}
