// check: whether the volume of a folder or a file set fits the disc in the drive.
//
// The library sizes a VIDEO_TS folder's volume exactly (TVX_CheckVideoTsFolderSize), and that
// volume holds the folder as one directory of the root. Other sources are sized as such a
// folder too: a data folder as itself, a DVD-Video folder or a file set as a private folder of
// links to their files. Their volume then has one directory more than the burn's, so the size
// is an upper bound, a few sectors above the burn's (kNestingMargin).
#include "burn_run.h"
#include "commands.h"
#include "json.h"
#include "results.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

namespace tvxcli {

namespace {

namespace fs = std::filesystem;

// The most the extra directory can add: its File Entry and listing, the root's listing, an
// ISO directory, a path table sector in each of the two tables, an AUDIO_TS the library adds to
// a folder named VIDEO_TS, and the DVD-Video alignment of 16 sectors.
constexpr uint32_t kNestingMargin = 32;
constexpr uint64_t kSectorBytes = 2048;

// A folder of links in the temporary directory, made with a unique name and mode 0700, so
// nothing in it can be planted by another user; removed with everything in it (links are not
// followed).
class LinkFolder {
  public:
    ~LinkFolder() {
        std::error_code ec;
        if (!top_.empty()) fs::remove_all(top_, ec);
    }
    bool create(std::string& error) {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/tvx-check-XXXXXX";
        if (!::mkdtemp(pattern.data())) {
            error = "cannot make a temporary folder: " + std::string(std::strerror(errno));
            return false;
        }
        top_ = pattern;
        volume_ = top_ + "/volume";
        return ::mkdir(volume_.c_str(), 0700) == 0 || fail(error, volume_);
    }
    const std::string& volume() const { return volume_; }
    bool link(const std::string& target, const std::string& at, std::string& error) {
        return ::symlink(target.c_str(), at.c_str()) == 0 || fail(error, at);
    }
    bool folder(const std::string& at, std::string& error) {
        return ::mkdir(at.c_str(), 0700) == 0 || fail(error, at);
    }

