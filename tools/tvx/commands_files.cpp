// Reading files from the disc and patching a rewritable disc in place.
#include "commands.h"
#include "disc_listing.h"
#include "host_output.h"
#include "results.h"
#include "signals.h"

#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <thread>
#include <vector>

namespace tvxcli {

namespace {

// The LastError location of a window that TVX_SyncMMap refused to write back.
constexpr int32_t kWindowNotRead = 1107;
constexpr int32_t kWindowOutside = 1108;
constexpr int32_t kWindowWriteBack = 1109;

enum class CopyFailure { None, Read, Write, Stopped };

// Shows how long the drive has been taking the window back. The library waits for the drive
// inside TVX_SyncMMap with no callback, so the tool counts on a thread of its own; Ctrl-C ends
// the tool at once (the default action), which the drive's own writing outlives.
class WriteBackWatch {
  public:
    explicit WriteBackWatch(bool show) {
        if (show) ticker_ = std::thread([this] { run(); });
    }
    ~WriteBackWatch() {
        if (!ticker_.joinable()) return;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            done_ = true;
        }
        wake_.notify_one();
        ticker_.join();
        if (shown_) std::fprintf(stderr, terminal_ ? "\n" : "");
    }
    WriteBackWatch(const WriteBackWatch&) = delete;
    WriteBackWatch& operator=(const WriteBackWatch&) = delete;

  private:
    void run() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (int seconds = 1;; ++seconds) {
            if (wake_.wait_for(lock, std::chrono::seconds(1), [this] { return done_; })) return;
            // A quick write-back says nothing; a slow drive is shown every second on a terminal,
            // every ten seconds in a log.
            if (seconds < 2 || (!terminal_ && seconds != 2 && seconds % 10 != 0)) continue;
            std::fprintf(stderr,
                         terminal_ ? "\rwriting the window back: the drive has taken %d s "
                                     "(Ctrl-C ends tvx; the drive goes on)"
                                   : "writing the window back: the drive has taken %d s\n",
                         seconds);
            std::fflush(stderr);
            shown_ = true;
        }
    }
    const bool terminal_ = isatty(STDERR_FILENO);
    bool shown_ = false;
    bool done_ = false;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::thread ticker_;
};

// Copies the whole file to out, naming what failed.
CopyFailure copyOut(TVX_DiscFile file, FILE* out, int& writeErrno) {
    std::vector<unsigned char> buffer(1 << 20);
    uint64_t size = TVX_GetFileSize(file);
    uint64_t total = 0;
    while (total < size) {
        if (StopRequested()) return CopyFailure::Stopped;
        uint32_t got = 0;
        if (!TVX_ReadFile(file, buffer.data(), static_cast<uint32_t>(buffer.size()), &got) ||
            got == 0)
            return CopyFailure::Read;
        if (std::fwrite(buffer.data(), 1, got, out) != got) {
            writeErrno = errno;
            return CopyFailure::Write;
        }
        SimulateSignalForTests(TVX_EVENT_WRITE);
        total += got;
    }
    if (std::fflush(out) != 0) {
        writeErrno = errno;
        return CopyFailure::Write;
    }
    return CopyFailure::None;
}

// Says why a path did not open, as the library recorded it (no such path, a damaged entry or
// directory, no file system at all).
void reportNotOpened(const std::string& discPath, TVX_RecHandle handle) {
    TVX_LastError e;
    const bool known = TVX_GetLastError(handle, &e) == TVX_OK && e.description;
    std::fprintf(stderr, "error: %s: %s\n", discPath.c_str(),
                 known ? e.description : "not found on the disc");
    if (discPath.empty() || (discPath[0] != '/' && discPath[0] != '\\'))
        std::fprintf(stderr, "  paths start with /; folders end with /\n");
}

// Whether the path names a folder of the disc, with or without its trailing separator. Only
// asked where the answer matters: a path that did not open, or an opened entry of no bytes
// (a folder, or an empty file).
bool namesFolder(TVX_RecHandle handle, const std::string& discPath) {
    TVX_DiscFile root = TVX_OpenFile(handle, "/");
    if (!root) return false;
    std::vector<ListedEntry> entries;
    bool isFolder = false;
    std::string error;
    const bool listed = ListDiscPath(root, discPath, false, entries, isFolder, error);
    TVX_CloseFile(root);
    return listed && isFolder;
}

