// Burning folders, file sets and images, the size check, and erasing.
#include "commands.h"
#include "progress.h"
#include "results.h"

#include <cstdio>
#include <fstream>

namespace tvxcli {

namespace {

bool makeBurnOptions(const Options& options, TVX_BurnOptions& out) {
    if (options.testWrite && options.verify) {
        std::fprintf(stderr, "error: --test and --verify exclude each other\n");
        return false;
    }
    if (!ParseSpeed(options.speed, out.writeSpeed)) {
        std::fprintf(stderr, "error: bad speed '%s' (use 8x, a value in kB/s, or max)\n",
                     options.speed.c_str());
        return false;
    }
    out.mode = options.testWrite ? TVX_MODE_TEST_WRITE
                                 : options.verify ? TVX_MODE_WRITE_VERIFY : TVX_MODE_WRITE;
    return true;
}

const char* labelOrNull(const Options& options) {
    return options.label.empty() ? nullptr : options.label.c_str();
}

int finish(const char* what, TVX_Result result, TVX_RecHandle handle, const Options& options) {
    EndProgress();
    if (result != TVX_OK) return ReportFailure(what, result, handle);
    if (!options.quiet)
        std::printf("%s: done%s\n", what,
                    options.testWrite ? " (test write: nothing was recorded)"
                                      : options.verify ? ", verified" : "");
    return kExitOk;
}

bool splitPair(const std::string& text, std::string& volume, std::string& hostPath) {
    size_t eq = text.find('=');
    if (eq == std::string::npos || eq == 0 || eq + 1 == text.size()) return false;
    volume = text.substr(0, eq);
    hostPath = text.substr(eq + 1);
    return true;
}

} // namespace

int Burn(const Options& options, BurnSource source, const std::string& path) {
    TVX_BurnOptions burn;
    if (!makeBurnOptions(options, burn)) return kExitUsage;
    Session session;
    if (int rc = session.open(options.drive)) return rc;
    SetProgressQuiet(options.quiet);
    InstallInterruptHandler();
    TVX_RecHandle h = session.handle();
    TVX_Result r = TVX_OK;
    const char* what = "burn";
    switch (source) {
    case BurnSource::VideoTs:
        r = TVX_BurnVideoTsFolder(h, &burn, path.c_str(), labelOrNull(options), ProgressCallback, 0);
        what = "burn VIDEO_TS folder";
        break;
    case BurnSource::DvdVideo:
        r = TVX_BurnDVDVIDEO(h, &burn, path.c_str(), labelOrNull(options), ProgressCallback, 0);
        what = "burn DVD-Video folder";
        break;
    case BurnSource::Data:
        r = TVX_BurnVolumeData(h, &burn, path.c_str(), labelOrNull(options), ProgressCallback, 0);
        what = "burn data folder";
        break;
    case BurnSource::Image:
        r = TVX_BurnVolumeImage(h, &burn, path.c_str(), ProgressCallback, 0);
        what = "burn image";
        break;
    }
    return finish(what, r, h, options);
}

int BurnFileSet(const Options& options, const std::vector<std::string>& pairs,
                const std::string& listFile) {
    std::vector<std::string> texts = pairs;
    if (!listFile.empty()) {
        std::ifstream in(listFile);
        if (!in) {
            std::fprintf(stderr, "error: cannot read %s\n", listFile.c_str());
            return kExitUsage;
        }
        for (std::string line; std::getline(in, line);) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (!line.empty() && line[0] != '#') texts.push_back(line);
        }
    }
    std::vector<std::string> volume(texts.size()), hostPath(texts.size());
    std::vector<TVX_FileSetEntry> entries(texts.size());
    for (size_t i = 0; i < texts.size(); ++i) {
        if (!splitPair(texts[i], volume[i], hostPath[i])) {
            std::fprintf(stderr, "error: '%s' is not VOLUME_PATH=HOST_PATH\n", texts[i].c_str());
            return kExitUsage;
        }
        entries[i] = {volume[i].c_str(), hostPath[i].c_str()};
    }
    if (entries.empty()) {
        std::fprintf(stderr, "error: the file set is empty\n");
        return kExitUsage;
    }
    TVX_BurnOptions burn;
    if (!makeBurnOptions(options, burn)) return kExitUsage;
    Session session;
    if (int rc = session.open(options.drive)) return rc;
    SetProgressQuiet(options.quiet);
    InstallInterruptHandler();
    TVX_Result r = TVX_BurnFileSet(session.handle(), &burn, entries.data(),
                                   static_cast<int32_t>(entries.size()), labelOrNull(options),
                                   ProgressCallback, 0);
    return finish("burn file set", r, session.handle(), options);
}

int CheckVideoTs(const Options& options, const std::string& folder) {
    Session session;
    if (int rc = session.open(options.drive)) return rc;
    uint32_t size = 0, free = 0;
    TVX_Result r = TVX_CheckVideoTsFolderSize(session.handle(), folder.c_str(), &size, &free);
    if (r == TVX_OK || r == TVX_ERR_NO_SPACE)
        std::printf("volume: %u sectors, disc: %u free sectors: %s\n", size, free,
                    r == TVX_OK ? "fits" : "does not fit");
    return r == TVX_OK ? kExitOk : ReportFailure("check", r, session.handle());
}

int Erase(const Options& options) {
    Session session;
    if (int rc = session.open(options.drive)) return rc;
    SetProgressQuiet(options.quiet);
    TVX_Result r = TVX_EraseDisc(session.handle(), options.full ? 0 : 1, ProgressCallback, 0);
    EndProgress();
    if (r != TVX_OK) return ReportFailure("erase", r, session.handle());
    if (!options.quiet) std::printf("erase: done\n");
    return kExitOk;
}

} // namespace tvxcli
