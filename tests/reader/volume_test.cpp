// Finding and walking the volume: anchors, descriptor sequences, and discs that lie.
#include "reader_fixture.h"

#include "common/byte_order.h"
#include "image/udf_dchars.h"
#include "image/udf_tag.h"
#include "reader/disc_file.h"
#include "reader/udf_reader.h"

#include <cstddef>
#include <cstring>
#include <functional>
#include <map>

namespace tvx::test {
namespace {

TestNode SmallTree() {
    return TestNode::Dir("", {TestNode::File("A.BIN", TestPattern(5000, 1))});
}

uint8_t* Sector(std::vector<uint8_t>& image, uint32_t lba) {
    return image.data() + lba * 2048u;
}
uint8_t* Block(TestVolume& v, uint32_t block) {
    return Sector(v.image, v.partitionStart + block);
}

// Tags a changed descriptor anew, so that only the change itself is wrong with it.
void Retag(uint8_t* d) {
    UDF_MakeTag(d, GetLe16(d), GetLe32(d + 12), 16u + GetLe16(d + 10));
}
// A changed body byte breaks the CRC; a changed tag byte (the version's high byte) the checksum.
void BreakCrc(uint8_t* d) {
    d[17] ^= 0x40;
}
void BreakChecksum(uint8_t* d) {
    d[6] ^= 0x01;
}

// Locations of the reader's refusals.
constexpr int32_t kNoVolume = 1101;
constexpr int32_t kNotFound = 1102;
constexpr int32_t kBelowDamage = 1103;
constexpr int32_t kDamagedEntry = 1104;
constexpr int32_t kOutsidePartition = 1106;

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

// An open walks the whole tree, but reads its File Entries and listings in runs: far fewer
// commands than entries. A run that meets an unreadable sector the walk does not need costs
// the walk nothing; an unreadable File Entry still fails it.
TEST_F(ReaderTest, WalkReadsEntriesInRuns) {
    std::vector<TestNode> dirs;
    for (int d = 0; d < 4; ++d) {
        std::vector<TestNode> files;
        for (int f = 0; f < 50; ++f)
            files.push_back(TestNode::File("F" + std::to_string(f), std::to_string(d * 100 + f)));
        dirs.push_back(TestNode::Dir("D" + std::to_string(d), files));
    }
    TestVolume volume = serveVolume(TestNode::Dir("", dirs));
    TVX_DiscFile f = open("/D3/F49");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(readAll(f), "349");
    TVX_CloseFile(f);
    EXPECT_LT(disc_->count(0x28), 205u / 5); // 205 File Entries

    const uint32_t data = volume.partitionStart + volume.dataBlock["/D0/F0"];
    for (uint32_t bad : {data, volume.partitionStart + volume.entryBlock["/D0/F1"]}) {
        SCOPED_TRACE(bad);
        serve(volume.image);
        disc_->unreadable.insert(bad);
        f = open("/D3/F49");
        EXPECT_EQ(f != nullptr, bad == data);
        if (f) TVX_CloseFile(f);
    }
    EXPECT_EQ(LastLocation(), kNoVolume);
}

// A damaged copy of the volume descriptor sequence gives way to the reserve copy; what the
// volume cannot do without fails the open.
TEST_F(ReaderTest, DamagedVolumeStructures) {
    struct Case {
        const char* what;
        std::function<void(TestVolume&)> damage;
        bool opens;
    };
    const Case cases[] = {
        {"main sequence blank", [](TestVolume& v) { std::memset(Sector(v.image, 32), 0, 2048); },
         true},
        {"main sequence without terminator",
         [](TestVolume& v) {
             std::memset(Sector(v.image, 35), 0, 2048);
             PutLe16(Sector(v.image, 35), kTagUnallocatedSpace);
             Retag(Sector(v.image, 35));
         },
         true},
        {"main partition descriptor CRC", [](TestVolume& v) { BreakCrc(Sector(v.image, 33)); },
         true},
        {"main logical volume checksum", [](TestVolume& v) { BreakChecksum(Sector(v.image, 34)); },
         true},
        {"main descriptor recorded elsewhere",
         [](TestVolume& v) {
             PutLe32(Sector(v.image, 33) + 12, 40);
             Retag(Sector(v.image, 33));
         },
         true},
        {"both partition descriptors",
         [](TestVolume& v) {
             BreakCrc(Sector(v.image, 33));
             BreakChecksum(Sector(v.image, 49));
         },
         false},
        {"partition beyond 32-bit sector addresses",
         [](TestVolume& v) {
             for (uint32_t s : {33u, 49u}) {
                 PutLe32(Sector(v.image, s) + 192, 0xFFFFFFFF);
                 Retag(Sector(v.image, s));
             }
         },
         false},
        {"integrity of the wrong kind",
         [](TestVolume& v) {
             PutLe16(Sector(v.image, 64), kTagPartition);
             Retag(Sector(v.image, 64));
         },
         false},
        {"file set CRC", [](TestVolume& v) { BreakCrc(Sector(v.image, 272)); }, false},
        {"no file set",
         [](TestVolume& v) {
             PutLe16(Sector(v.image, 272), kTagUnallocatedSpace);
             Retag(Sector(v.image, 272));
         },
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TestVolume volume = BuildTestVolume(SmallTree());
        c.damage(volume);
        serve(volume.image);
        TVX_DiscFile f = open("/A.BIN");
        EXPECT_EQ(f != nullptr, c.opens);
        if (f) {
            EXPECT_EQ(readAll(f), TestPattern(5000, 1));
            TVX_CloseFile(f);
        } else {
            EXPECT_EQ(LastLocation(), kNoVolume);
        }
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
    for (int i = 0; i < 200; ++i)
        deep = TestNode::Dir("D", {deep});
    TestVolumeOptions options;
    options.sectors = 8192;
    serveVolume(TestNode::Dir("", {deep}), options);
    EXPECT_EQ(open("/"), nullptr);

    // 100 levels walk fine, but the leaf's path is longer than 259 characters.
    deep = TestNode::File("LEAF", "y");
    for (int i = 0; i < 100; ++i)
        deep = TestNode::Dir("DD", {deep});
    serveVolume(TestNode::Dir("", {deep}), options);
    TVX_DiscFile root = open("/");
    ASSERT_NE(root, nullptr);
    char path[kMaxDiscPath];
    DiscEntry* leaf = root->rootEntry.next;
    while (leaf->next)
        leaf = leaf->next;
    EXPECT_EQ(leaf->name, "LEAF");
    EXPECT_FALSE(DiscEntry_BuildPath(leaf, path));
    EXPECT_STREQ(path, "");
    std::string request;
    for (int i = 0; i < 100; ++i)
        request += "/DD";
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

// A damaged or lying File Entry makes only its own entry unreadable; a damaged directory hides
// only what lies below it. Each refusal names its reason in the LastError record.
TEST_F(ReaderTest, DamageHidesOnlyWhatLiesBelowIt) {
    const TestNode root = TestNode::Dir(
        "", {TestNode::File("A.BIN", TestPattern(5000, 1)),
             TestNode::Dir("SUB", {TestNode::File("F", "data"),
                                   TestNode::Dir("DEEP", {TestNode::File("G", "deep")})}),
             TestNode::Dir("OTHER", {TestNode::File("H", TestPattern(3000, 2))})});
    const std::map<std::string, std::string> contents = {{"/A.BIN", TestPattern(5000, 1)},
                                                         {"/SUB/", ""},
                                                         {"/SUB/F", "data"},
                                                         {"/SUB/DEEP/G", "deep"},
                                                         {"/OTHER/H", TestPattern(3000, 2)}};
    using Damage = std::function<void(TestVolume&)>;
    auto entry = [](TestVolume& v, const char* path) { return Block(v, v.entryBlock[path]); };
    auto fidOfF = [](TestVolume& v) { return Block(v, v.dataBlock["/SUB"]) + 40; };
    auto subEntry = [](TestVolume& v, size_t at, uint32_t value) {
        uint8_t* fe = Block(v, v.entryBlock["/SUB"]);
        PutLe32(fe + at, value);
        Retag(fe);
    };
    auto fIcb = [fidOfF](uint32_t block) {
        return [fidOfF, block](TestVolume& v) {
            PutLe32(fidOfF(v) + 24, block);
            Retag(fidOfF(v));
        };
    };
    struct Case {
        const char* what;
        Damage damage;
        std::map<std::string, int32_t> refused; // path -> location of the refusal
    };
    const Case cases[] = {
        {"CRC of the File Entry of F",
         [&](TestVolume& v) { BreakCrc(entry(v, "/SUB/F")); },
         {{"/SUB/F", kDamagedEntry}}},
        {"File Entry of F is no File Entry",
         [&](TestVolume& v) {
             PutLe16(entry(v, "/SUB/F"), kTagFileIdent);
             Retag(entry(v, "/SUB/F"));
         },
         {{"/SUB/F", kDamagedEntry}}},
        {"File Entry of F recorded for another block",
         [&](TestVolume& v) { std::memcpy(entry(v, "/SUB/F"), entry(v, "/OTHER/H"), 2048); },
         {{"/SUB/F", kDamagedEntry}}},
        {"ICB of F beyond the partition",
         [&](TestVolume& v) { fIcb(v.partitionLength)(v); },
         {{"/SUB/F", kDamagedEntry}}},
        {"ICB of F wrapping to the anchor",
         [&](TestVolume& v) { fIcb(0u - 272 + 256)(v); },
         {{"/SUB/F", kDamagedEntry}}},
        {"checksum of the File Entry of SUB",
         [&](TestVolume& v) { BreakChecksum(entry(v, "/SUB")); },
         {{"/SUB/", kDamagedEntry}, {"/SUB/F", kBelowDamage}, {"/SUB/DEEP/G", kBelowDamage}}},
        {"L_AD of SUB past its sector",
         [&](TestVolume& v) { subEntry(v, 172, 2000); },
         {{"/SUB/", kDamagedEntry}, {"/SUB/F", kBelowDamage}, {"/SUB/DEEP/G", kBelowDamage}}},
        {"CRC of the File Identifier of F",
         [&](TestVolume& v) { BreakCrc(fidOfF(v)); },
         {{"/SUB/F", kBelowDamage}, {"/SUB/DEEP/G", kBelowDamage}}},
        {"directory extent of a gigabyte",
         [&](TestVolume& v) { subEntry(v, 176, 0x3FFFF800); },
         {{"/SUB/F", kBelowDamage}, {"/SUB/DEEP/G", kBelowDamage}}},
        {"directory extent beyond the partition",
         [&](TestVolume& v) { subEntry(v, 180, v.partitionLength - 1); },
         {{"/SUB/F", kBelowDamage}, {"/SUB/DEEP/G", kBelowDamage}}},
        {"implementation use of F past the directory",
         [&](TestVolume& v) {
             PutLe16(fidOfF(v) + 36, 4000);
             Retag(fidOfF(v));
         },
         {{"/SUB/F", kBelowDamage}, {"/SUB/DEEP/G", kBelowDamage}}},
        {"name of F past the directory",
         [&](TestVolume& v) {
             fidOfF(v)[19] = 250;
             Retag(fidOfF(v));
         },
         {{"/SUB/F", kBelowDamage}, {"/SUB/DEEP/G", kBelowDamage}}},
        {"CRC of a File Identifier of the root",
         [&](TestVolume& v) { BreakCrc(Block(v, v.dataBlock["/"]) + 40); },
         {{"/A.BIN", kBelowDamage},
          {"/SUB/", kBelowDamage},
          {"/SUB/F", kBelowDamage},
          {"/SUB/DEEP/G", kBelowDamage},
          {"/OTHER/H", kBelowDamage}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TestVolume volume = BuildTestVolume(root);
        c.damage(volume);
        serve(volume.image);
        for (const auto& [path, data] : contents) {
            SCOPED_TRACE(path);
            TVX_DiscFile f = open(path.c_str());
            auto refused = c.refused.find(path);
            if (refused == c.refused.end()) {
                ASSERT_NE(f, nullptr);
                EXPECT_EQ(readAll(f), data);
                TVX_CloseFile(f);
            } else {
                EXPECT_EQ(f, nullptr);
                EXPECT_EQ(LastLocation(), refused->second);
            }
        }
        // The damaged entry is refused by its plain path as well; the root still opens.
        if (c.refused.count("/SUB/") && c.refused.at("/SUB/") == kDamagedEntry) {
            EXPECT_EQ(open("/SUB"), nullptr);
            EXPECT_EQ(LastLocation(), kDamagedEntry);
        }
        TVX_DiscFile top = open("/");
        EXPECT_NE(top, nullptr);
        TVX_CloseFile(top);
    }
    serve(BuildTestVolume(root).image);
    EXPECT_EQ(open("/SUB/NOT/THERE"), nullptr);
    EXPECT_EQ(LastLocation(), kNotFound);
    TVX_LastError error;
    ASSERT_EQ(TVX_GetLastError(handle_, &error), TVX_OK);
    EXPECT_STREQ(error.description, "No file or directory with this path");
    EXPECT_EQ(error.cdbLength, 0u);
}

// Every address is computed in 64 bits: an extent whose 32-bit sector address would wrap round
// to the volume descriptors, or that leaves the partition, is refused, not read.
TEST_F(ReaderTest, ExtentsThatLeaveThePartitionAreRefused) {
    struct Case {
        const char* what;
        TestNode::Alloc alloc;
        uint32_t block; // 0: just past the partition
        uint32_t length;
    };
    const Case cases[] = {
        {"wraps to sector 0", TestNode::Alloc::Short, 0u - 272, 5000},
        {"wraps to the volume descriptors", TestNode::Alloc::Short, 0u - 272 + 32, 5000},
        {"long_ad wrapping to the anchor", TestNode::Alloc::Long, 0u - 272 + 256, 5000},
        {"starts past the partition", TestNode::Alloc::Short, 0, 5000},
        {"runs past the partition", TestNode::Alloc::Short, 4096 - 272 - 1, 4096},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TestNode file = TestNode::File("A.BIN", TestPattern(5000, 1));
        file.alloc = c.alloc;
        TestVolume volume = BuildTestVolume(TestNode::Dir("", {file}));
        uint8_t* fe = Block(volume, volume.entryBlock["/A.BIN"]);
        PutLe32(fe + 176, c.length);
        PutLe32(fe + 180, c.block ? c.block : volume.partitionLength);
        Retag(fe);
        serve(volume.image);
        EXPECT_EQ(open("/A.BIN"), nullptr);
        EXPECT_EQ(LastLocation(), kOutsidePartition);

        // Reads of such an entry deliver nothing, whoever sets it up.
        TVX_DiscFile root = open("/");
        ASSERT_NE(root, nullptr);
        root->openEntry = root->rootEntry.next;
        std::string buffer(8192, '\0');
        uint32_t got = 1;
        EXPECT_EQ(TVX_ReadFile(root, buffer.data(), 8192, &got), 1);
        EXPECT_EQ(got, 0u);
        TVX_CloseFile(root);
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
        TestNode b = TestNode::Dir(
            "B", {TestNode::File("F1", "1"),
                  TestNode::Dir("C", {TestNode::File("F2", "22"), ghost("G1", "/B")})});
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