  private:
    static bool fail(std::string& error, const std::string& path) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    std::string top_, volume_;
};

std::string Absolute(const std::string& path) {
    std::error_code ec;
    fs::path p = fs::absolute(path, ec);
    return ec ? path : p.string();
}

bool IsFolder(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string Lower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

// A DVD-Video folder: its entries, and an empty AUDIO_TS when it has none, as the burn makes.
bool MirrorDvdVideo(const std::string& source, LinkFolder& links, std::string& error) {
    std::error_code ec;
    bool audio = false;
    for (const auto& entry : fs::directory_iterator(source, ec)) {
        std::string name = entry.path().filename().string();
        audio = audio || name == "AUDIO_TS";
        if (!links.link(Absolute(entry.path().string()), links.volume() + "/" + name, error))
            return false;
    }
    if (ec) {
        error = source + ": " + ec.message();
        return false;
    }
    return audio || links.folder(links.volume() + "/AUDIO_TS", error);
}

// A file set: its folders made, its files linked; a later entry for a path replaces an earlier
// one, and names are matched with ASCII letters in either case, as the burn does.
bool MirrorFileSet(const BurnRequest& request, LinkFolder& links, std::string& error) {
    std::map<std::string, std::string> made; // lower-case volume path -> mirror path
    std::map<std::string, bool> isFolder;
    std::map<std::string, std::string> leafAsGiven; // a file's lower-case name before cleaning
    for (const auto& pair : request.pairs) {
        size_t eq = pair.find('=');
        std::string volume = pair.substr(0, eq), host = pair.substr(eq + 1);
        struct stat st;
        if (::stat(host.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
            error = host + ": not a file that can be read";
            return false;
        }
        std::string key, at = links.volume();
        std::string part;
        std::vector<std::string> parts;
        for (char c : volume + "/") {
            if (c == '/' || c == '\\') {
                if (!part.empty()) parts.push_back(part);
                part.clear();
            } else {
                part += c;
            }
        }
        if (parts.empty()) {
            error = volume + ": names no file";
            return false;
        }
        for (size_t i = 0; i < parts.size(); ++i) {
            if (parts[i] == "." || parts[i] == "..") {
                error = volume + ": a file set's path holds no . or .. component";
                return false;
            }
            const bool leaf = i + 1 == parts.size();
            // A file's name is recorded with these characters as '_'; a name that only this
            // makes equal to an earlier one is refused, never a replacement.
            const std::string given = parts[i];
            if (leaf)
                for (char& c : parts[i])
                    if (std::strchr(":*?\"<>|", c)) c = '_';
            key += "/" + Lower(parts[i]);
            auto found = made.find(key);
            if (found != made.end()) {
                at = found->second;
                if (leaf && !isFolder[key] && leafAsGiven[key] != Lower(given)) {
                    error = volume + ": the same name as an earlier entry once : * ? \" < > | are "
                                     "recorded as _";
                    return false;
                }
                if (leaf && isFolder[key]) {
                    error = volume + ": names a folder of the file set";
                    return false;
                }
                if (!leaf && !isFolder[key]) {
                    error = volume + ": a path through a file";
                    return false;
                }
                continue;
            }
            at += "/" + parts[i];
            made[key] = at;
            isFolder[key] = !leaf;
            if (leaf) leafAsGiven[key] = Lower(given);
            if (!leaf && !links.folder(at, error)) return false;
        }
        std::error_code ec;
        fs::remove(at, ec);
        if (!links.link(Absolute(host), at, error)) return false;
    }
    return true;
}

const char* SourceName(BurnSource source) {
    switch (source) {
    case BurnSource::VideoTs:
        return "video-ts";
    case BurnSource::DvdVideo:
        return "dvd-video";
    case BurnSource::Files:
        return "files";
    default:
        return "data";
    }
}

std::string Bytes(uint64_t sectors) {
    char text[32];
    double bytes = static_cast<double>(sectors * kSectorBytes);
    if (bytes >= 1024.0 * 1024 * 1024)
        std::snprintf(text, sizeof text, "%.2f GiB", bytes / (1024.0 * 1024 * 1024));
    else
        std::snprintf(text, sizeof text, "%.1f MiB", bytes / (1024.0 * 1024));
    return text;
}

} // namespace

int CheckFits(const Options& options, const BurnRequest& requested) {
    BurnRequest request = requested;
    Options prepare = options;
    prepare.speed.clear();
    prepare.testWrite = prepare.verify = false;
    TVX_BurnOptions ignored{};
    if (int rc = PrepareBurn(prepare, request, ignored)) return rc;

    // What the library measures, and whether that is the burn's volume or a bound of it.
    std::string measured = request.path;
    bool exact = request.source == BurnSource::VideoTs;
    LinkFolder links;
    std::string error;
    if (request.source == BurnSource::DvdVideo) {
        if (!IsFolder(request.path + "/VIDEO_TS"))
            return Fail(kExitFailed, "%s holds no VIDEO_TS folder", request.path.c_str());
        // Only VIDEO_TS (and an empty AUDIO_TS): the very volume of that VIDEO_TS folder.
        std::error_code ec;
        bool onlyVideo = true;
        for (const auto& entry : fs::directory_iterator(request.path, ec)) {
            std::string name = entry.path().filename().string();
            if (name == "VIDEO_TS") continue;
            if (name == "AUDIO_TS" && IsFolder(entry.path().string()) &&
                fs::is_empty(entry.path(), ec))
                continue;
            onlyVideo = false;
        }
        if (onlyVideo && !ec) {
            measured = request.path + "/VIDEO_TS";
            exact = true;
        } else if (!links.create(error) || !MirrorDvdVideo(request.path, links, error)) {
            return Fail(kExitFailed, "%s", error.c_str());
        } else {
            measured = links.volume();
        }
    } else if (request.source == BurnSource::Files) {
        if (!links.create(error) || !MirrorFileSet(request, links, error))
            return Fail(kExitFailed, "%s", error.c_str());
        measured = links.volume();
    }

    Session session;
    if (int rc = session.open(options)) return rc;
    uint32_t size = 0, free = 0;
    TVX_Result r = TVX_CheckVideoTsFolderSize(session.handle(), measured.c_str(), &size, &free);
    if (r != TVX_OK && r != TVX_ERR_NO_SPACE) {
        if (r == TVX_ERR_SOURCE)
            return Fail(kExitFailed, "%s cannot be read, or holds nothing to record",
                        request.source == BurnSource::Files ? "the file set"
                                                            : request.path.c_str());
        return ReportFailure("check", r, session.handle(), options.verbose);
    }
    TVX_DiscInfo disc{};
    TVX_GetDiscInfo(session.handle(), &disc);
    // Media written over in place offer their whole capacity however much they hold.
    uint32_t space = disc.freeBlocks;
    if (!space && (disc.mediaType & (MediaDvdPlusRw | MediaDvdRam | MediaDvdRw)))
        space = disc.capacityBlocks;
    const bool fits = r == TVX_OK;
    const bool surelyNot = exact || uint64_t{size} > uint64_t{space} + kNestingMargin;
    const char* verdict = fits ? "fits" : surelyNot ? "does not fit" : "may not fit";

    if (options.json) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "0x%08X", static_cast<unsigned>(r));
        JsonObject doc;
        doc.add("source", SourceName(request.source));
        if (request.source != BurnSource::Files) doc.add("path", request.path);
        doc.add("result", TVX_ResultName(r))
            .add("code", static_cast<int64_t>(static_cast<uint32_t>(r)))
            .add("codeText", hex)
            .add("volumeSectors", int64_t{size})
            .add("exact", exact)
            .add("discSectors", int64_t{space})
            .add("fits", fits)
            .add("verdict", verdict);
        std::printf("%s\n", doc.str().c_str());
    } else {
        std::printf("volume: %s%u sectors (%s), disc: %u sectors (%s): %s\n",
                    exact ? "" : "at most ", size, Bytes(size).c_str(), space, Bytes(space).c_str(),
                    verdict);
        if (!fits && !surelyNot)
            std::printf("  the volume is within %u sectors of the disc's space; make-image "
                        "gives its exact size\n",
                        kNestingMargin);
    }
    if (fits) return kExitOk;
    return ReportFailure("check", r, session.handle(), options.verbose);
}

} // namespace tvxcli
