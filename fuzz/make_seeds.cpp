// Writes seed images for the reader fuzzer: compact volumes whose anchor is in the last sector,
// with the entry forms the reader knows.
#include "test_udf_image.h"

#include <cstdio>
#include <string>

using tvx::test::TestNode;

namespace {

bool writeSeed(const std::string& path, const TestNode& root) {
    tvx::test::TestVolumeOptions options;
    options.sectors = 64;
    options.sequenceSector = 19; // after the volume recognition sequence at 16-18
    options.reserveSector = 23;
    options.integritySector = 27;
    options.partitionStart = 29;
    options.anchorSector = options.sectors - 1;
    tvx::test::TestVolume volume = tvx::test::BuildTestVolume(root, options);
    // Each seed twice: as it is, and with the first byte asking the fuzzer to tag the
    // descriptors of every mutation anew.
    bool ok = true;
    for (const char* suffix : {"", "-retagged"}) {
        std::FILE* f = std::fopen((path + suffix).c_str(), "wb");
        if (!f) return false;
        ok &= std::fwrite(volume.image.data(), 1, volume.image.size(), f) == volume.image.size();
        ok &= std::fclose(f) == 0;
        volume.image[0] = 1;
    }
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_seeds <corpus folder>\n");
        return 2;
    }
    const std::string dir = argv[1];
    TestNode embedded = TestNode::File("E", "inline");
    embedded.alloc = TestNode::Alloc::Embedded;
    TestNode efe = TestNode::File("X", tvx::test::TestPattern(3000, 2));
    efe.extendedEntry = true;
    TestNode split = TestNode::File("S", tvx::test::TestPattern(9000, 3));
    split.extentBytes = 2048;
    TestNode longAd = TestNode::File("L", tvx::test::TestPattern(5000, 4));
    longAd.alloc = TestNode::Alloc::Long;
    TestNode inlineDir = TestNode::Dir("I", {TestNode::File("F", "abc")});
    inlineDir.alloc = TestNode::Alloc::Embedded;
    bool ok = true;
    ok &= writeSeed(
        dir + "/plain",
        TestNode::Dir("",
                      {TestNode::Dir("V", {TestNode::File("A", tvx::test::TestPattern(5000, 1))}),
                       TestNode::File("Z", "")}));
    ok &= writeSeed(dir + "/forms", TestNode::Dir("", {embedded, efe, split, longAd, inlineDir}));
    return ok ? 0 : 1;
}
