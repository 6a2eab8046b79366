// A small UDF image builder for reader tests and the fuzzer: volume structures at the usual
// places, a file set, and a tree whose entries can be made in the unusual forms other systems
// record (Extended File Entries, embedded data, long_ad and ext_ad files, split extents,
// deleted and looping entries).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace tvx::test {

struct TestNode {
    enum class Alloc { Short, Long, Extended, Embedded };

    std::string name; // empty for the root
    bool directory = false;
    std::string data; // a file's bytes
    std::vector<TestNode> children;
    Alloc alloc = Alloc::Short;
    bool extendedEntry = false; // Extended File Entry (266) instead of a File Entry
    uint32_t extentBytes = 0;   // split the data into extents of at most this many bytes
    bool deleted = false;       // the File Identifier is marked deleted
    int64_t icbOverride = -1;   // the File Identifier points at this block instead

    static TestNode Dir(std::string name, std::vector<TestNode> children = {}) {
        TestNode n;
        n.name = std::move(name);
        n.directory = true;
        n.children = std::move(children);
        return n;
    }
    static TestNode File(std::string name, std::string data) {
        TestNode n;
        n.name = std::move(name);
        n.data = std::move(data);
        return n;
    }
};

struct TestVolumeOptions {
    uint32_t sectors = 4096;
    uint32_t partitionStart = 272;
    uint32_t anchorSector = 256; // 0: no anchor is written
    uint32_t sequenceSector = 32; // main volume descriptor sequence (4 sectors)
    uint32_t reserveSector = 48;  // reserve sequence (4 sectors)
    uint32_t integritySector = 64; // integrity sequence (2 sectors)
    bool terminateSequence = true;
    uint16_t integrityIdentifier = 9;
};

struct TestVolume {
    std::vector<uint8_t> image;
    uint32_t partitionStart = 0;
    uint32_t partitionLength = 0;
    std::map<std::string, uint32_t> entryBlock; // path ("/A/B") -> File Entry block
    std::map<std::string, uint32_t> dataBlock;  // path -> first data block
};

TestVolume BuildTestVolume(const TestNode& root, const TestVolumeOptions& options = {});

// Writes an anchor pointing at the main and reserve sequences into the image.
void WriteTestAnchor(std::vector<uint8_t>& image, uint32_t sector, uint32_t main = 32,
                     uint32_t reserve = 48);

// Test data of n bytes that differs at every position of a sector.
std::string TestPattern(size_t n, uint32_t seed);

} // namespace tvx::test
