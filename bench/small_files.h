// Folders of many small files for the benchmarks, and the copy they are measured against.
#pragma once

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace bench {

namespace fs = std::filesystem;
using WallClock = std::chrono::steady_clock;

inline double Seconds(WallClock::time_point since) {
    return std::chrono::duration<double>(WallClock::now() - since).count();
}

// Long names that share their first eight characters, so that every ISO 9660 name needs a
// numbered suffix.
inline std::string FileName(int i) {
    char name[160];
    std::snprintf(name, sizeof name,
                  "Photographs of the summer holiday by the sea, camera roll of 2026, "
                  "picture %06d.jpeg",
                  i);
    return name;
}

// The sizes of a shape's files: `least` bytes and up to `spread` - 1 more.
struct Sizes {
    int least;
    int spread;
};
constexpr Sizes kSmall{256, 3840};      // 256 to 4095 bytes
constexpr Sizes kKilobytes{1024, 7169}; // 1 to 8 KiB

// Small files of real bytes, not holes.
inline void WriteFile(const fs::path& path, int i, Sizes sizes) {
    static std::vector<char> bytes = [] {
        std::vector<char> b(8192);
        for (size_t k = 0; k < b.size(); ++k)
            b[k] = static_cast<char>(k * 131 + 7);
        return b;
    }();
    std::ofstream out(path, std::ios::binary);
    bytes[0] = static_cast<char>(i);
    out.write(bytes.data(), sizes.least + (i * 7919) % sizes.spread);
}

inline void MakeFlat(const fs::path& folder, int count, Sizes sizes) {
    fs::create_directories(folder);
    for (int i = 0; i < count; ++i)
        WriteFile(folder / FileName(i), i, sizes);
}

// Folders of 40 files side by side.
inline void MakeFolders(const fs::path& folder, int count, Sizes sizes) {
    for (int i = 0; i < count; ++i) {
        char dir[80];
        std::snprintf(dir, sizeof dir, "Album of the family collection number %05d", i / 40);
        fs::path d = folder / dir;
        if (i % 40 == 0) fs::create_directories(d);
        WriteFile(d / FileName(i), i, sizes);
    }
}

// Copies the folder's files into one file and puts it on the disk.
inline double TimeCat(const fs::path& folder, const fs::path& out) {
    std::string command = "find '" + folder.string() + "' -type f -print0 | xargs -0 cat > '" +
                          out.string() + "' && sync '" + out.string() + "'";
    ::sync();
    auto start = WallClock::now();
    if (std::system(command.c_str()) != 0) std::fprintf(stderr, "cat failed\n");
    double seconds = Seconds(start);
    fs::remove(out);
    return seconds;
}

inline const char* Met(bool met) {
    return met ? "met" : "NOT met";
}

} // namespace bench
