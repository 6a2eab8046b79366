// Finding and walking the volume: anchors, descriptor sequences, and discs that lie.
#include "reader_fixture.h"

#include "common/byte_order.h"
#include "image/udf_dchars.h"
#include "image/udf_tag.h"
#include "reader/disc_file.h"
#include "reader/udf_reader.h"

#include <cstring>
#include <cstddef>
#include <functional>

namespace tvx::test {
namespace {

TestNode SmallTree() {
    return TestNode::Dir("", {TestNode::File("A.BIN", TestPattern(5000, 1))});
}

uint8_t* Sector(std::vector<uint8_t>& image, uint32_t lba) { return image.data() + lba * 2048u; }

TEST_F(ReaderTest, AnchorAtTheFirstCandidate) {
    serveVolume(SmallTree());
    TVX_DiscFile f = open("/A.BIN");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(disc_->readsOf(256), 2u); // probed once, then read
    TVX_CloseFile(f);
}

TEST_F(ReaderTest, AnchorOnlyAtTheLastRecordedAddress) {
    TestVolumeOptions options;
    options.anchorSector = 0;
    TestVolume volume = BuildTestVolume(SmallTree(), options);
    WriteTestAnchor(volume.image, options.sectors - 1);
    serve(volume.image);
    TVX_DiscFile f = open("/A.BIN");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(disc_->readsOf(256), 32u);
    EXPECT_EQ(disc_->readsOf(512), 32u);
    EXPECT_EQ(disc_->readsOf(options.sectors - 1), 2u);
    TVX_CloseFile(f);
}

TEST_F(ReaderTest, BlankAndForeignDiscsDoNotOpen) {
    serve(std::vector<uint8_t>(4096 * 2048, 0)); // readable, but nothing on it
    EXPECT_EQ(open("/"), nullptr);
    EXPECT_EQ(disc_->readsOf(256), 33u);

    serve(std::vector<uint8_t>(4096 * 2048, 0));
    disc_->blank = true;
    EXPECT_EQ(open("/"), nullptr);

    serve(BuildTestVolume(SmallTree()).image);
    disc_->refuseDiscInfo = true; // falls back to sector 256, which holds the anchor
    TVX_DiscFile f = open("/A.BIN");
    EXPECT_NE(f, nullptr);
    TVX_CloseFile(f);
}

TEST_F(ReaderTest, BrokenVolumeStructuresFailTheOpen) {
    const std::function<void(TestVolume&)> breakers[] = {
        [](TestVolume& v) { std::memset(Sector(v.image, 32), 0, 2048); }, // blank first sector
        [](TestVolume& v) { // no terminator before the end of the extent
            for (uint32_t s = 35; s < 48; ++s) std::memset(Sector(v.image, s), 0, 2048);
            for (uint32_t s = 35; s < 48; ++s) PutLe16(Sector(v.image, s), 7);
        },
        [](TestVolume& v) { PutLe16(Sector(v.image, 64), 5); },  // integrity: wrong kind
        [](TestVolume& v) { PutLe16(Sector(v.image, 272), 7); }, // no file set
        [](TestVolume& v) { // root entry is something else
            PutLe16(Sector(v.image, 272 + v.entryBlock["/"]), 257);
        },
    };
    for (const auto& breakIt : breakers) {
        TestVolume volume = BuildTestVolume(SmallTree());
        breakIt(volume);
        serve(volume.image);
        EXPECT_EQ(open("/"), nullptr);
    }
    // A terminating descriptor in place of the integrity descriptor is accepted.
    TestVolume volume = BuildTestVolume(SmallTree());
    UDF_MakeTag(Sector(volume.image, 64), kTagTerminating, 64, 512);
    serve(volume.image);
    TVX_DiscFile f = open("/A.BIN");
    EXPECT_NE(f, nullptr);
    TVX_CloseFile(f);
}

TEST_F(ReaderTest, CyclesAndRunawayDepthEndTheWalk) {
    TestNode loop = TestNode::Dir("LOOP");
    loop.icbOverride = 2; // the root's File Entry
    serveVolume(TestNode::Dir("", {TestNode::File("A", "x"), loop}));
    EXPECT_EQ(open("/A"), nullptr);

    TestNode deep = TestNode::File("LEAF", "y");
    for (int i = 0; i < 200; ++i) deep = TestNode::Dir("D", {deep});
    TestVolumeOptions options;
    options.sectors = 8192;
    serveVolume(TestNode::Dir("", {deep}), options);
    EXPECT_EQ(open("/"), nullptr);

    // 100 levels walk fine, but the leaf's path is longer than 259 characters.
    deep = TestNode::File("LEAF", "y");
    for (int i = 0; i < 100; ++i) deep = TestNode::Dir("DD", {deep});
    serveVolume(TestNode::Dir("", {deep}), options);
    TVX_DiscFile root = open("/");
    ASSERT_NE(root, nullptr);
    char path[kMaxDiscPath];
    DiscEntry* leaf = root->rootEntry.next;
    while (leaf->next) leaf = leaf->next;
    EXPECT_EQ(leaf->name, "LEAF");
    EXPECT_FALSE(DiscEntry_BuildPath(leaf, path));
    EXPECT_STREQ(path, "");
    std::string request;
    for (int i = 0; i < 100; ++i) request += "/DD";
    EXPECT_EQ(open((request + "/LEAF").c_str()), nullptr);
    TVX_CloseFile(root);
}

TEST_F(ReaderTest, FilesBeyondTheExtentRecordAreRefused) {
    TestNode many = TestNode::File("MANY", TestPattern(65 * 2048, 8));
    many.extentBytes = 2048;
    TestNode fits = TestNode::File("FITS", TestPattern(64 * 2048, 9));
    fits.extentBytes = 2048;
    serveVolume(TestNode::Dir("", {many, fits}));
    EXPECT_EQ(open("/MANY"), nullptr);
    TVX_DiscFile f = open("/FITS");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(readAll(f, 5000), TestPattern(64 * 2048, 9));
    TVX_CloseFile(f);
}

TEST_F(ReaderTest, LyingLengthsAreNotFollowed) {
    TestNode root = TestNode::Dir("", {TestNode::Dir("SUB", {TestNode::File("F", "data")})});
    const std::function<void(TestVolume&)> liars[] = {
        [](TestVolume& v) { // directory extent of a gigabyte
            uint8_t* fe = Sector(v.image, 272 + v.entryBlock["/SUB"]);
            PutLe32(fe + 176, 0x3FFFF800);
        },
        [](TestVolume& v) { // directory extent beyond the partition
            uint8_t* fe = Sector(v.image, 272 + v.entryBlock["/SUB"]);
            PutLe32(fe + 180, v.partitionLength - 1);
            PutLe32(fe + 176, 4096);
        },
        [](TestVolume& v) { // L_AD past the sector
            uint8_t* fe = Sector(v.image, 272 + v.entryBlock["/SUB"]);
            PutLe32(fe + 172, 2000);
        },
        [](TestVolume& v) { // implementation use of a File Identifier past the directory
            uint8_t* fid = Sector(v.image, 272 + v.dataBlock["/SUB"]) + 40;
            PutLe16(fid + 36, 4000);
        },
        [](TestVolume& v) { // L_FI past the directory
            uint8_t* fid = Sector(v.image, 272 + v.dataBlock["/SUB"]) + 40;
            fid[19] = 250;
        },
    };
    for (const auto& lie : liars) {
        TestVolume volume = BuildTestVolume(root);
        lie(volume);
        serve(volume.image);
        EXPECT_EQ(open("/SUB/F"), nullptr);
    }
}

TEST_F(ReaderTest, IndexedSearchesMatchTheLinearRules) {
    // Duplicate names and shared File Entries in several directories: the first entry of the
    // list wins, for parents and for paths alike.
    TestNode shared = TestNode::File("LINK", "x");
    shared.icbOverride = 4; // the File Entry of the first /A/N
    TestNode a = TestNode::Dir("A", {TestNode::File("N", "1"), TestNode::File("N", "22"),
                                     TestNode::Dir("S", {TestNode::File("N", "333")})});
    TestNode b = TestNode::Dir("A", {TestNode::File("N", "4444"), shared});
    serveVolume(TestNode::Dir("", {a, b, TestNode::File("N", "55555")}));
    TVX_DiscFile root = open("/");
    ASSERT_NE(root, nullptr);
    for (DiscEntry* e = root->rootEntry.next; e; e = e->next) {
        char path[kMaxDiscPath];
        ASSERT_TRUE(DiscEntry_BuildPath(e, path));
        DiscEntry* linear = nullptr;
        for (DiscEntry* x = &root->rootEntry; x && !linear; x = x->next) {
            char other[kMaxDiscPath];
            DiscEntry_BuildPath(x, other);
            if (std::strcmp(other, path) == 0) linear = x;
        }
        TVX_DiscFile f = open(path);
        ASSERT_NE(f, nullptr) << path;
        EXPECT_EQ(TVX_GetFileSize(f), linear->size) << path;
        TVX_CloseFile(f);
    }
    TVX_CloseFile(root);
}

// The collector's rules, done the slow way: linear searches over a plain list.
struct LinearCollector {
    struct Entry {
        size_t parent;
        std::string name;
        uint32_t block;
        uint64_t size;
    };
    std::vector<Entry> list{{SIZE_MAX, "", 0, 0}}; // list order
    size_t firstWith(uint32_t block) const {
        for (size_t i = 0; i < list.size(); ++i)
            if (list[i].block == block) return i;
        return SIZE_MAX;
    }
    static int visit(void* context, const uint8_t* d, size_t, const uint8_t* directory) {
        auto* self = static_cast<LinearCollector*>(context);
        const uint16_t id = GetLe16(d);
        if (id == kTagFileSet) self->list[0].block = GetLe32(d + 404);
        if (id == kTagFileIdent && d[19] > 0) {
            char name[256];
            UDF_DecodeDChars(d + 38 + GetLe16(d + 36), d[19], name, sizeof name);
            size_t parent = self->firstWith(GetLe32(directory + 12));
            if (parent == SIZE_MAX) parent = 0;
            for (Entry& e : self->list)
                if (e.parent != SIZE_MAX && e.parent > parent) ++e.parent;
            self->list.insert(self->list.begin() + static_cast<std::ptrdiff_t>(parent) + 1,
                              Entry{parent, name, GetLe32(d + 24), 0});
        }
        if (id == kTagFileEntry && d[27] != 4) {
            const size_t i = self->firstWith(GetLe32(d + 12));
            if (i != SIZE_MAX) self->list[i].size = GetLe64(d + 56);
        }
        return 1;
    }
};

TEST_F(ReaderTest, CollectorMatchesTheLinearRules) {
    // Deleted entries are collected but never followed: ghosts that point at directories make
    // several entries share a block, so "the first entry with that block" matters.
    auto tree = [](const std::map<std::string, uint32_t>& blocks) {
        auto ghost = [&](const char* name, const char* target) {
            TestNode g = TestNode::Dir(name);
            g.deleted = true;
            if (!blocks.empty()) g.icbOverride = blocks.at(target);
            return g;
        };
        TestNode b = TestNode::Dir("B", {TestNode::File("F1", "1"), TestNode::Dir("C", {
                                             TestNode::File("F2", "22"), ghost("G1", "/B")})});
        TestNode a = TestNode::Dir("A", {ghost("G2", "/B/C"), TestNode::File("F3", "333"),
                                         ghost("G3", "/B"), TestNode::File("F1", "4444")});
        return TestNode::Dir("", {ghost("G0", "/B/C"), b, a, TestNode::File("F4", "55555")});
    };
    const TestVolume layout = BuildTestVolume(tree({}));
    serveVolume(tree(layout.entryBlock));

    LinearCollector linear;
    ASSERT_TRUE(UdfReader_Open(handle_, LinearCollector::visit, &linear));
    TVX_DiscFile root = open("/");
    ASSERT_NE(root, nullptr);
    size_t i = 0;
    for (DiscEntry* e = &root->rootEntry; e; e = e->next, ++i) {
        ASSERT_LT(i, linear.list.size());
        const auto& expected = linear.list[i];
        EXPECT_EQ(e->name, expected.name) << i;
        EXPECT_EQ(e->icbBlock, expected.block) << i;
        EXPECT_EQ(e->size, expected.size) << i;
        if (i > 0) {
            EXPECT_EQ(e->parent->name, linear.list[expected.parent].name) << i;
        }
    }
    EXPECT_EQ(i, linear.list.size());
    TVX_CloseFile(root);
}

} // namespace
} // namespace tvx::test
