// tvx: burn DVDs, erase them, read files back and ask drives about themselves, all through
// Torvexin's public interface.
#include "command_words.h"
#include "commands.h"
#include "peer_spellings.h"
#include "results.h"
#include "source_date.h"
#include "view_commands.h"
#include "virtual_drives.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <cstdlib>
#include <optional>

using namespace tvxcli;

namespace {

const char* kFooter = R"(Exit codes:
  0  success
  1  bad command line: unknown command or option, missing or bad value (such as a speed
     that is not a number)
  2  no drive: no transport, no such drive, or it cannot be opened
  3  the operation failed (the result code, the drive's answer and, after a burn, the
     disc's state are shown); with --verify too, when writing or closing failed
  4  stopped by Ctrl-C, SIGTERM or SIGHUP (a burn or erase ends cleanly first)
  5  the read-back of --verify found a sector other than written or could not read the disc

Drives: -d takes the index or the device that `tvx drives` shows (/dev/sr0 for D:,
virtual:IMAGE for a virtual recorder).

Virtual drives: --virtual IMAGE[:KIND[:BLOCKS]] attaches a virtual recorder whose disc lives in
IMAGE (and IMAGE.state); a missing IMAGE becomes a blank disc of KIND (default dvd-r) with BLOCKS
blocks (default: a real disc's capacity; the file is sparse). An existing image file without
state loads as :dvd-rom or :dvd+rw. +BEHAVIOUR[=ARGS] after the kind (and size) gives the drive
a real drive's habit (write-busy, attention, recovered, descriptor-sense, slow-close,
close-only, page05-descriptor, max-transfer, ...: see README). The virtual recorders are an
ASPI layer (libwnaspi32.so in the library's private folder torvexin/) that the library uses
only when no pass-through drive answers: on a machine with a real CD/DVD drive the real drives
are listed and virtual drives are not seen.
Kinds: )";

std::vector<std::string> VirtualImagesFromEnvironment() {
    std::vector<std::string> images;
    const char* text = std::getenv("TVX_VIRTUAL_DRIVES");
    if (!text) return images;
    std::string item;
    for (const char* p = text;; ++p) {
        if (*p == ';' || *p == 0) {
            VirtualDriveRequest entry;
            std::string error;
            if (!item.empty() && ParseVirtualDrive(item, entry, error))
                images.push_back(entry.image);
            item.clear();
            if (!*p) break;
        } else {
            item += *p;
        }
    }
    return images;
}

} // namespace

int main(int rawArgc, char** rawArgv) {
    if (int code = RunProbeIfAsked(rawArgc, rawArgv); code >= 0) return code;
    CLI::App app{"tvx: burn, erase and read DVDs with Torvexin"};
    app.require_subcommand(1);
    app.fallthrough();
    app.footer(std::string(kFooter) + VirtualDriveKinds());

    Options options;
    std::vector<std::string> virtualDriveTexts;
    app.add_option("-d,--drive", options.drive,
                   "Drive: index or device as `tvx drives` shows it (default 0)");
    app.add_option("--virtual", virtualDriveTexts,
                   "Attach a virtual recorder IMAGE[:KIND[:BLOCKS][+BEHAVIOUR]...], or one that "
                   "replays a drive report: IMAGE:report=REPORT.json");
    std::vector<std::string> faultTexts;
    app.add_option("--virtual-fault", faultTexts,
                   "Make the virtual recorders fail a command (for testing): "
                   "OPCODE[@N]:sense:KK/AA/QQ[+06/AA/QQ] (a second attention for the next "
                   "command) or OPCODE[@N]:malformed");
    // Answered before parsing (AsksForVersion) when it comes before the command; after it, it
    // still only shows the version, so that nothing runs that was not meant to.
    bool versionAsked = false;
    app.add_flag("-V,--version", versionAsked, "Show the version and exit");
    app.add_flag("-q,--quiet", options.quiet, "No progress or success messages");
    app.add_flag("-v,--verbose", options.verbose,
                 "Show the phases of burns and erases and the drive's full sense data");
    app.add_flag("--json", options.json,
                 "Machine-readable output: one JSON document (drives, info, ls, check, "
                 "check-video-ts, make-image), "
                 "or one JSON object a line per event and a result object (burns, erase)");

    auto addBurnOptions = [&](CLI::App* cmd, bool withLabel) {
        if (withLabel) cmd->add_option("-l,-V,--label", options.label, "Volume label");
        cmd->add_option("-s,--speed", options.speed,
                        "Write speed: 8 or 8x (times 1385 kB/s), 11080kB, or max; a speed the "
                        "disc does not offer is lowered to one it does");
        cmd->add_flag("-t,--test", options.testWrite, "Test write: the drive records nothing");
        cmd->add_flag("--verify", options.verify, "Read every file back and compare");
    };

    BurnRequest request;
    std::string hostPath;
    PatchRequest patch;

    auto* version = app.add_subcommand("version", "Show the library's version");
    auto* drives = app.add_subcommand("drives", "List the drives with their devices");
    // Listed for the help text; RunProbeIfAsked hands the command line over before parsing.
    app.add_subcommand("probe", "Write a drive report (JSON) that a developer can replay; "
                                "see `tvx probe --help`")
        ->allow_extras();
    auto* info = app.add_subcommand("info", "Show a drive's abilities, status, disc and speeds");
    auto* videoTs = app.add_subcommand("burn-video-ts", "Burn a VIDEO_TS folder");
    videoTs->add_option("folder", request.path, "The VIDEO_TS folder")->required();
    addBurnOptions(videoTs, true);
    auto* dvdVideo =
        app.add_subcommand("burn-dvd-video", "Burn a DVD-Video folder (holding VIDEO_TS)");
    dvdVideo->add_option("folder", request.path, "The folder that holds VIDEO_TS")->required();
    addBurnOptions(dvdVideo, true);
    auto* data = app.add_subcommand("burn-data", "Burn a folder's contents as a data disc");
    data->add_option("folder", request.path, "The folder")->required();
    addBurnOptions(data, true);
    auto* fileSet = app.add_subcommand("burn-files", "Burn a file set");
    fileSet->add_option("pairs", request.pairs, "VOLUME_PATH=HOST_PATH pairs");
    fileSet->add_option("-f,--list", request.listFile, "A file of VOLUME_PATH=HOST_PATH lines");
    addBurnOptions(fileSet, true);
    auto* image = app.add_subcommand("burn-image", "Burn a finished image file unchanged");
    image->add_option("image", request.path, "The image file")->required();
    addBurnOptions(image, false);
    auto* makeImage = app.add_subcommand(
        "make-image", "Write the volume a burn would write to an image file, without a drive");
    std::string imageVideoTs, imageDvdVideo, imageData, imageOutput;
    std::vector<std::string> imageExcludes;
    bool imageFiles = false, peerDvdVideo = false;
    auto* fromVideoTs = makeImage->add_option("--video-ts", imageVideoTs, "A VIDEO_TS folder");
    auto* fromDvdVideo =
        makeImage->add_option("--dvd-video", imageDvdVideo, "A folder that holds VIDEO_TS");
    auto* fromData = makeImage->add_option("--data", imageData, "A folder's contents");
    auto* fromFiles = makeImage->add_flag(
        "--files", imageFiles,
        "A file set: VOLUME_PATH=HOST_PATH pairs and --list; a folder as HOST_PATH "
        "(/docs=DIR) brings its whole tree");
    // genisoimage's -dvd-video: the folder given is a DVD-Video folder.
    makeImage->add_flag("--peer-dvd-video", peerDvdVideo)->group("");
    makeImage->add_option("source", request.pairs,
                          "A folder whose contents become the volume (as --data), or with "
                          "--files its VOLUME_PATH=HOST_PATH pairs");
    makeImage->add_option("-f,--list", request.listFile,
                          "A file of VOLUME_PATH=HOST_PATH lines (with --files)");
    makeImage
        ->add_option("--exclude", imageExcludes,
                     "Leave out entries that match a shell pattern: on the name without "
                     "'/', on the path from the source folder with it (repeatable)")
        ->expected(1)
        ->take_all();
    makeImage
        ->add_option("-o,--output", imageOutput,
                     "The image file to write; - for standard "
                     "output")
        ->required();
    makeImage->add_option("-l,-V,--label", options.label, "Volume label");
    auto* check = app.add_subcommand("check-video-ts", "Check whether a VIDEO_TS folder fits");
    check->add_option("folder", request.path, "The VIDEO_TS folder")->required();
    auto* erase = app.add_subcommand("erase", "Erase a DVD-RW or DVD+RW (quick by default)");
    erase->add_flag("--full", options.full, "Blank the whole disc");
    auto* eject = app.add_subcommand("eject", "Open the tray");
    auto* load = app.add_subcommand("load", "Close the tray");
    auto* cat = app.add_subcommand("cat", "Write a file of the disc to standard output");
    cat->add_option("path", request.path, "Path on the disc, for example /VIDEO_TS/VIDEO_TS.IFO")
        ->required();
    auto* get = app.add_subcommand("get", "Copy a file of the disc to the host");
    get->add_option("path", request.path, "Path on the disc")->required();
    get->add_option("destination", hostPath, "Host file (replaced only when the read succeeds)")
        ->required();
    auto* patchCmd = app.add_subcommand("patch", "Change bytes of a DVD+RW in place");
    patchCmd->add_option("--mode", patch.mode, "absolute, partition or file")
        ->check(CLI::IsMember({"absolute", "partition", "file"}));
    patchCmd->add_option("--file", patch.file, "Disc path of the file (mode file)");
    patchCmd->add_option("--block", patch.block, "First sector, or block of the file")->required();
    patchCmd->add_option("--offset", patch.offset, "Byte offset inside the window");
    auto* hex = patchCmd->add_option("--hex", patch.hex, "Bytes to write, in hexadecimal pairs");
    auto* from = patchCmd->add_option("--from", patch.from, "Host file with the bytes to write");
    hex->excludes(from);

    ViewCommands view;
    view.add(app);
    UseCommandFooters(app);

    // Other tools' spellings and options before the command, before the parser sees them.
    std::vector<std::string> words(rawArgv, rawArgv + rawArgc), commands;
    for (auto* sub : app.get_subcommands([](CLI::App*) { return true; }))
        commands.push_back(sub->get_name());
    std::string spellingError;
    if (!TakePeerSpellings(words, commands, spellingError)) {
        std::fprintf(stderr, "error: %s\nRun 'tvx --help' for the commands and options.\n",
                     spellingError.c_str());
        return kExitUsage;
    }
    std::vector<char*> pointers;
    for (std::string& w : words)
        pointers.push_back(w.data());
    pointers.push_back(nullptr);
    const int argc = static_cast<int>(words.size());
    char** argv = pointers.data();
    if (AsksForVersion(argc, argv)) {
        std::printf("%s\n", VersionText().c_str());
        return kExitOk;
    }
    if (int rc = RefuseUnknownCommand(app, argc, argv)) return rc;

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        // Help is success; every other parse error is a bad command line, whatever number the
        // parser would give it.
        if (e.get_exit_code() == 0) return app.exit(e) == 0 ? kExitOk : kExitUsage;
        std::fprintf(stderr, "error: %s\nRun 'tvx --help' for the commands and options.\n",
                     e.what());
        return kExitUsage;
    }

