#include "common/byte_order.h"
#include "image/iso9660.h"
#include "image/plan.h"
#include "image/source_check.h"
#include "image/udf_file_entry.h"
#include "image/udf_tag.h"
#include "memory_sink.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace tvx {
namespace {

struct PlanDeleter {
    void operator()(VolumePlan* p) const { Plan_Free(p); }
};
using PlanPtr = std::unique_ptr<VolumePlan, PlanDeleter>;

std::vector<uint8_t> Bytes(std::initializer_list<int> values) {
    std::vector<uint8_t> v;
    for (int x : values)
        v.push_back(static_cast<uint8_t>(x));
    return v;
}

void Append(std::vector<uint8_t>& v, const std::string& s) {
    v.insert(v.end(), s.begin(), s.end());
}

bool AllZero(const uint8_t* p, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        if (p[i]) return false;
    }
    return true;
}

// Every run follows the previous one; only a file of 0 bytes shares its start.
void ExpectAscending(const VolumePlan& plan) {
    uint64_t end = 0;
    for (const WriteRun& run : plan.writeList) {
        EXPECT_GE(run.start, end) << Plan_DumpWriteList(&plan);
        end = static_cast<uint64_t>(run.start) + run.sectorCount;
    }
    EXPECT_EQ(end, Plan_VolumeSize(&plan));
}

// Every tagged descriptor of the stream carries a valid tag for its own location.
void ExpectValidTags(const VolumePlan& plan, const test::MemorySink& sink) {
    uint32_t p = Plan_PartitionStart(&plan);
    for (const WriteRun& run : plan.writeList) {
        if (run.kind != RunKind::Descriptor) continue;
        const uint8_t* d = sink.sector(run.start);
        uint32_t location = run.start >= p && run.start < p + Plan_PartitionLength(&plan)
                                ? run.start - p
                                : run.start;
        EXPECT_TRUE(UDF_CheckTag(d, 2048, GetLe16(d), location)) << "sector " << run.start;
    }
}

class Layout : public ::testing::Test {
  protected:
    PlanPtr Stream(PlanPtr plan, test::MemorySink& sink) {
        EXPECT_TRUE(Plan_Layout(plan.get()));
        EXPECT_TRUE(Plan_Stream(plan.get(), sink));
        EXPECT_EQ(sink.sectors(), Plan_VolumeSize(plan.get()));
        return plan;
    }
    test::TempDir tmp;
};