int withFile(const Options& options, const std::string& discPath, FILE* out, const char* outName) {
    Session session;
    if (int rc = session.open(options)) return rc;
    TVX_DiscFile file = TVX_OpenFile(session.handle(), discPath.c_str());
    // A folder has no bytes to copy, with or without its trailing separator.
    if ((!file || TVX_GetFileSize(file) == 0) && namesFolder(session.handle(), discPath)) {
        if (file) TVX_CloseFile(file);
        return Fail(kExitFailed, "%s is a folder", discPath.c_str());
    }
    if (!file) {
        reportNotOpened(discPath, session.handle());
        return kExitFailed;
    }
    int writeErrno = 0;
    CopyFailure failure = copyOut(file, out, writeErrno);
    TVX_CloseFile(file);
    switch (failure) {
    case CopyFailure::None:
        return kExitOk;
    case CopyFailure::Stopped:
        return Fail(kExitCancelled, "stopped by %s; %s", StopSignalName(),
                    out == stdout ? "the output is incomplete" : "the host file is unchanged");
    case CopyFailure::Read:
        Fail(kExitFailed, "reading %s from the disc failed", discPath.c_str());
        PrintLastError(stderr, session.handle(), options.verbose);
        return kExitFailed;
    case CopyFailure::Write:
        return Fail(kExitFailed, "writing %s to %s failed: %s", discPath.c_str(), outName,
                    std::strerror(writeErrno));
    }
    return kExitFailed;
}

bool parseHex(const std::string& text, std::vector<unsigned char>& out) {
    // Pairs of hexadecimal digits, which spaces or colons may separate.
    size_t i = 0;
    while (i < text.size()) {
        if (text[i] == ' ' || text[i] == ':') {
            ++i;
            continue;
        }
        if (i + 1 >= text.size() || !std::isxdigit(static_cast<unsigned char>(text[i])) ||
            !std::isxdigit(static_cast<unsigned char>(text[i + 1])))
            return false;
        out.push_back(static_cast<unsigned char>(std::stoi(text.substr(i, 2), nullptr, 16)));
        i += 2;
    }
    return !out.empty();
}

} // namespace

int CatFile(const Options& options, const std::string& discPath) {
    InstallStopHandlers();
    // A closed pipe ends cat as it ends any other filter.
    std::signal(SIGPIPE, SIG_DFL);
    return withFile(options, discPath, stdout, "standard output");
}

int GetFile(const Options& options, const std::string& discPath, const std::string& hostPath) {
    SafeOutput output(hostPath);
    std::string error;
    if (!output.open(error)) return Fail(kExitFailed, "%s", error.c_str());
    InstallStopHandlers();
    int rc = withFile(options, discPath, output.file(), hostPath.c_str());
    if (rc != kExitOk) return rc;
    if (!output.commit(error)) return Fail(kExitFailed, "%s", error.c_str());
    return kExitOk;
}