    if (versionAsked) {
        std::printf("%s\n", VersionText().c_str());
        return kExitOk;
    }

    const bool jsonResult =
        *videoTs || *dvdVideo || *data || *fileSet || *image || *erase || *makeImage;
    const char* command = app.get_subcommands().front()->get_name().c_str();
    auto finish = [&](int rc) {
        if (options.json && jsonResult && !JsonResultPrinted())
            PrintJsonResult(options, command, nullptr, rc, nullptr, "");
        return rc;
    };

    if (!virtualDriveTexts.empty()) {
        std::vector<VirtualDriveRequest> requests;
        for (const auto& text : virtualDriveTexts) {
            VirtualDriveRequest entry;
            std::string error;
            if (!ParseVirtualDrive(text, entry, error))
                return finish(Fail(kExitUsage, "%s", error.c_str()));
            requests.push_back(entry);
            options.virtualImages.push_back(entry.image);
        }
        for (const auto& text : faultTexts) {
            VirtualFaultRequest fault;
            std::string error;
            if (!ParseVirtualFault(text, fault, error))
                return finish(Fail(kExitUsage, "%s", error.c_str()));
        }
        std::string error;
        if (!ConfigureVirtualDrives(requests, faultTexts, error))
            return finish(Fail(kExitNoDrive, "%s", error.c_str()));
    } else {
        options.virtualImages = VirtualImagesFromEnvironment();
    }

