// Discs backed by files survive the drive and reload as they were left.
#include "vdrive_fixture.h"

#include <cstdio>
#include <fstream>
#include <sys/stat.h>

namespace tvx::vdrive::test {
namespace {

class Persistence : public DriveTest {
  protected:
    std::string image = ::testing::TempDir() + "vdrive_persist_" +
                        ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".img";
    void TearDown() override {
        drive.reset();
        std::remove(image.c_str());
        std::remove((image + ".state").c_str());
    }
};

TEST_F(Persistence, OpenTrackAndContentSurviveAReload) {
    ASSERT_TRUE(drive->insertBlank(MediumKind::DvdPlusR, 100000, image));
    ASSERT_TRUE(write10(0, 32).good());
    ASSERT_TRUE(write10(32, 8).good());
    ASSERT_TRUE(closeTrackSession(1, 1).good());
    pollUntilGood([&] { return readCapacity(); });
    ASSERT_TRUE(write10(40, 4).good()); // second track, left open
    drive = std::make_unique<VirtualRecorder>(clock);
    ASSERT_TRUE(drive->openDisc(image));
    DiscView v = drive->disc();
    EXPECT_EQ(v.kind, MediumKind::DvdPlusR);
    EXPECT_EQ(v.capacity, 100000u);
    ASSERT_EQ(v.tracks.size(), 2u);
    EXPECT_TRUE(v.tracks[0].closed);
    EXPECT_EQ(v.tracks[0].size, 40u);
    EXPECT_EQ(v.tracks[1].recordedBlocks, 4u);
    EXPECT_EQ(readTrackInfo(2).be32(12), 44u) << "next writable address";
    EXPECT_EQ(read10(41, 1).be32(0), 41u);
    EXPECT_TRUE(write10(44, 1).good());
    struct stat st {};
    ASSERT_EQ(::stat(image.c_str(), &st), 0);
    EXPECT_LT(st.st_blocks * 512, 4 * 1024 * 1024) << "sparse";
}

TEST_F(Persistence, PlusRwFormatStateSurvivesAndARunningFormatNeedsARestart) {
    ASSERT_TRUE(drive->insertBlank(MediumKind::DvdPlusRw, 0, image));
    ASSERT_TRUE(formatPlusRw(false).good());
    pollUntilGood([&] { return testUnitReady(); });
    ASSERT_TRUE(write10(16, 1).good());
    drive->removeDisc();
    ASSERT_TRUE(drive->openDisc(image));
    EXPECT_EQ(drive->disc().capacity, 2295104u);
    EXPECT_EQ(readDiscInfo().data[7] & 3, 1) << "stopped by the reload";
    EXPECT_TRUE(formatPlusRw(true).good());
    pollUntilGood([&] { return testUnitReady(); });
    EXPECT_EQ(read10(16, 1).be32(0), 16u);
}

TEST_F(Persistence, ExistingImageLoadsAsARecordedPlusRw) {
    {
        std::ofstream f(image, std::ios::binary);
        std::vector<char> block(kBlockSize, 0);
        for (int i = 0; i < 20; ++i) {
            block[0] = static_cast<char>(i);
            f.write(block.data(), block.size());
        }
    }
    ASSERT_TRUE(drive->loadImage(image, MediumKind::DvdPlusRw));
    Answer info = readDiscInfo();
    EXPECT_EQ(info.data[2] & 3, 2);
    EXPECT_EQ(info.data[7] & 3, 3) << "formatted";
    EXPECT_EQ(read10(19, 1).data[0], 19);
    ASSERT_TRUE(write10(5, 1).good());
    drive.reset();
    std::ifstream f(image, std::ios::binary);
    f.seekg(5 * kBlockSize);
    char first[4];
    f.read(first, 4);
    EXPECT_EQ(first[3], 5) << "written to the image";
}

TEST_F(Persistence, MissingOrDamagedStateIsRefused) {
    EXPECT_FALSE(drive->openDisc(image));
    ASSERT_TRUE(drive->insertBlank(MediumKind::DvdR, 1000, image));
    drive->removeDisc();
    std::ofstream(image + ".state") << "kind=DVD-R\ncapacity=abc\n";
    EXPECT_FALSE(drive->openDisc(image));
    EXPECT_FALSE(drive->hasDisc());
}

} // namespace
} // namespace tvx::vdrive::test
