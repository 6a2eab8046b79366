// Feeds mutated disc images through the UDF walk, the file functions and the mapped windows,
// and compares every file the reader delivers whole with what libudfread, a second reader that
// shares no code with it, delivers for the same path: a difference aborts, so wrong data is as
// visible as a crash. The image is served by an in-memory drive; its last sector is the last
// recorded address, so a compact volume needs no anchor at sector 256.
#include "common/byte_order.h"
#include "image/udf_tag.h"
#include "memory_disc.h"
#include "reader/disc_file.h"
#include "reader/udf_reader.h"
#include "second_reader.h"
#include "support/direct_transport.h"
#include "torvexin.h"

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

constexpr size_t kMaxImageBytes = 256 * 1024;
constexpr uint32_t kMaxReadPerEntry = 64 * 1024;
constexpr size_t kMaxEntriesExercised = 64;
constexpr uint64_t kMaxCompared = 1024 * 1024;

void exerciseEntry(TVX_DiscFile file, tvx::DiscEntry* entry, std::vector<uint8_t>& buffer) {
    file->openEntry = entry;
    file->position = 0;
    const uint64_t size = TVX_GetFileSize(file);
    uint32_t got = 0;
    // Odd chunks from the start, then reads near the end and across sector edges.
    uint32_t total = 0;
    for (uint32_t chunk : {1u, 2047u, 2049u, 4096u, 30000u}) {
        if (!TVX_ReadFile(file, buffer.data(), chunk, &got) || total > kMaxReadPerEntry) break;
        total += got;
    }
    if (size > 100) {
        TVX_SeekFile(file, static_cast<uint32_t>(-100), 0xFFFFFFFF, TVX_SEEK_END);
        TVX_ReadFile(file, buffer.data(), 4096, &got);
    }
    TVX_SeekFile(file, 5000, 0, TVX_SEEK_SET);
    TVX_ReadFile(file, buffer.data(), 65536, &got);
    if (void* window = TVX_OpenMMap(file, 0, 3, TVX_MMAP_FILE)) {
        TVX_SyncMMap(window);
        TVX_CloseMMap(window);
    }
    if (void* window = TVX_OpenMMap(file, 1, 2, TVX_MMAP_PARTITION)) TVX_CloseMMap(window);
    TVX_OpenMMap(file, 0, 1, TVX_MMAP_ABSOLUTE); // left for TVX_CloseFile to free
    char path[tvx::kMaxDiscPath];
    tvx::DiscEntry_BuildPath(entry, path);
}

// The whole file through TVX_ReadFile, or nothing when it is not delivered whole.
std::optional<std::string> readWhole(TVX_DiscFile file, tvx::DiscEntry* entry) {
    file->openEntry = entry;
    file->position = 0;
    const uint64_t size = TVX_GetFileSize(file);
    if (size > kMaxCompared) return std::nullopt;
    std::string data(static_cast<size_t>(size), '\0');
    size_t got = 0;
    uint32_t n = 0;
    while (got < data.size() &&
           TVX_ReadFile(file, data.data() + got, static_cast<uint32_t>(data.size() - got), &n) &&
           n > 0) {
        got += n;
    }
    if (got != data.size()) return std::nullopt;
    return data;
}

// A path the second reader resolves the same way: no component it would read as a separator,
// the current or the parent directory.
bool plainName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

std::string folded(std::string path) {
    for (char& c : path)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return path;
}

// libudfread looks for the File Set Descriptor block by block through the whole extent that a
// Logical Volume Descriptor names (damaged or not), and an extent far beyond the image costs it
// seconds of failed reads and messages; images with such a descriptor are not handed to it.
bool namesHugeFileSetExtent(const std::vector<uint8_t>& image) {
    constexpr size_t kLvdFileSetLength = 248;
    for (size_t at = 0; at + tvx::kSectorSize <= image.size(); at += tvx::kSectorSize) {
        const uint8_t* d = image.data() + at;
        if (tvx::GetLe16(d) == tvx::kTagLogicalVolume &&
            (tvx::GetLe32(d + kLvdFileSetLength) & tvx::kExtentLengthMask) > image.size()) {
            return true;
        }
    }
    return false;
}

