// Mapped windows: a run of sectors of the disc held in memory, which the host changes in place
// and writes back. A window is known to the host only by the address of its data; it sits in
// its DiscFile's doubly linked list, whose head carries no data and has no prev, so following
// prev from any window reaches the head and through it the DiscFile.
#pragma once

#include <cstdint>

struct TvxDiscFile;

namespace tvx {

inline constexpr uint32_t kMaxWindowSectors = 1024;
inline constexpr uint32_t kWindowAbsolute = 0;
inline constexpr uint32_t kWindowPartition = 1;
inline constexpr uint32_t kWindowFile = 2;

struct MapWindowLink {
    MapWindowLink* prev = nullptr; // null only in the list head
    MapWindowLink* next = nullptr;
};

// The list head inside a DiscFile.
struct MapWindowList {
    MapWindowLink head;
    TvxDiscFile* owner = nullptr;
};

struct MapWindow {
    MapWindowLink link; // first: a window's link is the window
    uint64_t start = 0; // modes 0, 1: first sector; mode 2: byte offset in the file
    uint32_t length = 0; // bytes
    uint32_t mode = 0;
    // Every byte of the window that lies on the disc (or in the file) was read. A window with
    // holes shows zeros there, which writing back would put on the disc as data.
    bool wholeRead = false;
    uint8_t* data() { return reinterpret_cast<uint8_t*>(this) + kDataOffset; }
    static constexpr uintptr_t kDataOffset = 64; // data follows the header, 64-byte aligned
};

// Allocates a window of count sectors (data cleared) and puts it at the front of the list.
MapWindow* MapWindow_Create(MapWindowList& list, uint64_t start, uint32_t count, uint32_t mode);
// The window of the list whose data is at data, or null.
MapWindow* MapWindow_Find(MapWindowList& list, const void* data);
// Removes the window from its list and frees it.
void MapWindow_Unlink(MapWindow* window);
// Frees every window of the list.
void MapWindow_FreeAll(MapWindowList& list);
// The DiscFile of the window whose data is at data, found through the window's own links.
TvxDiscFile* MapWindow_Owner(void* data);

} // namespace tvx