TEST_F(Layout, DvdVideoExample) {
    tmp.write("VIDEO_TS/VIDEO_TS.IFO", std::string(2048, 'I'));
    tmp.write("VIDEO_TS/VIDEO_TS.BUP", std::string(100, 'B'));
    PlanPtr plan(Plan_Create("DVDVOL"));
    ASSERT_TRUE(Plan_AddVideoTsFolder(plan.get(), tmp.file("VIDEO_TS").c_str()));
    test::MemorySink sink;
    plan = Stream(std::move(plan), sink);
    VolumePlan& v = *plan;

    FileNode* audio = Plan_FindNode(&v.root, "AUDIO_TS");
    FileNode* video = Plan_FindNode(&v.root, "VIDEO_TS");
    FileNode* ifo = Plan_FindNode(&v.root, "VIDEO_TS/VIDEO_TS.IFO");
    FileNode* bup = Plan_FindNode(&v.root, "VIDEO_TS/VIDEO_TS.BUP");
    EXPECT_EQ(v.root.entryBlock, 2u);
    EXPECT_EQ(v.root.dataBlock, 3u);
    EXPECT_EQ(audio->entryBlock, 4u);
    EXPECT_EQ(audio->dataBlock, 5u);
    EXPECT_EQ(video->entryBlock, 6u);
    EXPECT_EQ(video->dataBlock, 7u);
    EXPECT_EQ(ifo->entryBlock, 8u);
    EXPECT_EQ(bup->entryBlock, 9u);
    EXPECT_EQ(ifo->dataBlock, 10u);
    EXPECT_EQ(Plan_PartitionLength(&v), 12u);
    EXPECT_EQ(v.dvdPadding, 15u);
    EXPECT_EQ(Plan_PartitionStart(&v), 277u);
    EXPECT_EQ(Plan_PartitionStart(&v) + ifo->dataBlock, 287u);
    EXPECT_EQ(Plan_PartitionStart(&v) + bup->dataBlock, 288u);
    EXPECT_EQ(Plan_VolumeSize(&v), 290u);

    // Path tables.
    std::vector<uint8_t> typeL = Bytes({1, 0, 3, 1, 0, 0, 1, 0, 0, 0, 8, 0, 4, 1, 0, 0, 1, 0});
    Append(typeL, "AUDIO_TS");
    std::vector<uint8_t> tail = Bytes({8, 0, 5, 1, 0, 0, 1, 0});
    typeL.insert(typeL.end(), tail.begin(), tail.end());
    Append(typeL, "VIDEO_TS");
    ASSERT_EQ(v.pathTableSize, 42u);
    EXPECT_EQ(std::vector<uint8_t>(sink.sector(257), sink.sector(257) + 42), typeL);
    EXPECT_TRUE(AllZero(sink.sector(257) + 42, 2048 - 42));
    std::vector<uint8_t> typeM = Bytes({1, 0, 0, 0, 1, 3, 0, 1, 0, 0, 8, 0, 0, 0, 1, 4, 0, 1});
    EXPECT_EQ(std::vector<uint8_t>(sink.sector(258), sink.sector(258) + 18), typeM);
    EXPECT_EQ(GetBe32(sink.sector(258) + 28), 261u);
    EXPECT_EQ(v.isoDirectories[1].location, 260u);
    EXPECT_EQ(v.isoDirectories[2].location, 261u);

    // Volume space: zero where nothing is recorded, the reserve sequence re-tagged only.
    for (auto [from, to] : {std::pair{0, 15}, {21, 31}, {38, 47}, {54, 63}, {66, 255}}) {
        for (int s = from; s <= to; ++s)
            EXPECT_TRUE(AllZero(sink.sector(s), 2048)) << s;
    }
    for (int i = 0; i < 6; ++i) {
        const uint8_t* main = sink.sector(32 + i);
        const uint8_t* reserve = sink.sector(48 + i);
        for (int b = 0; b < 2048; ++b) {
            if (b != 4 && (b < 12 || b > 15)) {
                ASSERT_EQ(main[b], reserve[b]) << "descriptor " << i << " byte " << b;
            }
        }
        EXPECT_EQ(GetLe32(reserve + 12), 48u + i);
    }
    EXPECT_EQ(GetLe16(sink.sector(289)), kTagAnchor);
    EXPECT_EQ(GetLe32(sink.sector(289) + 12), 289u);
    EXPECT_TRUE(AllZero(sink.sector(262), 2048 * 15)); // the DVD padding
    EXPECT_EQ(sink.sector(287)[0], 'I');
    EXPECT_EQ(sink.sector(288)[0], 'B');
    EXPECT_TRUE(AllZero(sink.sector(288) + 100, 1948));

    // ISO 9660 Primary Volume Descriptor.
    const uint8_t* pvd = sink.sector(16);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(pvd + 1), 5), "CD001");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(pvd + 40), 32),
              "DVDVOL                          ");
    EXPECT_EQ(GetLe32(pvd + 80), 290u);
    EXPECT_EQ(GetBe32(pvd + 84), 290u);
    EXPECT_EQ(pvd[156], 34) << "the root's record has no System Use";
    EXPECT_EQ(GetLe32(pvd + 156 + 2), 259u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(pvd + 190), 16), v.volumeSetId);
    EXPECT_EQ(sink.sector(17)[0], 255);

    ExpectAscending(v);
    ExpectValidTags(v, sink);
}

TEST_F(Layout, LongLabelsAreCutToTheirFields) {
    // 31 letters and a two-byte character: the ISO field keeps whole characters only.
    std::string label = std::string(31, 'L') + "\xC3\xA9" + "tail";
    PlanPtr plan(Plan_Create(label.c_str()));
    test::MemorySink sink;
    plan = Stream(std::move(plan), sink);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(sink.sector(16) + 40), 32),
              std::string(31, 'L') + " ");
    EXPECT_EQ(sink.sector(17)[0], 255); // nothing ran over
    // UDF: 30 Latin-1 characters in a 32-byte dstring, 126 in a 128-byte one.
    EXPECT_EQ(sink.sector(32)[24 + 31], 31);
    EXPECT_EQ(sink.sector(35)[84 + 127], 1 + 31 + 1 + 4);
}