// Every file that both readers deliver whole must have the same bytes. Files whose path is not
// unique (names equal but for case included: readers differ in which one a path finds) and
// entries the reader refuses to open are left out.
void compareWithSecondReader(TVX_DiscFile root, const std::vector<uint8_t>& image) {
    struct Candidate {
        std::string path;
        std::string data;
    };
    std::vector<Candidate> files;
    std::unordered_map<std::string, int> uses;
    std::vector<std::pair<tvx::DiscEntry*, std::string>> named;
    for (tvx::DiscEntry* e = root->rootEntry.next; e; e = e->next) {
        char path[tvx::kMaxDiscPath];
        if (!tvx::DiscEntry_BuildPath(e, path)) continue;
        std::string key = folded(path);
        if (key.size() > 1 && key.back() == '/') key.pop_back();
        ++uses[key];
        bool plain = true;
        for (const tvx::DiscEntry* a = e; a->parent; a = a->parent)
            plain = plain && plainName(a->name);
        if (plain && e->kind == tvx::EntryKind::File && !e->unreadable() &&
            tvx::DiscFile_ExtentsInPartition(root, e) && named.size() < kMaxEntriesExercised) {
            named.push_back({e, path});
        }
    }
    for (const auto& [entry, path] : named) {
        std::string key = folded(path);
        if (uses[key] != 1) continue;
        if (std::optional<std::string> data = readWhole(root, entry)) {
            files.push_back({path, std::move(*data)});
        }
    }
    if (files.empty()) return;
    if (namesHugeFileSetExtent(image)) return;

    SecondReader second(image);
    for (const Candidate& c : files) {
        const std::optional<std::string> theirs = second.read(c.path, kMaxCompared);
        if (!theirs || *theirs == c.data) continue;
        size_t at = 0;
        while (at < c.data.size() && at < theirs->size() && c.data[at] == (*theirs)[at])
            ++at;
        // Standard output: the fuzzer closes standard error, which libudfread fills.
        std::printf("reader and libudfread differ on %s: sizes %zu and %zu, first difference "
                    "at byte %zu\n",
                    c.path.c_str(), c.data.size(), theirs->size(), at);
        std::fflush(stdout);
        std::abort();
    }
}

// Tags every descriptor-like run of bytes anew (checksum, and the CRC where it fits), so that
// mutations reach the reader's handling of what lies behind the checks. Chosen by the first byte
// of the image, which no volume uses.
void repairTags(std::vector<uint8_t>& image) {
    constexpr uint16_t kKnown[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 256, 257, 261, 266};
    for (size_t at = 0; at + tvx::kUdfTagSize <= image.size(); at += 4) {
        uint8_t* d = image.data() + at;
        const uint16_t id = tvx::GetLe16(d);
        if (std::find(std::begin(kKnown), std::end(kKnown), id) == std::end(kKnown)) continue;
        const uint16_t crcLength = tvx::GetLe16(d + 10);
        if (at + tvx::kUdfTagSize + crcLength <= image.size()) {
            tvx::PutLe16(d + 8, tvx::UDF_Crc16(d + tvx::kUdfTagSize, crcLength));
        }
        d[4] = tvx::UDF_TagChecksum(d);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0 || size > kMaxImageBytes) return 0;
    std::vector<uint8_t> image(data, data + size);
    image.resize((size + 2047) / 2048 * 2048, 0);
    if (image[0] & 1) repairTags(image);
    tvx::test::MemoryDisc disc(std::move(image));
    tvx::test::DirectTransport transport;
    TvxRecHandle* handle = transport.open(disc);

    TVX_DiscFile root = TVX_OpenFile(handle, "/");
    if (!root) {
        TVX_DiscFile none = TVX_OpenFile(handle, "\\A\\B");
        if (none) TVX_CloseFile(none);
        return 0;
    }
    compareWithSecondReader(root, disc.image());
    std::vector<uint8_t> buffer(65536 + 2048);
    size_t n = 0;
    for (tvx::DiscEntry* e = &root->rootEntry; e && n < kMaxEntriesExercised; e = e->next, ++n) {
        if (!e->unreadable()) exerciseEntry(root, e, buffer);
    }
    // One more open by path, found through the index.
    tvx::DiscEntry* last = root->rootEntry.next;
    char path[tvx::kMaxDiscPath];
    if (last && tvx::DiscEntry_BuildPath(last, path)) {
        TVX_DiscFile again = TVX_OpenFile(handle, path);
        if (again) TVX_CloseFile(again);
    }
    TVX_CloseFile(root);
    return 0;
}
