// Same-bytes check for the data path: burns a fixed folder (small files with long clashing
// names, in one folder and in a tree, with fixed modification times) to a virtual DVD+R under a
// frozen clock and prints a digest of the disc image. Run before and after a change of the
// image builder, the engine or the virtual recorder: the digests must be equal.
//
// Usage: same_bytes [work folder]   (default: $TMPDIR or /tmp)
#include "platform/host.h"
#include "platform/sim/sim_host.h"
#include "support/direct_transport.h"
#include "torvexin.h"
#include "vdrive/virtual_recorder.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

void WriteFile(const fs::path& path, int i) {
    std::vector<char> bytes(1024 + (i * 7919) % 7169);
    for (size_t k = 0; k < bytes.size(); ++k)
        bytes[k] = static_cast<char>(k * 131 + i);
    std::ofstream(path, std::ios::binary).write(bytes.data(), bytes.size());
    fs::last_write_time(path, fs::file_time_type(std::chrono::seconds(1700000000 + i)));
}

void MakeSource(const fs::path& root) {
    char name[160];
    for (int i = 0; i < 3000; ++i) {
        std::snprintf(name, sizeof name, "Photographs of the summer holiday, picture %06d.jpeg", i);
        WriteFile(root / "flat" / name, i);
        if (i % 50 == 0) WriteFile(root / name, i); // files at the top of the scan too
    }
    for (int i = 0; i < 1200; ++i) {
        std::snprintf(name, sizeof name, "Album number %03d", i / 40);
        fs::path dir = root / "tree" / name;
        if (i % 40 == 0) fs::create_directories(dir);
        std::snprintf(name, sizeof name, "Family picture with a long name %05d.jpeg", i);
        WriteFile(dir / name, i);
    }
    for (const auto& e : fs::recursive_directory_iterator(root))
        if (e.is_directory())
            fs::last_write_time(e.path(), fs::file_time_type(std::chrono::seconds(1600000000)));
}

// FNV-1a over the whole image, holes included.
uint64_t Digest(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::vector<char> buffer(1 << 20);
    uint64_t hash = 1469598103934665603ull;
    while (in) {
        in.read(buffer.data(), buffer.size());
        for (std::streamsize k = 0; k < in.gcount(); ++k)
            hash = (hash ^ static_cast<uint8_t>(buffer[k])) * 1099511628211ull;
    }
    return hash;
}

} // namespace

int main(int argc, char** argv) {
    const char* tmp = std::getenv("TMPDIR");
    fs::path base = argc > 1 ? fs::path(argv[1]) : fs::path(tmp ? tmp : "/tmp");
    fs::path work = base / ("tvx-same-bytes-" + std::to_string(getpid()));
    fs::create_directories(work / "source" / "flat");
    MakeSource(work / "source");
    fs::path disc = work / "disc.img";
    int status = 1;
    {
        tvx::SimHost sim;
        sim.setCurrentFileTime(133000000000000000ull);
        tvx::setHost(&sim);
        {
            tvx::vdrive::VirtualRecorder drive(sim.virtualClock());
            drive.setTraceEnabled(false);
            drive.insertBlank(tvx::vdrive::MediumKind::DvdPlusR, 0, disc.string());
            tvx::test::DirectTransport transport;
            tvx::RecHandle* handle = transport.open(drive);
            TVX_BurnOptions options = {TVX_MODE_WRITE, -1};
            std::string source = (work / "source").string();
            TVX_Result result =
                TVX_BurnVolumeData(handle, &options, source.c_str(), "SAMEBYTES", nullptr, 0);
            drive.removeDisc();
            if (result == TVX_OK) {
                std::printf("image digest %016llx, %llu bytes\n",
                            static_cast<unsigned long long>(Digest(disc)),
                            static_cast<unsigned long long>(fs::file_size(disc)));
                status = 0;
            } else {
                std::fprintf(stderr, "burn failed: %08X\n", static_cast<unsigned>(result));
            }
        }
        tvx::setHost(nullptr);
    }
    fs::remove_all(work);
    return status;
}
