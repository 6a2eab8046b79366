#include "view_commands.h"

#include "results.h"

namespace tvxcli {

void ViewCommands::add(CLI::App& app) {
    ls_ = app.add_subcommand("ls", "List a folder of the disc (a file: that file)");
    ls_->add_option("path", discPath_, "Path on the disc (default /)");
    ls_->add_flag("-l,--long", longListing_, "Sizes and modification times too");

    check_ = app.add_subcommand(
        "check", "Tell whether a folder or file set fits the disc in the drive, with the sizes");
    check_->add_option("--video-ts", videoTs_, "A VIDEO_TS folder");
    check_->add_option("--dvd-video", dvdVideo_, "A folder that holds VIDEO_TS");
    check_->add_option("--data", data_, "A folder's contents");
    check_->add_flag("--files", files_, "A file set: VOLUME_PATH=HOST_PATH pairs and --list");
    check_->add_option("pairs", request_.pairs, "VOLUME_PATH=HOST_PATH pairs (with --files)");
    check_->add_option("-f,--list", request_.listFile,
                       "A file of VOLUME_PATH=HOST_PATH lines (with --files)");
}

int ViewCommands::run(const Options& options) {
    if (*ls_) return ListFolder(options, discPath_.empty() ? "/" : discPath_, longListing_);
    if (!*check_) return -1;
    int sources = (check_->count("--video-ts") > 0) + (check_->count("--dvd-video") > 0) +
                  (check_->count("--data") > 0) + files_;
    if (sources != 1)
        return Fail(kExitUsage, "check takes exactly one of --video-ts, --dvd-video, --data and "
                                "--files");
    if (!files_ && (!request_.pairs.empty() || !request_.listFile.empty()))
        return Fail(kExitUsage, "file pairs and --list go with --files");
    BurnRequest request = request_;
    request.source = files_               ? BurnSource::Files
                     : !videoTs_.empty()  ? BurnSource::VideoTs
                     : !dvdVideo_.empty() ? BurnSource::DvdVideo
                                          : BurnSource::Data;
    request.path = files_ ? "" : videoTs_ + dvdVideo_ + data_;
    return CheckFits(options, request);
}

} // namespace tvxcli
