// Mapped windows on an in-memory disc: sizes, modes, list handling and ownership.
#include "reader_fixture.h"

#include "reader/disc_file.h"

namespace tvx::test {
namespace {

class MapWindowTest : public ReaderTest {
protected:
    void SetUp() override {
        volume_ = serveVolume(TestNode::Dir("", {TestNode::File("F.BIN", TestPattern(10000, 1))}));
        file_ = open("/F.BIN");
        ASSERT_NE(file_, nullptr);
    }
    void TearDown() override { TVX_CloseFile(file_); }

    TestVolume volume_;
    TVX_DiscFile file_ = nullptr;
};

TEST_F(MapWindowTest, WindowSizes) {
    EXPECT_EQ(TVX_OpenMMap(file_, 0, 0, 0), nullptr);
    EXPECT_EQ(TVX_OpenMMap(file_, 0, 1025, 0), nullptr);
    EXPECT_EQ(TVX_OpenMMap(file_, 0, 1, 3), nullptr); // no such mode
    void* big = TVX_OpenMMap(file_, 0, 1024, 0);
    ASSERT_NE(big, nullptr);
    EXPECT_EQ(disc_->image()[1024 * 2048 - 1], static_cast<uint8_t*>(big)[1024 * 2048 - 1]);
    EXPECT_EQ(TVX_CloseMMap(big), 1);
}

TEST_F(MapWindowTest, ModesMapTheSameBytes) {
    const uint32_t block = volume_.dataBlock["/F.BIN"];
    const std::string data = TestPattern(10000, 1);
    auto* absolute = static_cast<uint8_t*>(TVX_OpenMMap(file_, 272 + block, 2, 0));
    auto* relative = static_cast<uint8_t*>(TVX_OpenMMap(file_, block, 2, 1));
    auto* inFile = static_cast<uint8_t*>(TVX_OpenMMap(file_, 0, 2, 2));
    ASSERT_TRUE(absolute && relative && inFile);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(absolute), 4096), data.substr(0, 4096));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(relative), 4096), data.substr(0, 4096));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(inFile), 4096), data.substr(0, 4096));

    // The tail of a file window past the end of the file is zero, not old memory.
    auto* tail = static_cast<uint8_t*>(TVX_OpenMMap(file_, 4, 2, 2));
    ASSERT_NE(tail, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(tail), 10000 - 8192), data.substr(8192));
    EXPECT_EQ(tail[4095], 0);
    EXPECT_EQ(TVX_SeekFile(file_, 0, 0, TVX_SEEK_CUR), 8192u); // left at the window's start

    // A file window that starts past the end is refused, whatever the read position.
    TVX_SeekFile(file_, 100, 0, TVX_SEEK_SET);
    EXPECT_EQ(TVX_OpenMMap(file_, 5, 1, 2), nullptr);
    EXPECT_EQ(TVX_SeekFile(file_, 0, 0, TVX_SEEK_CUR), 100u);
    // Sectors that do not read give no window.
    EXPECT_EQ(TVX_OpenMMap(file_, disc_->sectors(), 1, 0), nullptr);
    // Windows still open here are freed by TVX_CloseFile.
}

TEST_F(MapWindowTest, WindowsCloseInEitherOrder) {
    for (bool olderFirst : {true, false}) {
        void* older = TVX_OpenMMap(file_, 300, 1, 0);
        void* newer = TVX_OpenMMap(file_, 301, 1, 0);
        ASSERT_TRUE(older && newer);
        void* first = olderFirst ? older : newer;
        void* second = olderFirst ? newer : older;
        EXPECT_EQ(TVX_CloseMMap(first), 1);
        EXPECT_EQ(MapWindow_Find(file_->windows, first), nullptr);
        EXPECT_NE(MapWindow_Find(file_->windows, second), nullptr);
        EXPECT_EQ(MapWindow_Owner(second), file_);
        EXPECT_EQ(TVX_CloseMMap(second), 1);
        EXPECT_EQ(file_->windows.head.next, nullptr);
    }
}

TEST_F(ReaderTest, FileWindowsNeedTheFileData) {
    TestNode embedded = TestNode::File("E", "inline data");
    embedded.alloc = TestNode::Alloc::Embedded;
    serveVolume(TestNode::Dir("", {embedded}));
    TVX_DiscFile f = open("/E");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(TVX_OpenMMap(f, 0, 1, TVX_MMAP_FILE), nullptr); // nothing of it can be read
    TVX_CloseFile(f);
}

} // namespace
} // namespace tvx::test
