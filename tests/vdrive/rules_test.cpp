// What the drive refuses: write-once rules, finalised discs, test writes, media that cannot
// take a command, removal while prevented, absent media, malformed requests.
#include "vdrive_fixture.h"

namespace tvx::vdrive::test {
namespace {

constexpr uint32_t kInvalidWriteAddress = Triple(5, 0x21, 0x02);

class Rules : public DriveTest {
  protected:
    void settle() {
        pollUntilGood([&] { return testUnitReady(); });
    }
};

TEST_F(Rules, WriteOnceTakesWritesOnlyAtTheNextWritableAddressAndNeverRewrites) {
    ASSERT_TRUE(drive->insertBlank(MediumKind::DvdPlusR, 10000));
    EXPECT_EQ(write10(16, 16).triple(), kInvalidWriteAddress) << "not at the start";
    ASSERT_TRUE(write10(0, 32).good());
    EXPECT_EQ(write10(0, 1).triple(), kInvalidWriteAddress) << "rewrite";
    EXPECT_EQ(write10(40, 1).triple(), kInvalidWriteAddress) << "gap";
    ASSERT_TRUE(write10(32, 8).good());
    Answer track = readTrackInfo(1);
    EXPECT_EQ(track.be32(12), 40u);
    EXPECT_EQ(track.be32(16), 10000u - 40);
    EXPECT_EQ(readDiscInfo().data[2] & 3, 1) << "incomplete";
}

TEST_F(Rules, DashSessionAtOnceNeedsAReservedTrackAndStaysInsideIt) {
    ASSERT_TRUE(drive->insertBlank(MediumKind::DvdR, 10000));
    ASSERT_TRUE(setWriteParameters(2, false).good());
    EXPECT_EQ(write10(0, 32).triple(), Triple(5, 0x2C, 0)) << "no reservation";
    ASSERT_TRUE(reserveTrack(40).good());
    EXPECT_EQ(write10(0, 41).triple(), kInvalidWriteAddress) << "past the reservation";
    ASSERT_TRUE(write10(0, 32).good());
    ASSERT_TRUE(write10(32, 8).good());
    EXPECT_EQ(write10(40, 1).key(), 5) << "outside any reservation";
    ASSERT_TRUE(syncCache().good());
    pollUntilGood([&] { return readCapacity(); });
    EXPECT_EQ(readDiscInfo().data[2] & 3, 2) << "the lead-out finalised the disc";
}

TEST_F(Rules, IncrementalDashRecordingNeedsNoReservation) {
    ASSERT_TRUE(drive->insertBlank(MediumKind::DvdRwSequential, 10000));
    ASSERT_TRUE(setWriteParameters(0, false).good());
    ASSERT_TRUE(write10(0, 16).good());
    ASSERT_TRUE(syncCache().good());
    pollUntilGood([&] { return readCapacity(); });
    EXPECT_EQ(readDiscInfo().data[2] & 3, 1) << "still open";
    ASSERT_TRUE(closeTrackSession(1, 1).good());
    pollUntilGood([&] { return readCapacity(); });
    ASSERT_TRUE(closeTrackSession(2, 0).good());
    pollUntilGood([&] { return readCapacity(); });
    EXPECT_EQ(readDiscInfo().data[2] & 3, 2);
    EXPECT_EQ(readTrackInfo(1).be32(24), 16u);
}

TEST_F(Rules, SessionClosesOnlyWhenItsTracksAreComplete) {
    ASSERT_TRUE(drive->insertBlank(MediumKind::DvdR, 10000));
    EXPECT_TRUE(closeTrackSession(2, 0).good()) << "empty session: nothing to do";
    EXPECT_TRUE(closeTrackSession(1, 1).good()) << "blank invisible track: nothing to do";
    EXPECT_EQ(readDiscInfo().data[2] & 3, 0);
    ASSERT_TRUE(reserveTrack(64).good());
    ASSERT_TRUE(write10(0, 32).good());
    EXPECT_EQ(closeTrackSession(2, 0).triple(), Triple(5, 0x72, 0x04))
        << "half-written reservation";
    ASSERT_TRUE(write10(32, 32).good());
    ASSERT_TRUE(write10(64, 8).good()) << "incremental track after the reservation";
    EXPECT_EQ(closeTrackSession(2, 0).triple(), Triple(5, 0x72, 0x03)) << "open track";
    ASSERT_TRUE(closeTrackSession(1, 2).good());
    pollUntilGood([&] { return readCapacity(); });
    ASSERT_TRUE(closeTrackSession(2, 0).good());
    pollUntilGood([&] { return readCapacity(); });
    EXPECT_EQ(readDiscInfo().data[2] & 3, 2);
    EXPECT_EQ(readTrackInfo(2).be32(24), 8u);
}

TEST_F(Rules, FinalisedDiscRefusesWritesAndReservations) {
    ASSERT_TRUE(drive->insertRecorded(MediumKind::DvdR, 500, true, 10000));
    Answer info = readDiscInfo();
    EXPECT_EQ(info.data[2] & 3, 2);
    EXPECT_EQ(write10(500, 1).triple(), kInvalidWriteAddress);
    EXPECT_EQ(reserveTrack(100).triple(), Triple(5, 0x2C, 0));
    EXPECT_TRUE(read10(499, 1).good());
    EXPECT_EQ(read10(500, 1).triple(), Triple(5, 0x21, 0)) << "unrecorded";
}

TEST_F(Rules, AppendableDiscTakesANewTrackAfterTheClosedOne) {
    ASSERT_TRUE(drive->insertRecorded(MediumKind::DvdPlusR, 500, false, 10000));
    Answer info = readDiscInfo();
    EXPECT_EQ(info.data[2] & 3, 1);
    EXPECT_EQ(info.data[4], 2) << "closed session and the open one";
    EXPECT_EQ(info.data[6], 2) << "invisible track 2";
    Answer invisible = readTrackInfo(2);
    ASSERT_TRUE(invisible.good());
    EXPECT_EQ(invisible.be32(12), 500u);
    EXPECT_TRUE(write10(500, 4).good());
    EXPECT_EQ(write10(0, 1).triple(), kInvalidWriteAddress);
}

TEST_F(Rules, TestWriteOnDashMediaRecordsNothing) {
    ASSERT_TRUE(drive->insertBlank(MediumKind::DvdR, 10000));
    ASSERT_TRUE(setWriteParameters(2, true).good());
    ASSERT_TRUE(reserveTrack(64).good());
    EXPECT_TRUE(readTrackInfo(1).data[6] & 0x80) << "reserved during the simulation";
    ASSERT_TRUE(write10(0, 32).good());
    ASSERT_TRUE(write10(32, 32).good());
    ASSERT_TRUE(syncCache().good());
    pollUntilGood([&] { return readCapacity(); });
    ASSERT_TRUE(setWriteParameters(2, false).good());
    Answer info = readDiscInfo();
    EXPECT_EQ(info.data[2] & 0x0F, 0) << "still blank";
    Answer track = readTrackInfo(1);
    EXPECT_TRUE(track.data[6] & 0x40) << "blank track";
    EXPECT_FALSE(track.data[6] & 0x80) << "reservation forgotten";
    uint8_t block[kBlockSize];
    ASSERT_TRUE(drive->readBlocks(0, 1, block));
    EXPECT_EQ(block[4], 0) << "nothing stored";
    // The real recording can follow.
    ASSERT_TRUE(reserveTrack(64).good());
    EXPECT_TRUE(write10(0, 32).good());
}

TEST_F(Rules, TestWriteIsRefusedOnPlusMediaAndByADriveWithoutIt) {
    ASSERT_TRUE(drive->insertBlank(MediumKind::DvdPlusR, 10000));
    EXPECT_EQ(setWriteParameters(0, true).triple(), Triple(5, 0x26, 0));
    drive = std::make_unique<VirtualRecorder>(clock, DriveModel::WithoutTestWrite());
    ASSERT_TRUE(drive->insertBlank(MediumKind::DvdR, 10000));
    EXPECT_EQ(setWriteParameters(2, true).triple(), Triple(5, 0x26, 0));
    EXPECT_TRUE(setWriteParameters(2, false).good());
}

TEST_F(Rules, WriteTypeTheMediumCannotTakeIsRefusedAndThePageKept) {
    ASSERT_TRUE(drive->insertBlank(MediumKind::DvdPlusRw, 10000));
    EXPECT_EQ(setWriteParameters(2, false).triple(), Triple(5, 0x26, 0));
    EXPECT_EQ(modeSense05(0).data[10] & 0x0F, 0);
    ASSERT_TRUE(drive->insertBlank(MediumKind::DvdR, 10000));
    EXPECT_EQ(setWriteParameters(1, false).triple(), Triple(5, 0x26, 0)) << "track-at-once";
    EXPECT_TRUE(setWriteParameters(2, false).good());
    EXPECT_EQ(modeSense05(0).data[10] & 0x0F, 2);
    EXPECT_EQ(modeSense05(2).data[10] & 0x0F, 0) << "default values unchanged";
}

TEST_F(Rules, PlusRwTakesRandomWritesOnceFormattingHasStarted) {
    ASSERT_TRUE(drive->insertBlank(MediumKind::DvdPlusRw, 10000));
    EXPECT_EQ(write10(100, 1).triple(), Triple(5, 0x30, 0x05)) << "unformatted";
    ASSERT_TRUE(formatPlusRw(false).good());
    EXPECT_EQ(write10(100, 1).triple(), Triple(2, 0x04, 0x04)) << "format starting";
    settle();
    EXPECT_EQ(readDiscInfo().data[7] & 3, 2) << "background format running";
    EXPECT_TRUE(write10(100, 1).good());
    EXPECT_TRUE(write10(50, 1).good());
    EXPECT_TRUE(write10(100, 1, 0x11).good()) << "rewrite";
    EXPECT_EQ(read10(100, 1).data[4], 0x11);
    EXPECT_EQ(formatPlusRw(true).triple(), Triple(5, 0x2C, 0)) << "already formatting";
}

TEST_F(Rules, BlankWorksOnDashRewritableAndIsRefusedElsewhere) {
    ASSERT_TRUE(drive->insertRecorded(MediumKind::DvdRwSequential, 300, true, 10000));
    ASSERT_TRUE(blank(1).good());
    pollUntilGood([&] { return testUnitReady(); });
    EXPECT_EQ(readDiscInfo().data[2] & 0x0F, 0) << "empty again";
    EXPECT_TRUE(write10(0, 1).good()) << "writable from the start";

    ASSERT_TRUE(drive->insertBlank(MediumKind::DvdPlusRw, 10000));
    EXPECT_EQ(blank(0).triple(), Triple(5, 0x24, 0));
    ASSERT_TRUE(drive->insertBlank(MediumKind::DvdR, 10000));
    EXPECT_EQ(blank(1).triple(), Triple(5, 0x24, 0));
}

TEST_F(Rules, EjectWhilePreventedIsRefused) {
    ASSERT_TRUE(drive->insertBlank(MediumKind::DvdR, 1000));
    ASSERT_TRUE(prevent(true).good());
    EXPECT_EQ(startStop(2).triple(), Triple(5, 0x53, 0x02));
    EXPECT_FALSE(drive->trayOpen());
    ASSERT_TRUE(prevent(false).good());
    EXPECT_TRUE(startStop(2).good());
    EXPECT_TRUE(drive->trayOpen());
}

TEST_F(Rules, NoMediumSenseFollowsTheTray) {
    EXPECT_EQ(testUnitReady().triple(), Triple(2, 0x3A, 0x01));
    EXPECT_EQ(readCapacity().triple(), Triple(2, 0x3A, 0x01));
    drive->openTray();
    EXPECT_EQ(testUnitReady().triple(), Triple(2, 0x3A, 0x02));
    Answer sense = requestSense();
    EXPECT_TRUE(sense.good());
    ASSERT_EQ(sense.data.size(), 18u);
    EXPECT_EQ(sense.data[0], 0x70);
    EXPECT_EQ(sense.data[2] & 0x0F, 2);
    EXPECT_EQ(sense.data[12], 0x3A);
    EXPECT_EQ(sense.data[13], 0x02);
}

TEST_F(Rules, UnknownCommandsAndBadFieldsAreRefused) {
    ASSERT_TRUE(drive->insertBlank(MediumKind::DvdR, 1000));
    Answer unknown = send({0xBE, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(unknown.triple(), Triple(5, 0x20, 0));
    EXPECT_EQ(unknown.result.senseLength, 32u);
    EXPECT_EQ(unknown.result.sense[0], 0x70);
    EXPECT_EQ(unknown.result.sense[7], 24);
    // Delivered with the status: REQUEST SENSE has nothing more to tell.
    EXPECT_EQ(requestSense().dataTriple(), 0u) << "no stale sense";
    EXPECT_EQ(readTrackInfo(7).triple(), Triple(5, 0x24, 0));
    EXPECT_EQ(send({0x4A, 0, 0, 0, 0x10, 0, 0, 0, 8, 0}, DataDirection::FromDevice, {}, 8).triple(),
              Triple(5, 0x24, 0))
        << "asynchronous events";
}

TEST_F(Rules, ShortBuffersAreNeverOverrun) {
    ASSERT_TRUE(drive->insertRecorded(MediumKind::DvdR, 100, true, 1000));
    // Allocation 32, byte count 4: four bytes move.
    std::vector<uint8_t> c = {0x51, 0, 0, 0, 0, 0, 0, 0, 32, 0};
    Answer info = send(c, DataDirection::FromDevice, {}, 4);
    EXPECT_TRUE(info.good());
    EXPECT_EQ(info.result.transferred, 4u);
    // A read of two blocks into room for one and a half.
    Answer r = read10(0, 2, kBlockSize + 1024);
    EXPECT_TRUE(r.good());
    EXPECT_EQ(r.result.transferred, kBlockSize + 1024);
    // Data-in without a buffer moves nothing and still answers.
    EXPECT_TRUE(send({0x12, 0, 0, 0, 36, 0}, DataDirection::FromDevice, {}, 0).good());
    // A write whose buffer is shorter than its blocks cannot get its data.
    std::vector<uint8_t> w = {0x2A, 0, 0, 0, 0, 100, 0, 0, 2, 0};
    EXPECT_EQ(send(w, DataDirection::ToDevice, std::vector<uint8_t>(kBlockSize)).key(), 0x0B);
}

TEST_F(Rules, RecordedRewritableMediaReportTheirContent) {
    for (MediumKind kind :
         {MediumKind::DvdRwRestricted, MediumKind::DvdRam, MediumKind::DvdPlusRw}) {
        ASSERT_TRUE(drive->insertRecorded(kind, 300, false, 5000)) << MediumName(kind);
        Answer info = readDiscInfo();
        // As drives report them: a DVD-RAM is "others", the other two complete.
        const int status = kind == MediumKind::DvdRam ? 0x13 : 0x12;
        EXPECT_EQ(info.data[2] & 0x13, status) << "erasable, not blank: " << MediumName(kind);
        Answer track = readTrackInfo(1);
        EXPECT_EQ(track.be32(28), 299u) << MediumName(kind);
        EXPECT_TRUE(write10(10, 1).good()) << "rewritable: " << MediumName(kind);
    }
}

TEST_F(Rules, PressedDiscLoadsFromAnImageAndRefusesWrites) {
    std::string path = ::testing::TempDir() + "vdrive_rom.iso";
    {
        FILE* f = std::fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::vector<uint8_t> data(10 * kBlockSize + 100, 0x5A);
        std::fwrite(data.data(), 1, data.size(), f);
        std::fclose(f);
    }
    ASSERT_TRUE(drive->loadImage(path, MediumKind::DvdRom));
    EXPECT_EQ(readCapacity().be32(0), 10u) << "eleven blocks, the last one partial";
    Answer r = read10(10, 1);
    ASSERT_TRUE(r.good());
    EXPECT_EQ(r.data[99], 0x5A);
    EXPECT_EQ(r.data[100], 0);
    EXPECT_EQ(write10(0, 1).triple(), Triple(5, 0x30, 0x05));
    EXPECT_EQ(getConfiguration(1, 0).be16(6), 0x0010);
    std::remove(path.c_str());
}

TEST_F(Rules, BdAndCdWritersRefuseWhatRealOnesRefuse) {
    // A sequential BD-R takes writes only at a cluster's first block.
    ASSERT_TRUE(drive->insertBlank(MediumKind::BdR, 10000));
    EXPECT_EQ(write10(16, 16).triple(), Triple(5, 0x21, 0x02));
    EXPECT_TRUE(write10(0, 48).good());
    EXPECT_EQ(write10(48, 16).triple(), Triple(5, 0x21, 0x02));

    // A CD takes 2048-byte mode 1 blocks of a track written at once only.
    ASSERT_TRUE(drive->insertBlank(MediumKind::CdR, 10000));
    ASSERT_TRUE(setWriteParameters(2, false).good());
    EXPECT_EQ(write10(0, 1).triple(), Triple(5, 0x2C, 0)) << "session at once without a cue sheet";
    ASSERT_TRUE(setWriteParameters(1, false).good());
    std::vector<uint8_t> page = modeSense05(0).data;
    page.resize(60, 0);
    std::fill(page.begin(), page.begin() + 8, 0);
    page[12] = 0x00; // raw 2352-byte blocks
    ASSERT_TRUE(send({0x55, 0x10, 0, 0, 0, 0, 0, 0, 60, 0}, DataDirection::ToDevice, page).good());
    EXPECT_EQ(write10(0, 1).triple(), Triple(5, 0x64, 0));
    ASSERT_TRUE(setWriteParameters(1, false).good());
    ASSERT_TRUE(write10(0, 3).good());
    ASSERT_EQ(pollUntilGood([&] { return closeTrackSession(1, 1); }), 0);
    pollUntilGood([&] { return testUnitReady(); });
    // The track ends in two run-out blocks: counted, never readable.
    EXPECT_EQ(readTrackInfo(1).be32(24), 5u);
    EXPECT_EQ(readCapacity().be32(0), 4u);
    EXPECT_FALSE(read10(3, 1).good());
    // ATIP: the last possible start of the lead-out, as a time (block 10000 is 2:15:25).
    Answer atip = send({0x43, 0, 0x04, 0, 0, 0, 0, 0, 28, 0}, DataDirection::FromDevice, {}, 28);
    ASSERT_TRUE(atip.good());
    EXPECT_EQ(atip.data[12] << 16 | atip.data[13] << 8 | atip.data[14], 2 << 16 | 15 << 8 | 25);

    // An unformatted BD-RE takes no write until formatted, which the drive does slowly.
    ASSERT_TRUE(drive->insertBlank(MediumKind::BdRe, 10000));
    EXPECT_EQ(write10(0, 32).key(), 5);
    std::vector<uint8_t> list = {0, 0x02, 0, 8, 0, 0, 0x27, 0x10, 0x30 << 2, 0, 0, 0};
    ASSERT_TRUE(send({0x04, 0x11, 0, 0, 0, 0}, DataDirection::ToDevice, list).good());
    EXPECT_GT(pollUntilGood([&] { return testUnitReady(); }), 60);
    EXPECT_TRUE(write10(64, 32).good());
    // Streaming writes, unless the drive's streaming feature lacks Stream Writing.
    std::vector<uint8_t> write12 = {0xAA, 0, 0, 0, 0, 96, 0, 0, 0, 32, 0x80, 0};
    const std::vector<uint8_t> blocks(32 * kBlockSize, 0x5A);
    EXPECT_TRUE(send(write12, DataDirection::ToDevice, blocks).good());
    DriveModel plain = DriveModel::Default();
    plain.streamWriting = false;
    drive = std::make_unique<VirtualRecorder>(clock, plain);
    ASSERT_TRUE(drive->insertBlank(MediumKind::BdRe, 10000));
    EXPECT_EQ(send(write12, DataDirection::ToDevice, blocks).triple(), Triple(5, 0x24, 0));

    // Session at once: a cue sheet of mode 1 blocks (lead-in, track 1 from 00:00:00 (pregap)
    // and 00:02:00, lead-out at 00:02:08), then the pregap, then the track.
    ASSERT_TRUE(drive->insertBlank(MediumKind::CdR, 10000));
    ASSERT_TRUE(setWriteParameters(2, false).good());
    std::vector<uint8_t> cue = {0x41, 0, 0, 0x14, 0, 0, 0, 0, 0x41, 1,    0, 0x10, 0, 0, 0, 0,
                                0x41, 1, 1, 0x10, 0, 0, 2, 0, 0x41, 0xAA, 1, 0x14, 0, 0, 2, 8};
    const std::vector<uint8_t> sendCue = {0x5D, 0, 0, 0, 0, 0, 0, 0, 32, 0};
    cue[19] = 0x00; // audio blocks
    EXPECT_EQ(send(sendCue, DataDirection::ToDevice, cue).triple(), Triple(5, 0x26, 0));
    cue[19] = 0x10;
    ASSERT_TRUE(send(sendCue, DataDirection::ToDevice, cue).good());
    EXPECT_EQ(write10(0, 8).triple(), Triple(5, 0x2C, 0)) << "the pregap comes first";
    EXPECT_EQ(write10(static_cast<uint32_t>(-100), 50).triple(), kInvalidWriteAddress);
    ASSERT_TRUE(write10(static_cast<uint32_t>(-150), 100).good());
    ASSERT_TRUE(write10(static_cast<uint32_t>(-50), 50).good());
    EXPECT_TRUE(write10(0, 8).good());
}

} // namespace
} // namespace tvx::vdrive::test
