// Slow work: NOT READY with the right qualifier, progress that rises, and an end.
#include "vdrive_fixture.h"

namespace tvx::vdrive::test {
namespace {

class Busy : public DriveTest {
  protected:
    // Polls TEST UNIT READY once a second; checks every answer is NOT READY with the qualifier
    // and that the progress never falls. Returns the number of busy answers.
    int expectBusyThenReady(uint8_t ascq) {
        uint16_t last = 0;
        int busy = 0;
        for (int i = 0; i < 7200; ++i) {
            Answer t = testUnitReady();
            if (t.good()) return busy;
            EXPECT_EQ(t.triple(), Triple(2, 4, ascq));
            EXPECT_EQ(t.result.sense[15] & 0x80, 0x80) << "progress valid";
            EXPECT_GE(t.progress(), last);
            last = t.progress();
            Answer s = requestSense();
            EXPECT_EQ(s.dataTriple(), Triple(2, 4, ascq));
            EXPECT_GE(static_cast<uint16_t>((s.data[16] << 8) | s.data[17]), last);
            ++busy;
            clock.sleepMs(1000);
        }
        ADD_FAILURE() << "never ready";
        return busy;
    }
};

TEST_F(Busy, SpinUpAfterTheTrayClosesReportsBecomingReady) {
    ASSERT_TRUE(drive->insertBlank(MediumKind::DvdR, 1000));
    drive->openTray();
    drive->closeTray();
    int polls = expectBusyThenReady(0x01);
    EXPECT_GE(polls, 2);
    // GET CONFIGURATION answers meanwhile too.
    drive->openTray();
    drive->closeTray();
    EXPECT_EQ(getConfiguration(1, 0).be16(6), 0x0011);
}

TEST_F(Busy, UnitAttentionAfterAMediumChangeWhenTheModelAsksForIt) {
    DriveModel model = DriveModel::Default();
    model.unitAttentionOnMediumChange = true;
    drive = std::make_unique<VirtualRecorder>(clock, model);
    ASSERT_TRUE(drive->insertBlank(MediumKind::DvdR, 1000));
    EXPECT_TRUE(getConfiguration(1, 0).good()) << "identification is not held up";
    EXPECT_EQ(testUnitReady().triple(), Triple(6, 0x28, 0));
    EXPECT_TRUE(testUnitReady().good());
    drive->openTray();
    drive->closeTray();
    Answer t = testUnitReady();
    for (int i = 0; i < 100 && t.triple() == Triple(2, 4, 1); ++i) {
        clock.sleepMs(1000);
        t = testUnitReady();
    }
    EXPECT_EQ(t.triple(), Triple(6, 0x28, 0)) << "after the spin-up";
    EXPECT_TRUE(testUnitReady().good());
}

TEST_F(Busy, CacheFlushKeepsReadCapacityNotReadyUntilDone) {
    ASSERT_TRUE(drive->insertBlank(MediumKind::DvdPlusR, 1000));
    ASSERT_TRUE(write10(0, 32).good());
    ASSERT_TRUE(syncCache().good());
    EXPECT_EQ(readCapacity().triple(), Triple(2, 4, 8));
    EXPECT_EQ(write10(32, 1).triple(), Triple(2, 4, 8));
    EXPECT_GE(expectBusyThenReady(0x08), 1);
    EXPECT_TRUE(readCapacity().good());
    EXPECT_TRUE(syncCache().good()) << "nothing left to flush";
    EXPECT_TRUE(testUnitReady().good());
}

TEST_F(Busy, ClosingAndFinalisingReportOperationInProgress) {
    ASSERT_TRUE(drive->insertBlank(MediumKind::DvdPlusR, 1000));
    ASSERT_TRUE(write10(0, 32).good());
    ASSERT_TRUE(closeTrackSession(1, 1).good());
    EXPECT_GE(expectBusyThenReady(0x07), 1);
    ASSERT_TRUE(closeTrackSession(5, 0).good());
    EXPECT_GE(expectBusyThenReady(0x07), 10);
    EXPECT_EQ(readDiscInfo().data[2] & 3, 2);
}

TEST_F(Busy, EventsReportBusyAndMedia) {
    ASSERT_TRUE(drive->insertBlank(MediumKind::DvdPlusR, 1000));
    auto event = [&](uint8_t classMask) {
        return send({0x4A, 1, 0, 0, classMask, 0, 0, 0, 8, 0}, DataDirection::FromDevice, {}, 8);
    };
    Answer media = event(0x10);
    ASSERT_TRUE(media.good());
    EXPECT_EQ(media.data[2] & 7, 4);
    EXPECT_EQ(media.data[5], 0x02) << "present, tray closed";
    // The length counts the event descriptor that follows the 4-byte header.
    EXPECT_EQ(media.be16(0), 4u);
    ASSERT_TRUE(write10(0, 32).good());
    ASSERT_TRUE(closeTrackSession(1, 1).good());
    Answer op = event(0x02);
    EXPECT_EQ(op.data[2] & 7, 1);
    EXPECT_NE(op.data[5] & 0x0F, 0) << "operational status busy";
    Answer dev = event(0x40);
    EXPECT_EQ(dev.data[2] & 7, 6);
    EXPECT_EQ(dev.data[5], 1);
    expectBusyThenReady(0x07);
    EXPECT_EQ(event(0x02).data[5] & 0x0F, 0);
    drive->openTray();
    EXPECT_EQ(event(0x10).data[5], 0x03) << "tray open, disc on it";
    drive->removeDisc();
    EXPECT_EQ(event(0x10).data[5], 0x01);
    Answer none = event(0x00);
    EXPECT_EQ(none.data[2], 0x80) << "no class asked: no event";
    EXPECT_EQ(none.be16(0), 0u) << "no descriptor follows";
}

TEST_F(Busy, PlusRwFormatRunsInTheBackgroundAndCloseCompletesIt) {
    DriveModel model = DriveModel::Default();
    model.timing.backgroundFormatMs = 2295104; // a millisecond a block: 20 s for this disc
    drive = std::make_unique<VirtualRecorder>(clock, model);
    ASSERT_TRUE(drive->insertBlank(MediumKind::DvdPlusRw, 20000));
    ASSERT_TRUE(formatPlusRw(false).good());
    EXPECT_GE(expectBusyThenReady(0x04), 1);
    EXPECT_EQ(readDiscInfo().data[7] & 3, 2);
    ASSERT_TRUE(write10(0, 32).good());
    ASSERT_TRUE(closeTrackSession(0, 0).good());
    expectBusyThenReady(0x07);
    EXPECT_EQ(readDiscInfo().data[7] & 3, 1) << "stopped";
    ASSERT_TRUE(formatPlusRw(true).good()) << "restart";
    expectBusyThenReady(0x04);
    ASSERT_TRUE(closeTrackSession(3, 0).good());
    EXPECT_GE(expectBusyThenReady(0x07), 10) << "the rest of the format";
    EXPECT_EQ(readDiscInfo().data[7] & 3, 3);
}

TEST_F(Busy, BlankingTakesLongerInFull) {
    ASSERT_TRUE(drive->insertRecorded(MediumKind::DvdRwSequential, 100, true, 1000));
    ASSERT_TRUE(blank(1).good());
    int quick = expectBusyThenReady(0x07);
    ASSERT_TRUE(blank(0).good());
    int full = expectBusyThenReady(0x07);
    EXPECT_GT(full, quick);
    uint8_t block[kBlockSize];
    ASSERT_TRUE(drive->readBlocks(0, 1, block));
    EXPECT_EQ(block[0], 0);
}

TEST_F(Busy, WriteSpeedModeFillsTheBufferAtTheCurrentSpeed) {
    DriveModel model = DriveModel::Default();
    model.writeBufferBytes = 4 * 65536;
    drive = std::make_unique<VirtualRecorder>(clock, model);
    ASSERT_TRUE(drive->insertBlank(MediumKind::DvdPlusR, 10000));
    ASSERT_TRUE(setStreaming(0xFFFFFFFF, 4 * kDvdSpeed1x).good());
    for (uint32_t i = 0; i < 4; ++i)
        ASSERT_TRUE(write10(i * 32, 32).good());
    EXPECT_EQ(write10(128, 32).triple(), Triple(2, 4, 8)) << "buffer full";
    clock.sleepMs(50); // 4x drains 277 kB in 50 ms
    EXPECT_TRUE(write10(128, 32).good());
}

} // namespace
} // namespace tvx::vdrive::test
