// Reading files from the disc and patching a rewritable disc in place.
#include "commands.h"
#include "results.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

namespace tvxcli {

namespace {

// Copies the whole file to out; false on a short read.
bool copyOut(TVX_DiscFile file, FILE* out) {
    std::vector<unsigned char> buffer(1 << 20);
    uint64_t size = TVX_GetFileSize(file);
    uint64_t total = 0;
    uint32_t got = 0;
    while (total < size &&
           TVX_ReadFile(file, buffer.data(), static_cast<uint32_t>(buffer.size()), &got) &&
           got > 0) {
        if (std::fwrite(buffer.data(), 1, got, out) != got) return false;
        total += got;
    }
    return total == size;
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

int withFile(const Options& options, const std::string& discPath, FILE* out, const char* outName) {
    Session session;
    if (int rc = session.open(options.drive)) return rc;
    TVX_DiscFile file = TVX_OpenFile(session.handle(), discPath.c_str());
    if (!file) {
        reportNotOpened(discPath, session.handle());
        return kExitFailed;
    }
    bool ok = copyOut(file, out);
    TVX_CloseFile(file);
    if (!ok) {
        std::fprintf(stderr, "error: reading %s from the disc failed%s%s\n", discPath.c_str(),
                     outName ? " or writing " : "", outName ? outName : "");
        return kExitFailed;
    }
    return kExitOk;
}

bool parseHex(const std::string& text, std::vector<unsigned char>& out) {
    std::string digits;
    for (char c : text)
        if (c != ' ' && c != ':') digits += c;
    if (digits.empty() || digits.size() % 2) return false;
    for (size_t i = 0; i < digits.size(); i += 2) {
        char pair[3] = {digits[i], digits[i + 1], 0};
        char* end = nullptr;
        long v = std::strtol(pair, &end, 16);
        if (*end) return false;
        out.push_back(static_cast<unsigned char>(v));
    }
    return true;
}

} // namespace

int CatFile(const Options& options, const std::string& discPath) {
    return withFile(options, discPath, stdout, nullptr);
}

int GetFile(const Options& options, const std::string& discPath, const std::string& hostPath) {
    FILE* out = std::fopen(hostPath.c_str(), "wb");
    if (!out) {
        std::fprintf(stderr, "error: cannot write %s\n", hostPath.c_str());
        return kExitFailed;
    }
    int rc = withFile(options, discPath, out, hostPath.c_str());
    if (std::fclose(out) != 0 && rc == kExitOk) rc = kExitFailed;
    if (rc != kExitOk) std::remove(hostPath.c_str());
    return rc;
}

int Patch(const Options& options, const PatchRequest& request) {
    std::vector<unsigned char> bytes;
    if (!request.from.empty()) {
        std::ifstream in(request.from, std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "error: cannot read %s\n", request.from.c_str());
            return kExitUsage;
        }
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    } else if (!parseHex(request.hex, bytes)) {
        std::fprintf(stderr, "error: --hex needs pairs of hexadecimal digits\n");
        return kExitUsage;
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
    if (int rc = session.open(options.drive)) return rc;
    TVX_DiscInfo disc;
    TVX_Result r = TVX_GetDiscInfo(session.handle(), &disc);
    if (r != TVX_OK) return ReportFailure("patch", r, session.handle());
    if (disc.mediaType != MediaDvdPlusRw) {
        std::fprintf(stderr, "error: patching needs a DVD+RW in the drive\n");
        return kExitFailed;
    }
    std::string path = mode == TVX_MMAP_FILE ? request.file : "/";
    TVX_DiscFile file = TVX_OpenFile(session.handle(), path.c_str());
    if (!file) {
        reportNotOpened(path, session.handle());
        return kExitFailed;
    }
    auto* window = static_cast<unsigned char*>(
        TVX_OpenMMap(file, request.block, static_cast<uint32_t>(sectors), mode));
    if (!window) {
        TVX_CloseFile(file);
        std::fprintf(stderr, "error: the sectors cannot be read into a window\n");
        return kExitFailed;
    }
    std::memcpy(window + request.offset, bytes.data(), bytes.size());
    int synced = TVX_SyncMMap(window);
    TVX_CloseMMap(window);
    TVX_CloseFile(file);
    if (!synced) {
        std::fprintf(stderr, "error: writing the window back failed\n");
        PrintLastError(stderr, session.handle());
        return kExitFailed;
    }
    if (!options.quiet)
        std::printf("patched %zu bytes at offset %u of %s block %u\n", bytes.size(), request.offset,
                    request.mode.c_str(), request.block);
    return kExitOk;
}

} // namespace tvxcli