TEST_F(Layout, EmptyRoot) {
    PlanPtr plan(Plan_Create(""));
    test::MemorySink sink;
    plan = Stream(std::move(plan), sink);
    EXPECT_EQ(plan->pathTableSize, 10u);
    EXPECT_EQ(Plan_PartitionLength(plan.get()), 4u);
    EXPECT_EQ(Plan_PartitionStart(plan.get()), 260u);
    EXPECT_EQ(Plan_VolumeSize(plan.get()), 265u);
    EXPECT_EQ(std::vector<uint8_t>(sink.sector(257), sink.sector(257) + 10),
              Bytes({1, 0, 3, 1, 0, 0, 1, 0, 0, 0}));
    EXPECT_EQ(std::vector<uint8_t>(sink.sector(258), sink.sector(258) + 10),
              Bytes({1, 0, 0, 0, 1, 3, 0, 1, 0, 0}));
    const uint8_t* root = sink.sector(259);
    EXPECT_EQ(root[0], 40);
    EXPECT_EQ(GetLe32(root + 2), 259u);
    EXPECT_EQ(root[40], 40);
    EXPECT_EQ(GetLe32(root + 42), 259u);
    EXPECT_EQ(root[40 + 33], 1);
    EXPECT_EQ(root[80], 0);
    ExpectAscending(*plan);
    ExpectValidTags(*plan, sink);
}

TEST_F(Layout, IsoDirectoryRecordsNeverCrossSectors) {
    std::string src = tmp.write("s", "1");
    PlanPtr plan(Plan_Create("X"));
    for (int i = 0; i < 49; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "F%06d.TX", i);
        ASSERT_TRUE(Plan_AddFileSetEntry(plan.get(), name, src.c_str()));
    }
    test::MemorySink sink;
    plan = Stream(std::move(plan), sink);
    EXPECT_EQ(Iso_RecordLength(12), 52u);
    ASSERT_EQ(plan->isoDirectories[0].size, 2u);
    const uint8_t* dir = sink.sector(plan->isoDirectoryStart);
    // 37 records after "." and "..": 80 + 37 * 52 = 2004 bytes, the rest of the sector zero.
    EXPECT_EQ(dir[80 + 36 * 52], 52);
    EXPECT_TRUE(AllZero(dir + 2004, 44));
    EXPECT_EQ(dir[2048], 52);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(dir + 2048 + 33), 12), "F000037.TX;1");
    // Pad byte present exactly when the identifier length is even.
    EXPECT_EQ(dir[2048 + 45], 0);
}

TEST_F(Layout, IsoRecordsOfHiddenTinyAndHugeFiles) {
    tmp.write("d/.hidden", "1");
    tmp.mkdir("d/.hdir");
    std::string huge = tmp.write("d/huge.bin", "");
    std::filesystem::resize_file(huge, 5ull << 30); // sparse
    PlanPtr plan(Plan_Create("X"));
    ASSERT_EQ(Plan_AddFolderContents(plan.get(), tmp.file("d").c_str()), 3u);
    ASSERT_TRUE(Plan_Layout(plan.get()));
    const WriteRun* rootDir = nullptr;
    for (const WriteRun& r : plan->writeList) {
        if (r.start == plan->isoDirectoryStart) rootDir = &r;
    }
    ASSERT_NE(rootDir, nullptr);
    std::vector<uint8_t> buf(rootDir->sectorCount * 2048);
    Plan_RunBytes(*rootDir, buf.data());
    // Records in entry order (sorted): .hdir, .hidden, huge.bin (two extents).
    size_t pos = 80;
    auto record = [&](const char* id, uint8_t flags, uint32_t length) {
        SCOPED_TRACE(id);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(&buf[pos + 33]), buf[pos + 32]), id);
        EXPECT_EQ(buf[pos + 25], flags);
        EXPECT_EQ(GetLe32(&buf[pos + 10]), length);
        pos += buf[pos];
    };
    record("HDIR", 0x03, 2048);
    record(".HIDDEN;1", 0x01, 1);
    FileNode* hugeNode = Plan_FindNode(&plan->root, "huge.bin");
    uint32_t start = GetLe32(&buf[pos + 2]);
    EXPECT_EQ(start, Plan_PartitionStart(plan.get()) + hugeNode->dataBlock);
    record("HUGE.BIN;1", 0x80, 0xFFFFF800);
    EXPECT_EQ(GetLe32(&buf[pos + 2]), start + 0x1FFFFF);
    record("HUGE.BIN;1", 0x00, static_cast<uint32_t>((5ull << 30) - 0xFFFFF800));
    // The UDF side: extents of at most 0x3FFFF800 bytes, so 5 GiB takes six.
    std::vector<uint8_t> fe(2048);
    EXPECT_EQ(UDF_BuildFileEntry(fe.data(), hugeNode->entryBlock, *hugeNode, 16), 308u + 6 * 8);
}

