// The drive and disc queries against the virtual recorder.
#include "frame/library_state.h"
#include "mmc/commands.h"
#include "support/direct_transport.h"
#include "support/temp_dir.h"
#include "vdrive/virtual_recorder.h"

#include "torvexin.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

namespace tvx {
namespace {

using vdrive::MediumKind;

constexpr uint32_t kSmallDisc = 8192;

class VdriveQueries : public ::testing::Test {
  protected:
    VirtualClock clock;
    vdrive::VirtualRecorder drive{clock};
    test::DirectTransport transport;
    RecHandle* h = transport.open(drive);

    TVX_DiscInfo discInfo() {
        TVX_DiscInfo info{};
        EXPECT_EQ(TVX_GetDiscInfo(h, &info), TVX_OK);
        return info;
    }
};

TEST_F(VdriveQueries, BlankDvdR) {
    ASSERT_TRUE(drive.insertBlank(MediumKind::DvdR, kSmallDisc));
    TVX_DiscInfo info = discInfo();
    EXPECT_EQ(info.mediaType, 0x0020u);
    EXPECT_EQ(info.blank, 1u);
    EXPECT_EQ(info.canErase, 0u);
    EXPECT_EQ(info.appendable, 1u);
    EXPECT_EQ(info.usedBlocks, 0u);
    EXPECT_EQ(info.freeBlocks, kSmallDisc);
    EXPECT_EQ(info.capacityBlocks, kSmallDisc);
    EXPECT_EQ(info.blockSize, 2048u);
}

TEST_F(VdriveQueries, RecordedDvdR) {
    ASSERT_TRUE(drive.insertRecorded(MediumKind::DvdR, 1000, true, kSmallDisc));
    TVX_DiscInfo info = discInfo();
    EXPECT_EQ(info.blank, 0u);
    EXPECT_EQ(info.appendable, 0u);
    EXPECT_EQ(info.canErase, 0u);
    EXPECT_EQ(info.usedBlocks, 1000u);
    EXPECT_EQ(info.freeBlocks, 0u);

    ASSERT_TRUE(drive.insertRecorded(MediumKind::DvdR, 1000, false, kSmallDisc));
    info = discInfo();
    EXPECT_EQ(info.appendable, 1u);
    EXPECT_EQ(info.usedBlocks, 1000u);
    EXPECT_GT(info.freeBlocks, 0u);
    EXPECT_LE(info.freeBlocks, kSmallDisc - 1000);
}

TEST_F(VdriveQueries, UnformattedDvdPlusRw) {
    ASSERT_TRUE(drive.insertBlank(MediumKind::DvdPlusRw, kSmallDisc));
    TVX_DiscInfo info = discInfo();
    EXPECT_EQ(info.mediaType, 0x0200u);
    EXPECT_EQ(info.blank, 1u);
    EXPECT_EQ(info.canErase, 0u);
    EXPECT_EQ(info.appendable, 1u);
    EXPECT_EQ(info.usedBlocks, 0u);
    EXPECT_EQ(info.freeBlocks, kSmallDisc);
}

TEST_F(VdriveQueries, FormattedDvdPlusRwIsJudgedByItsContent) {
    test::TempDir dir;
    std::string zeros(64 * 2048, '\0');
    ASSERT_TRUE(drive.loadImage(dir.write("zeros.iso", zeros), MediumKind::DvdPlusRw));
    TVX_DiscInfo info = discInfo();
    EXPECT_EQ(info.blank, 1u);
    EXPECT_EQ(info.appendable, 1u);
    EXPECT_EQ(info.usedBlocks, 0u);
    EXPECT_GT(info.freeBlocks, 0u);

    std::string volume = zeros;
    volume.replace(16 * 2048, 6,
                   "\x01"
                   "CD001");
    ASSERT_TRUE(drive.loadImage(dir.write("volume.iso", volume), MediumKind::DvdPlusRw));
    const int32_t saved = ExtendedMode;
    ExtendedMode = 0;
    info = discInfo();
    EXPECT_EQ(info.blank, 0u);
    EXPECT_EQ(info.canErase, 1u);
    EXPECT_EQ(info.appendable, 0u);
    EXPECT_EQ(info.freeBlocks, 0u);
    EXPECT_GT(info.usedBlocks, 0u);
    ExtendedMode = 1;
    EXPECT_EQ(discInfo().appendable, 1u);
    ExtendedMode = saved;
}

// Only a DVD+RW is judged by its content and the extended mode; DVD-RAM and restricted
// overwrite keep the drive's answer: an empty DVD-RW can be erased, a DVD-RAM with data appended.
TEST_F(VdriveQueries, OnlyDvdPlusRwIsJudgedByItsContent) {
    const uint8_t data[2048] = {1};
    struct Case {
        MediumKind kind;
        bool withData;
        uint32_t blank, canErase, appendable;
    } cases[] = {{MediumKind::DvdRwRestricted, false, 0, 1, 0},
                 {MediumKind::DvdRam, true, 0, 1, 1},
                 {MediumKind::DvdPlusRw, true, 0, 1, 0}};
    const int32_t saved = std::exchange(ExtendedMode, 0);
    for (const Case& c : cases) {
        ASSERT_TRUE(drive.insertRecorded(c.kind, 1000, false, kSmallDisc));
        ASSERT_TRUE(!c.withData || drive.writeBlocks(16, 1, data));
        const TVX_DiscInfo info = discInfo();
        EXPECT_EQ(std::vector<uint32_t>({info.blank, info.canErase, info.appendable}),
                  std::vector<uint32_t>({c.blank, c.canErase, c.appendable}))
            << vdrive::MediumName(c.kind);
    }
    ExtendedMode = saved;
}

TEST_F(VdriveQueries, OtherMedia) {
    ASSERT_TRUE(drive.insertBlank(MediumKind::DvdRwSequential, kSmallDisc));
    TVX_DiscInfo info = discInfo();
    EXPECT_EQ(info.mediaType, 0x0040u);
    EXPECT_EQ(info.blank, 1u);
    EXPECT_EQ(info.freeBlocks, info.capacityBlocks);
    EXPECT_GT(info.capacityBlocks, 0u);

    ASSERT_TRUE(drive.insertBlank(MediumKind::DvdPlusRDualLayer, kSmallDisc));
    info = discInfo();
    EXPECT_EQ(info.mediaType, 0x0400u);
    EXPECT_EQ(info.capacityBlocks, kSmallDisc);

    drive.removeDisc();
    TVX_DiscInfo untouched{};
    untouched.mediaType = 77;
    EXPECT_EQ(TVX_GetDiscInfo(h, &untouched), TVX_ERR_NOT_READY);
    EXPECT_EQ(untouched.mediaType, 77u);
}

TEST_F(VdriveQueries, DriveCapsListEveryMediumOfTheModel) {
    uint32_t expected = 0;
    for (MediumKind kind : drive.model().media)
        expected |= Media_FromProfile(vdrive::ProfileOf(kind));
    uint32_t caps = 0;
    ASSERT_EQ(TVX_GetDriveCaps(h, &caps), TVX_OK);
    EXPECT_EQ(caps, expected);
    EXPECT_EQ(caps & 0x0FF1u, 0x0FF1u & expected);
}

TEST_F(VdriveQueries, WriteSpeedsOfABlankDvdR) {
    ASSERT_TRUE(drive.insertBlank(MediumKind::DvdR, kSmallDisc));
    uint32_t speeds[16] = {};
    ASSERT_EQ(TVX_GetWriteSpeedCaps(h, speeds, sizeof speeds), TVX_OK);
    // The drive's whole list, fastest first (its speeds are at least one step apart).
    const std::vector<uint32_t> offered = vdrive::RealWriteSpeeds(MediumKind::DvdR);
    ASSERT_GT(offered.size(), 1u);
    std::vector<uint32_t> got;
    for (uint32_t s : speeds)
        if (s) got.push_back(s);
    EXPECT_EQ(got, offered);

    drive.removeDisc();
    EXPECT_EQ(TVX_GetWriteSpeedCaps(h, speeds, sizeof speeds), TVX_ERR_NOT_READY);
}

TEST_F(VdriveQueries, TrayAndStatus) {
    drive.removeDisc();
    drive.openTray();
    uint32_t state = 0;
    ASSERT_EQ(TVX_GetDriveStatus(h, 3, &state), TVX_OK);
    EXPECT_EQ(state, 1u);

    ASSERT_EQ(TVX_LoadMedia(h), TVX_OK);
    EXPECT_FALSE(drive.trayOpen());
    ASSERT_EQ(TVX_EjectMedia(h), TVX_OK);
    EXPECT_TRUE(drive.trayOpen());

    // A disc on the tray spins up once the tray closes.
    ASSERT_TRUE(drive.insertBlank(MediumKind::DvdR, kSmallDisc));
    drive.openTray();
    drive.closeTray();
    state = 0;
    ASSERT_EQ(TVX_GetDriveStatus(h, 4, &state), TVX_OK);
    EXPECT_EQ(state, 4u);
    EXPECT_EQ(TVX_TestReady(h), 0);
    clock.advance(60000);
    EXPECT_EQ(TVX_TestReady(h), 1);
    state = 0;
    ASSERT_EQ(TVX_GetDriveStatus(h, 2, &state), TVX_OK);
    EXPECT_EQ(state, 2u);
}

} // namespace
} // namespace tvx
