// Reading files by path: seek and read rules, extents, path forms.
#include "reader_fixture.h"

namespace tvx::test {
namespace {

using Alloc = TestNode::Alloc;

class FileAccessTest : public ReaderTest {
  protected:
    void SetUp() override {
        TestNode split = TestNode::File("SPLIT.BIN", TestPattern(20000, 3));
        split.extentBytes = 6144;
        TestNode root = TestNode::Dir(
            "", {
                    TestNode::Dir("VIDEO_TS", {TestNode::File("VIDEO_TS.IFO", TestPattern(3000, 1)),
                                               TestNode::File("EMPTY.BUP", "")}),
                    TestNode::File("DATA.BIN", TestPattern(70000, 2)),
                    split,
                });
        serveVolume(root);
    }
};

TEST_F(FileAccessTest, SeekRules) {
    TVX_DiscFile f = open("/VIDEO_TS/VIDEO_TS.IFO");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(TVX_GetFileSize(f), 3000u);
    EXPECT_EQ(TVX_SeekFile(f, 3000, 0, TVX_SEEK_SET), 3000u); // the end itself is valid
    uint32_t got = 99;
    char buffer[16];
    EXPECT_EQ(TVX_ReadFile(f, buffer, 16, &got), 0);
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(TVX_SeekFile(f, 10, 0, TVX_SEEK_SET), 10u);
    EXPECT_EQ(TVX_SeekFile(f, 3001, 0, TVX_SEEK_SET), 10u); // beyond the end: refused
    EXPECT_EQ(TVX_SeekFile(f, 0, 0, 3), 10u);               // unknown origin
    EXPECT_EQ(TVX_SeekFile(f, static_cast<uint32_t>(-100), 0xFFFFFFFF, TVX_SEEK_END), 2900u);
    EXPECT_EQ(TVX_SeekFile(f, static_cast<uint32_t>(-4000), 0xFFFFFFFF, TVX_SEEK_END), 2900u);
    EXPECT_EQ(TVX_SeekFile(f, static_cast<uint32_t>(-900), 0xFFFFFFFF, TVX_SEEK_CUR), 2000u);
    TVX_CloseFile(f);
}

TEST_F(FileAccessTest, ReadsDeliverExactlyTheRange) {
    const std::string data = TestPattern(3000, 1);
    TVX_DiscFile f = open("/VIDEO_TS/VIDEO_TS.IFO");
    ASSERT_NE(f, nullptr);
    std::string buffer(4096 + 16, '\x5A');
    uint32_t got = 0;
    EXPECT_EQ(TVX_ReadFile(f, buffer.data(), 4096, &got), 1);
    EXPECT_EQ(got, 3000u);
    EXPECT_EQ(buffer.substr(0, 3000), data);
    EXPECT_EQ(buffer.substr(3000), std::string(4096 + 16 - 3000, '\x5A')); // nothing beyond
    EXPECT_EQ(TVX_SeekFile(f, 0, 0, TVX_SEEK_CUR), 3000u);

    TVX_SeekFile(f, 2000, 0, TVX_SEEK_SET);
    std::string small(100 + 8, '\x5A');
    EXPECT_EQ(TVX_ReadFile(f, small.data(), 100, &got), 1); // spans two sectors
    EXPECT_EQ(got, 100u);
    EXPECT_EQ(small.substr(0, 100), data.substr(2000, 100));
    EXPECT_EQ(small.substr(100), std::string(8, '\x5A'));
    EXPECT_EQ(TVX_SeekFile(f, 0, 0, TVX_SEEK_CUR), 2100u);

    EXPECT_EQ(TVX_ReadFile(f, small.data(), 0, &got), 1);
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(TVX_ReadFile(f, small.data(), 10, nullptr), 1); // count pointer is optional
    TVX_CloseFile(f);
}

TEST_F(FileAccessTest, ReadsAcrossExtentsAndInOddChunks) {
    TVX_DiscFile f = open("/SPLIT.BIN");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(readAll(f, 777), TestPattern(20000, 3));
    TVX_SeekFile(f, 6000, 0, TVX_SEEK_SET); // across the first extent boundary at 6144
    std::string buffer(300, '\0');
    uint32_t got = 0;
    TVX_ReadFile(f, buffer.data(), 300, &got);
    EXPECT_EQ(buffer, TestPattern(20000, 3).substr(6000, 300));
    TVX_CloseFile(f);

    f = open("/DATA.BIN");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(readAll(f, 65536), TestPattern(70000, 2));
    TVX_CloseFile(f);
}

TEST_F(FileAccessTest, AlignedReadsGoStraightIntoTheBuffer) {
    TVX_DiscFile f = open("/DATA.BIN");
    ASSERT_NE(f, nullptr);
    disc_->log.clear();
    std::string buffer(65536, '\0');
    uint32_t got = 0;
    ASSERT_EQ(TVX_ReadFile(f, buffer.data(), 65536, &got), 1);
    EXPECT_EQ(got, 65536u);
    ASSERT_EQ(disc_->log.size(), 1u); // one READ(10) of 32 sectors
    EXPECT_EQ(disc_->log[0].blocks, 32u);
    TVX_CloseFile(f);
}

TEST_F(FileAccessTest, PathForms) {
    uint32_t got = 7;
    char c;
    TVX_DiscFile a = open("/VIDEO_TS/VIDEO_TS.IFO");
    TVX_DiscFile b = open("\\VIDEO_TS\\VIDEO_TS.IFO");
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(TVX_GetFileSize(a), TVX_GetFileSize(b));
    TVX_CloseFile(a);
    TVX_CloseFile(b);
    EXPECT_EQ(open("/video_ts/video_ts.ifo"), nullptr);
    EXPECT_EQ(open("VIDEO_TS/VIDEO_TS.IFO"), nullptr);
    EXPECT_EQ(open("/VIDEO_TS"), nullptr); // a directory only with its trailing separator

    TVX_DiscFile dir = open("/VIDEO_TS/");
    ASSERT_NE(dir, nullptr);
    EXPECT_EQ(TVX_GetFileSize(dir), 0u);
    TVX_CloseFile(dir);

    // A zero-length file opens by its path, and still with the trailing separator that once
    // was its only form.
    for (const char* path :
         {"/VIDEO_TS/EMPTY.BUP", "/VIDEO_TS/EMPTY.BUP/", "\\VIDEO_TS\\EMPTY.BUP"}) {
        TVX_DiscFile empty = open(path);
        ASSERT_NE(empty, nullptr) << path;
        EXPECT_EQ(TVX_GetFileSize(empty), 0u);
        EXPECT_EQ(TVX_ReadFile(empty, &c, 1, &got), 0);
        TVX_CloseFile(empty);
    }
    EXPECT_EQ(open("/VIDEO_TS/EMPTY.BUP//"), nullptr);
    EXPECT_EQ(open("/VIDEO_TS/VIDEO_TS.IFO/"), nullptr); // only an empty file has both forms

    TVX_DiscFile root = open("/");
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(TVX_GetFileSize(root), 0u);
    EXPECT_EQ(TVX_ReadFile(root, &c, 1, &got), 0);
    EXPECT_EQ(got, 0u);
    TVX_CloseFile(root);
}

TEST_F(ReaderTest, ForeignEntryForms) {
    TestNode embedded = TestNode::File("EMBED.TXT", "inline bytes");
    embedded.alloc = Alloc::Embedded;
    TestNode extended = TestNode::File("EXT.BIN", TestPattern(5000, 4));
    extended.alloc = Alloc::Extended;
    TestNode longAd = TestNode::File("LONG.BIN", TestPattern(9000, 5));
    longAd.alloc = Alloc::Long;
    longAd.extentBytes = 4096;
    TestNode efe = TestNode::File("EFE.BIN", TestPattern(12345, 6));
    efe.extendedEntry = true;
    TestNode efeDir = TestNode::Dir("EFEDIR", {TestNode::File("IN.BIN", TestPattern(100, 7))});
    efeDir.extendedEntry = true;
    efeDir.alloc = Alloc::Embedded;
    serveVolume(TestNode::Dir("", {embedded, extended, longAd, efe, efeDir}));

    // Embedded and ext_ad data have no extents: reads deliver nothing and keep the position.
    for (const char* path : {"/EMBED.TXT", "/EXT.BIN"}) {
        TVX_DiscFile f = open(path);
        ASSERT_NE(f, nullptr) << path;
        EXPECT_GT(TVX_GetFileSize(f), 0u);
        char buffer[64];
        uint32_t got = 9;
        EXPECT_EQ(TVX_ReadFile(f, buffer, sizeof buffer, &got), 1);
        EXPECT_EQ(got, 0u);
        EXPECT_EQ(TVX_SeekFile(f, 0, 0, TVX_SEEK_CUR), 0u);
        TVX_CloseFile(f);
    }
    const std::pair<const char*, std::string> readable[] = {
        {"/LONG.BIN", TestPattern(9000, 5)},
        {"/EFE.BIN", TestPattern(12345, 6)},
        {"/EFEDIR/IN.BIN", TestPattern(100, 7)},
    };
    for (const auto& [path, data] : readable) {
        TVX_DiscFile f = open(path);
        ASSERT_NE(f, nullptr) << path;
        EXPECT_EQ(readAll(f, 1000), data) << path;
        TVX_CloseFile(f);
    }
}

TEST_F(ReaderTest, SameNamesFindTheLaterEntryOfTheDirectory) {
    serveVolume(
        TestNode::Dir("", {TestNode::File("TWIN", "first"), TestNode::File("TWIN", "second!")}));
    TVX_DiscFile f = open("/TWIN");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(TVX_GetFileSize(f), 7u);
    TVX_CloseFile(f);
}

} // namespace
} // namespace tvx::test
