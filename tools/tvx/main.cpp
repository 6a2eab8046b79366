// tvx: burn DVDs, erase them, read files back and ask drives about themselves, all through
// Torvexin's public interface.
#include "commands.h"
#include "results.h"
#include "virtual_drives.h"

#include <CLI/CLI.hpp>

#include <cstdio>

using namespace tvxcli;

namespace {

const char* kFooter = R"(Exit codes:
  0  success
  1  bad command line
  2  no drive: no transport, no such drive, or it cannot be opened
  3  the operation failed (the result code and, for drive errors, the drive's answer are shown)
  4  stopped with Ctrl-C (the disc is closed before the tool ends)
  5  verification found a difference

Virtual drives: --virtual IMAGE[:KIND[:BLOCKS]] attaches a virtual recorder whose disc lives in
IMAGE (and IMAGE.state); a missing IMAGE becomes a blank disc of KIND (default dvd-r) with BLOCKS
blocks (default: a real disc's capacity; the file is sparse). An existing image file without
state loads as :dvd-rom or :dvd+rw. The virtual recorders are an ASPI layer (libwnaspi32.so
beside the library) that the library uses only when no pass-through drive answers: on a machine
with a real CD/DVD drive the real drives are listed and virtual drives are not seen. Virtual
drives are reached by their adapter address and have no drive letter. Kinds: )";

} // namespace

int main(int argc, char** argv) {
    CLI::App app{"tvx: burn, erase and read DVDs with Torvexin"};
    app.require_subcommand(1);
    app.footer(std::string(kFooter) + VirtualDriveKinds());

    Options options;
    std::vector<std::string> virtualSpecs;
    app.add_option("-d,--drive", options.drive, "Drive index (see `tvx drives`)")
        ->check(CLI::NonNegativeNumber);
    app.add_option("--virtual", virtualSpecs, "Attach a virtual recorder IMAGE[:KIND[:BLOCKS]]");
    std::vector<std::string> faultSpecs;
    app.add_option("--virtual-fault", faultSpecs,
                   "Make the virtual recorders fail a command (for testing): "
                   "OPCODE[@N]:sense:KK/AA/QQ or OPCODE[@N]:malformed");
    app.add_flag("-q,--quiet", options.quiet, "No progress or success messages");

    auto addBurnOptions = [&](CLI::App* cmd, bool withLabel) {
        if (withLabel) cmd->add_option("-l,--label", options.label, "Volume label");
        cmd->add_option("-s,--speed", options.speed, "Write speed: 8x, kB/s, or max");
        cmd->add_flag("-t,--test", options.testWrite, "Test write: the drive records nothing");
        cmd->add_flag("-v,--verify", options.verify, "Read every file back and compare");
    };

    std::string path, hostPath, listFile;
    std::vector<std::string> pairs;
    PatchRequest patch;

    auto* version = app.add_subcommand("version", "Show the library's version");
    auto* drives = app.add_subcommand("drives", "List the drives");
    auto* info = app.add_subcommand("info", "Show a drive's abilities, status, disc and speeds");
    auto* videoTs = app.add_subcommand("burn-video-ts", "Burn a VIDEO_TS folder");
    videoTs->add_option("folder", path, "The VIDEO_TS folder")->required();
    addBurnOptions(videoTs, true);
    auto* dvdVideo =
        app.add_subcommand("burn-dvd-video", "Burn a DVD-Video folder (holding VIDEO_TS)");
    dvdVideo->add_option("folder", path, "The folder that holds VIDEO_TS")->required();
    addBurnOptions(dvdVideo, true);
    auto* data = app.add_subcommand("burn-data", "Burn a folder's contents as a data disc");
    data->add_option("folder", path, "The folder")->required();
    addBurnOptions(data, true);
    auto* fileSet = app.add_subcommand("burn-files", "Burn a file set");
    fileSet->add_option("pairs", pairs, "VOLUME_PATH=HOST_PATH pairs");
    fileSet->add_option("-f,--list", listFile, "A file of VOLUME_PATH=HOST_PATH lines");
    addBurnOptions(fileSet, true);
    auto* image = app.add_subcommand("burn-image", "Burn a finished image file unchanged");
    image->add_option("image", path, "The image file")->required();
    addBurnOptions(image, false);
    auto* check = app.add_subcommand("check-video-ts", "Check whether a VIDEO_TS folder fits");
    check->add_option("folder", path, "The VIDEO_TS folder")->required();
    auto* erase = app.add_subcommand("erase", "Erase a DVD-RW or DVD+RW (quick by default)");
    erase->add_flag("--full", options.full, "Blank the whole disc");
    auto* eject = app.add_subcommand("eject", "Open the tray");
    auto* load = app.add_subcommand("load", "Close the tray");
    auto* cat = app.add_subcommand("cat", "Write a file of the disc to standard output");
    cat->add_option("path", path, "Path on the disc, for example /VIDEO_TS/VIDEO_TS.IFO")
        ->required();
    auto* get = app.add_subcommand("get", "Copy a file of the disc to the host");
    get->add_option("path", path, "Path on the disc")->required();
    get->add_option("destination", hostPath, "Host file")->required();
    auto* patchCmd = app.add_subcommand("patch", "Change bytes of a DVD+RW in place");
    patchCmd->add_option("--mode", patch.mode, "absolute, partition or file")
        ->check(CLI::IsMember({"absolute", "partition", "file"}));
    patchCmd->add_option("--file", patch.file, "Disc path of the file (mode file)");
    patchCmd->add_option("--block", patch.block, "First sector, or block of the file")
        ->required();
    patchCmd->add_option("--offset", patch.offset, "Byte offset inside the window");
    auto* hex = patchCmd->add_option("--hex", patch.hex, "Bytes to write, in hexadecimal");
    auto* from = patchCmd->add_option("--from", patch.from, "Host file with the bytes to write");
    hex->excludes(from);

    CLI11_PARSE(app, argc, argv);

    if (!virtualSpecs.empty()) {
        std::vector<VirtualDriveSpec> requests;
        for (const auto& text : virtualSpecs) {
            VirtualDriveSpec request;
            std::string error;
            if (!ParseVirtualDrive(text, request, error)) {
                std::fprintf(stderr, "error: %s\n", error.c_str());
                return kExitUsage;
            }
            requests.push_back(request);
        }
        for (const auto& text : faultSpecs) {
            VirtualFaultSpec fault;
            std::string error;
            if (!ParseVirtualFault(text, fault, error)) {
                std::fprintf(stderr, "error: %s\n", error.c_str());
                return kExitUsage;
            }
        }
        std::string error;
        if (!ConfigureVirtualDrives(requests, faultSpecs, error)) {
            std::fprintf(stderr, "error: %s\n", error.c_str());
            return kExitNoDrive;
        }
    }

    if (*version) {
        uint32_t low = 0;
        uint32_t high = TVX_GetVersion(&low);
        std::printf("Torvexin %u.%u.%u.%u\n", high >> 16, high & 0xFFFF, low >> 16, low & 0xFFFF);
        return kExitOk;
    }
    if (*drives) return ListDrives(options);
    if (*info) return ShowInfo(options);
    if (*videoTs) return Burn(options, BurnSource::VideoTs, path);
    if (*dvdVideo) return Burn(options, BurnSource::DvdVideo, path);
    if (*data) return Burn(options, BurnSource::Data, path);
    if (*image) return Burn(options, BurnSource::Image, path);
    if (*fileSet) return BurnFileSet(options, pairs, listFile);
    if (*check) return CheckVideoTs(options, path);
    if (*erase) return Erase(options);
    if (*eject) return Eject(options);
    if (*load) return Load(options);
    if (*cat) return CatFile(options, path);
    if (*get) return GetFile(options, path, hostPath);
    if (*patchCmd) {
        if (patch.hex.empty() && patch.from.empty()) {
            std::fprintf(stderr, "error: give --hex or --from\n");
            return kExitUsage;
        }
        if (patch.mode == "file" && patch.file.empty()) {
            std::fprintf(stderr, "error: mode file needs --file\n");
            return kExitUsage;
        }
        return Patch(options, patch);
    }
    return kExitUsage;
}