TEST_F(Layout, StreamFailsWhenASourceChanges) {
    std::string a = tmp.write("d/a.bin", std::string(5000, 'a'));
    std::string b = tmp.write("d/b.bin", std::string(3000, 'b'));
    for (int change = 0; change < 3; ++change) {
        tmp.write("d/b.bin", std::string(3000, 'b'));
        PlanPtr plan(Plan_Create("X"));
        ASSERT_EQ(Plan_AddFolderContents(plan.get(), tmp.file("d").c_str()), 2u);
        ASSERT_TRUE(Plan_Layout(plan.get()));
        uint32_t bStart =
            Plan_PartitionStart(plan.get()) + Plan_FindNode(&plan->root, "b.bin")->dataBlock;
        if (change == 0) tmp.write("d/b.bin", std::string(3001, 'b'));
        if (change == 1) tmp.write("d/b.bin", std::string(2999, 'b'));
        if (change == 2) std::filesystem::remove(b);
        test::MemorySink sink;
        EXPECT_FALSE(Plan_Stream(plan.get(), sink));
        // Nothing of the changed file was written.
        EXPECT_EQ(sink.sectors(), bStart) << change;
    }
}

// Files at the top of a scan are read by name in their folder: files of two scanned folders
// interleave in the root, a file-set entry names its own path, and (POSIX) a name holding a
// backslash is no folder and name.
TEST_F(Layout, TopLevelFilesOfSeveralFoldersStreamTheirOwnBytes) {
    tmp.write("d1/a1.bin", "first a");
    tmp.write("d1/c1.bin", std::string(3000, 'c'));
    tmp.write("d2/b2.bin", "second b");
    tmp.write("d2/d2.bin", "second d");
    std::string loose = tmp.write("loose.bin", "loose");
    std::vector<std::pair<std::string, std::string>> expected = {
        {"a1.bin", "first a"}, {"b2.bin", "second b"}, {"c1.bin", std::string(3000, 'c')},
        {"d2.bin", "second d"}, {"e.bin", "loose"}};
#if !defined(_WIN32)
    tmp.write("d1/x\\y.bin", "top");
    tmp.write("d1/x/y.bin", "nested");
    expected.push_back({"x\\y.bin", "top"});
#endif
    PlanPtr plan(Plan_Create("X"));
    ASSERT_GT(Plan_AddFolderContents(plan.get(), tmp.file("d1").c_str()), 0u);
    ASSERT_GT(Plan_AddFolderContents(plan.get(), tmp.file("d2").c_str()), 0u);
    ASSERT_TRUE(Plan_AddFileSetEntry(plan.get(), "e.bin", loose.c_str()));
    EXPECT_TRUE(Plan_CheckSources(plan.get(), nullptr));
    test::MemorySink sink;
    plan = Stream(std::move(plan), sink);
    for (const auto& [name, content] : expected) {
        const FileNode* node = plan->root.firstChild;
        while (node && node->name != name)
            node = node->nextSibling;
        ASSERT_NE(node, nullptr) << name;
        size_t at = (size_t{Plan_PartitionStart(plan.get())} + node->dataBlock) * 2048;
        EXPECT_EQ(sink.bytes.substr(at, content.size()), content) << name;
    }
}

TEST_F(Layout, TooManyDirectoriesForPathTable) {
    PlanPtr plan(Plan_Create("X"));
    FileNode* parent = &plan->root;
    for (int i = 0; i < 65535; ++i) {
        ASSERT_NE(Plan_AddDirectory(plan.get(), parent, std::to_string(i).c_str()), nullptr);
        if (i % 1000 == 999) parent = parent->firstChild;
    }
    EXPECT_EQ(plan->directoryCount, 65536u);
    EXPECT_FALSE(Plan_Layout(plan.get()));
    EXPECT_TRUE(plan->writeList.empty());
}

} // namespace
} // namespace tvx
