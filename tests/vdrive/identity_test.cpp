// What the drive says about itself and the disc: identification, configuration, speeds, disc
// structures, format capacities; drive models differ as configured.
#include "vdrive_fixture.h"

#include <set>

namespace tvx::vdrive::test {
namespace {

class Identity : public DriveTest {
  protected:
    // Feature codes in a GET CONFIGURATION answer.
    static std::vector<uint16_t> featureCodes(const Answer& a) {
        std::vector<uint16_t> codes;
        size_t end = std::min<size_t>(a.data.size(), a.be32(0) + 4);
        for (size_t at = 8; at + 4 <= end; at += 4 + a.data[at + 3])
            codes.push_back(a.be16(at));
        return codes;
    }
};

TEST_F(Identity, InquiryNamesTheModel) {
    drive = std::make_unique<VirtualRecorder>(clock, DriveModel::SonyDvdRw());
    Answer a = send({0x12, 0, 0, 0, 96, 0}, DataDirection::FromDevice, {}, 96);
    ASSERT_TRUE(a.good());
    ASSERT_EQ(a.data.size(), 36u);
    EXPECT_EQ(a.data[0], 0x05);
    EXPECT_EQ(std::string(a.data.begin() + 8, a.data.begin() + 16), "SONY    ");
    EXPECT_EQ(std::string(a.data.begin() + 16, a.data.begin() + 22), "DVD RW");
}

TEST_F(Identity, ProfileListMarksTheCurrentProfile) {
    ASSERT_TRUE(drive->insertBlank(MediumKind::DvdRwSequential, 1000));
    Answer a = getConfiguration(2, 0x0000);
    ASSERT_TRUE(a.good());
    EXPECT_EQ(a.be16(6), 0x0014);
    ASSERT_EQ(a.be16(8), 0x0000);
    std::set<uint16_t> profiles;
    int current = 0;
    for (size_t at = 12; at < 12u + a.data[11]; at += 4) {
        profiles.insert(a.be16(at));
        if (a.data[at + 2] & 1) {
            ++current;
            EXPECT_EQ(a.be16(at), 0x0014);
        }
    }
    EXPECT_EQ(current, 1);
    EXPECT_EQ(profiles,
              (std::set<uint16_t>{0x08, 0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x1A, 0x1B, 0x2B}));
    drive->removeDisc();
    EXPECT_EQ(getConfiguration(2, 0).be16(6), 0);
}

TEST_F(Identity, ReturnTypesSelectAllCurrentOrOneFeature) {
    ASSERT_TRUE(drive->insertBlank(MediumKind::DvdPlusR, 1000));
    std::vector<uint16_t> all = featureCodes(getConfiguration(0, 0));
    std::vector<uint16_t> current = featureCodes(getConfiguration(1, 0));
    EXPECT_TRUE(std::is_sorted(all.begin(), all.end()));
    EXPECT_GT(all.size(), current.size());
    EXPECT_NE(std::find(current.begin(), current.end(), 0x002B), current.end()) << "DVD+R write";
    EXPECT_EQ(std::find(current.begin(), current.end(), 0x002F), current.end());
    EXPECT_EQ(featureCodes(getConfiguration(0, 0x0020)).front(), 0x0020);
    EXPECT_EQ(featureCodes(getConfiguration(2, 0x002A)), (std::vector<uint16_t>{0x002A}));
    EXPECT_TRUE(featureCodes(getConfiguration(2, 0x0030)).empty()) << "unsupported: no descriptor";
}

TEST_F(Identity, DashWriteFeatureBitsFollowTheModel) {
    Answer a = getConfiguration(2, 0x002F);
    ASSERT_EQ(a.be16(8), 0x002F);
    EXPECT_EQ(a.data[12] & 0x46, 0x46) << "BUF, test write, DVD-RW";
    drive = std::make_unique<VirtualRecorder>(clock, DriveModel::WithoutTestWrite());
    EXPECT_EQ(getConfiguration(2, 0x002F).data[12] & 0x04, 0);
}

TEST_F(Identity, WriteSpeedsAndStreamingChooseTheNearestSpeedNotAbove) {
    ASSERT_TRUE(drive->insertBlank(MediumKind::DvdR));
    Answer list = getPerformance(3, false, 10);
    ASSERT_TRUE(list.good());
    std::vector<uint32_t> speeds;
    for (size_t at = 8; at + 16 <= list.data.size(); at += 16)
        speeds.push_back(list.be32(at + 12));
    EXPECT_EQ(speeds, (std::vector<uint32_t>{16 * 1385, 12 * 1385, 8 * 1385, 6 * 1385, 4 * 1385}));
    auto writeSpeed = [&] { return getPerformance(0, true, 1).be32(8 + 12); };
    EXPECT_EQ(writeSpeed(), 16u * 1385) << "fastest at first";
    ASSERT_TRUE(setStreaming(0xFFFFFFFF, 10 * 1385).good());
    EXPECT_EQ(writeSpeed(), 8u * 1385);
    ASSERT_TRUE(setStreaming(0xFFFFFFFF, 100).good());
    EXPECT_EQ(writeSpeed(), 4u * 1385) << "slowest below the list";
    ASSERT_TRUE(setStreaming(0xFFFFFFFF, 0xFFFFFFFF).good());
    EXPECT_EQ(writeSpeed(), 16u * 1385);
    Answer header = getPerformance(0, false, 1);
    EXPECT_EQ(header.be32(0), 20u) << "one descriptor";
    // Asking for one descriptor still reports how much the drive has, so a host can ask for
    // the length first and then for the whole list.
    Answer first = getPerformance(3, false, 1);
    ASSERT_TRUE(first.good());
    EXPECT_EQ(first.be32(0), 4u + 5 * 16) << "length of the whole list";
    EXPECT_EQ(first.data.size(), 8u + 16) << "but only the descriptor asked for";
    Answer none = getPerformance(3, false, 0);
    EXPECT_EQ(none.be32(0), 4u + 5 * 16);
    EXPECT_EQ(none.data.size(), 8u);
    EXPECT_EQ(drive->disc().capacity, 2298496u) << "real single-layer DVD-R";
}

TEST_F(Identity, DiscStructureGivesTheDataZone) {
    ASSERT_TRUE(drive->insertBlank(MediumKind::DvdPlusRDualLayer, 20000));
    std::vector<uint8_t> c(12, 0);
    c[0] = 0xAD;
    c[9] = 20;
    Answer phys = send(c, DataDirection::FromDevice, {}, 20);
    ASSERT_TRUE(phys.good());
    EXPECT_EQ(phys.data[4] >> 4, 14) << "DVD+R DL book";
    EXPECT_EQ((phys.data[6] >> 5) & 3, 1) << "two layers";
    EXPECT_EQ(2 * (phys.be32(16) - phys.be32(8) + 1), 20000u);
    c[7] = 0x01;
    c[9] = 8;
    Answer copy = send(c, DataDirection::FromDevice, {}, 8);
    ASSERT_TRUE(copy.good());
    EXPECT_EQ(copy.data[4], 0);
    ASSERT_TRUE(drive->insertBlank(MediumKind::DvdR, 20000));
    c[7] = 0x00;
    c[9] = 20;
    phys = send(c, DataDirection::FromDevice, {}, 20);
    EXPECT_EQ(phys.be32(12) - phys.be32(8) + 1, 20000u);
}

TEST_F(Identity, FormatCapacitiesOfAPlusRw) {
    ASSERT_TRUE(drive->insertBlank(MediumKind::DvdPlusRw, 30000));
    std::vector<uint8_t> c(10, 0);
    c[0] = 0x23;
    Be16(c, 7, 252);
    Answer a = send(c, DataDirection::FromDevice, {}, 252);
    ASSERT_TRUE(a.good());
    EXPECT_EQ(a.data[3], 16);
    EXPECT_EQ(a.be32(4), 30000u);
    EXPECT_EQ(a.data[8] & 3, 1) << "unformatted";
    EXPECT_EQ(a.be32(12), 30000u);
    EXPECT_EQ(a.data[16] >> 2, 0x26);
}

} // namespace
} // namespace tvx::vdrive::test