int Patch(const Options& options, const PatchRequest& request) {
    std::vector<unsigned char> bytes;
    if (!request.from.empty()) {
        std::ifstream in(request.from, std::ios::binary);
        if (!in) return Fail(kExitUsage, "cannot read %s", request.from.c_str());
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    } else if (!parseHex(request.hex, bytes)) {
        return Fail(kExitUsage, "--hex needs pairs of hexadecimal digits, such as 4a454c4c4f "
                                "or 4a:45:4c");
    }
    if (bytes.empty()) {
        std::fprintf(stderr, "error: nothing to write\n");
        return kExitUsage;
    }
    uint32_t mode = request.mode == "absolute"    ? TVX_MMAP_ABSOLUTE
                    : request.mode == "partition" ? TVX_MMAP_PARTITION
                    : request.mode == "file"      ? TVX_MMAP_FILE
                                                  : 99;
    if (mode == 99) {
        std::fprintf(stderr, "error: mode must be absolute, partition or file\n");
        return kExitUsage;
    }
    uint64_t end = static_cast<uint64_t>(request.offset) + bytes.size();
    uint64_t sectors = (end + 2047) / 2048;
    if (sectors > 1024) {
        std::fprintf(stderr, "error: a window holds at most 1024 sectors (2 MiB)\n");
        return kExitUsage;
    }

    Session session;
    if (int rc = session.open(options)) return rc;
    TVX_DiscInfo disc;
    TVX_Result r = TVX_GetDiscInfo(session.handle(), &disc);
    if (r != TVX_OK) return ReportFailure("patch", r, session.handle(), options.verbose);
    if (disc.mediaType != MediaDvdPlusRw) {
        std::fprintf(stderr, "error: patching needs a DVD+RW in the drive\n");
        return kExitFailed;
    }
    if (mode == TVX_MMAP_ABSOLUTE && uint64_t{request.block} + sectors > disc.capacityBlocks)
        return Fail(kExitUsage,
                    "sectors %u to %llu lie past the end of the disc (%u sectors); "
                    "nothing was written",
                    request.block, static_cast<unsigned long long>(request.block + sectors - 1),
                    disc.capacityBlocks);
    std::string path = mode == TVX_MMAP_FILE ? request.file : "/";
    TVX_DiscFile file = TVX_OpenFile(session.handle(), path.c_str());
    if (!file) {
        reportNotOpened(path, session.handle());
        return kExitFailed;
    }
    // Bytes past a file's end would go to the padding of its last sector, or nowhere.
    const uint64_t first = uint64_t{request.block} * 2048 + request.offset;
    if (mode == TVX_MMAP_FILE && first + bytes.size() > TVX_GetFileSize(file)) {
        const uint64_t size = TVX_GetFileSize(file);
        TVX_CloseFile(file);
        return Fail(kExitUsage,
                    "bytes %llu to %llu lie past the end of %s (%llu bytes); "
                    "nothing was written",
                    static_cast<unsigned long long>(first),
                    static_cast<unsigned long long>(first + bytes.size() - 1), path.c_str(),
                    static_cast<unsigned long long>(size));
    }
    auto* window = static_cast<unsigned char*>(
        TVX_OpenMMap(file, request.block, static_cast<uint32_t>(sectors), mode));
    if (!window) {
        TVX_CloseFile(file);
        TVX_LastError e{};
        if (TVX_GetLastError(session.handle(), &e) == TVX_OK && e.location == kWindowOutside)
            return Fail(kExitUsage,
                        "the window reaches past the end of the %s; nothing was "
                        "written",
                        mode == TVX_MMAP_FILE ? "file" : "disc");
        std::fprintf(stderr, "error: the sectors cannot be read into a window\n");
        return kExitFailed;
    }
    std::memcpy(window + request.offset, bytes.data(), bytes.size());
    int synced;
    {
        WriteBackWatch watch(!options.quiet);
        synced = TVX_SyncMMap(window);
    }
    TVX_CloseMMap(window);
    TVX_CloseFile(file);
    if (!synced) {
        TVX_LastError e{};
        // A window with sectors the drive could not read is refused before anything is sent.
        if (TVX_GetLastError(session.handle(), &e) == TVX_OK && e.location == kWindowNotRead)
            return Fail(kExitFailed, "part of the window could not be read from the disc; "
                                     "nothing was written, the disc is unchanged");
        // Each WRITE of the window went out in order: those before the one that failed changed
        // the disc, that one may have changed part of its sectors, the rest were not sent.
        if (e.location == kWindowWriteBack && e.cdb[0] == 0x2A) {
            const uint32_t lba =
                static_cast<uint32_t>(e.cdb[2]) << 24 | e.cdb[3] << 16 | e.cdb[4] << 8 | e.cdb[5];
            const uint32_t count = static_cast<uint32_t>(e.cdb[7]) << 8 | e.cdb[8];
            std::fprintf(stderr,
                         "error: writing the window back failed at disc sector %u: the window's "
                         "sectors before it were written, sectors %u to %u may have changed, "
                         "the rest were not written\n",
                         lba, lba, lba + (count ? count - 1 : 0));
        } else {
            std::fprintf(stderr, "error: writing the window back failed\n");
        }
        PrintLastError(stderr, session.handle(), options.verbose);
        return kExitFailed;
    }
    if (!options.quiet)
        std::printf("patched %zu bytes at offset %u of %s block %u\n", bytes.size(), request.offset,
                    request.mode.c_str(), request.block);
    return kExitOk;
}

} // namespace tvxcli