    if (*videoTs || *dvdVideo || *data || *fileSet || *makeImage) {
        std::optional<int64_t> sourceDate;
        std::string error;
        if (!ReadSourceDate(sourceDate, error))
            return finish(Fail(kExitUsage, "%s", error.c_str()));
        if (sourceDate) UseSourceDate(*sourceDate);
        options.sourceDate = sourceDate.has_value();
    }
    if (*version) {
        std::printf("%s\n", VersionText().c_str());
        return kExitOk;
    }
    if (*drives) return ListDrives(options);
    if (*info) return ShowInfo(options);
    if (*videoTs) request.source = BurnSource::VideoTs;
    if (*dvdVideo) request.source = BurnSource::DvdVideo;
    if (*data) request.source = BurnSource::Data;
    if (*image) request.source = BurnSource::Image;
    if (*fileSet) request.source = BurnSource::Files;
    if (*videoTs || *dvdVideo || *data || *image || *fileSet) return finish(Burn(options, request));
    if (*makeImage) {
        // A lone positional word without a named source is the folder to record, as genisoimage
        // takes it.
        const bool positionalFolder = !imageFiles && fromVideoTs->count() == 0 &&
                                      fromDvdVideo->count() == 0 && fromData->count() == 0 &&
                                      request.pairs.size() == 1 && request.listFile.empty();
        if (positionalFolder) {
            imageData = request.pairs.front();
            request.pairs.clear();
        }
        const bool peerFolder = peerDvdVideo && !imageData.empty();
        if (peerFolder) std::swap(imageData, imageDvdVideo);
        int sources = (fromVideoTs->count() > 0) + (fromDvdVideo->count() > 0 || peerFolder) +
                      (!imageData.empty()) + (fromFiles->count() > 0);
        if (sources != 1)
            return finish(Fail(kExitUsage,
                               "make-image takes exactly one source: a folder, --video-ts, "
                               "--dvd-video, --data or --files"));
        if (!imageFiles && (!request.pairs.empty() || !request.listFile.empty()))
            return finish(Fail(kExitUsage, "file pairs and --list go with --files"));
        request.source = imageFiles               ? BurnSource::Files
                         : !imageVideoTs.empty()  ? BurnSource::VideoTs
                         : !imageDvdVideo.empty() ? BurnSource::DvdVideo
                                                  : BurnSource::Data;
        request.path = imageFiles ? "" : imageVideoTs + imageDvdVideo + imageData;
        return finish(MakeImage(options, request, imageExcludes, imageOutput));
    }
    if (*check) return CheckVideoTs(options, request.path);
    if (int rc = view.run(options); rc >= 0) return rc;
    if (*erase) return finish(Erase(options));
    if (*eject) return Eject(options);
    if (*load) return Load(options);
    if (*cat) return CatFile(options, request.path);
    if (*get) return GetFile(options, request.path, hostPath);
    if (*patchCmd) {
        if (patch.hex.empty() && patch.from.empty())
            return Fail(kExitUsage, "give --hex or --from");
        if (patch.mode == "file" && patch.file.empty())
            return Fail(kExitUsage, "mode file needs --file");
        return Patch(options, patch);
    }
    return kExitUsage;
}
