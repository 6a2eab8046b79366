// Feeds mutated disc images through the UDF walk, the file functions and the mapped windows.
// The image is served by an in-memory drive; its last sector is the last recorded address, so
// a compact volume needs no anchor at sector 256.
#include "memory_disc.h"
#include "reader/disc_file.h"
#include "support/direct_transport.h"
#include "torvexin.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

constexpr size_t kMaxImageBytes = 256 * 1024;
constexpr uint32_t kMaxReadPerEntry = 64 * 1024;
constexpr int kMaxEntriesExercised = 64;

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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0 || size > kMaxImageBytes) return 0;
    std::vector<uint8_t> image(data, data + size);
    image.resize((size + 2047) / 2048 * 2048, 0);
    tvx::test::MemoryDisc disc(std::move(image));
    tvx::test::DirectTransport transport;
    TvxRecHandle* handle = transport.open(disc);

    TVX_DiscFile root = TVX_OpenFile(handle, "/");
    if (!root) {
        TVX_DiscFile none = TVX_OpenFile(handle, "\\A\\B");
        if (none) TVX_CloseFile(none);
        return 0;
    }
    std::vector<uint8_t> buffer(65536 + 2048);
    int n = 0;
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
