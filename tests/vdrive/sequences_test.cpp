// A whole recording on every recordable medium, sent as the recording engine sends it, and the
// disc state the drive reports afterwards.
#include "vdrive_fixture.h"

namespace tvx::vdrive::test {
namespace {

constexpr uint32_t kCapacity = 50000;
constexpr uint32_t kTrackBlocks = 32 * 20 + 7; // 20 full chunks and a partial one

class RecordingSequence : public DriveTest, public ::testing::WithParamInterface<MediumKind> {
  protected:
    MediumKind kind() const { return GetParam(); }
    bool plus() const {
        return kind() == MediumKind::DvdPlusR || kind() == MediumKind::DvdPlusRw ||
               kind() == MediumKind::DvdPlusRDualLayer;
    }
    // Written in place: neither a session-at-once page nor a reservation applies.
    bool inPlace() const {
        return kind() == MediumKind::DvdRam || kind() == MediumKind::DvdRwRestricted;
    }

    void prepare() {
        ASSERT_TRUE(testUnitReady().good());
        ASSERT_TRUE(prevent(true).good());
        ASSERT_TRUE(startStop(1).good());
        EXPECT_TRUE(setStreaming(0xFFFFFFFF, 0xFFFFFFFF).good());
        Answer perf = getPerformance(0, true, 1);
        ASSERT_TRUE(perf.good());
        EXPECT_GT(perf.be32(8 + 12), 0u);
        Answer page = setWriteParameters(2, false);
        if (inPlace()) {
            EXPECT_EQ(page.triple(), Triple(5, 0x26, 0)) << "session-at-once refused";
        } else if (!plus()) {
            ASSERT_TRUE(page.good()) << std::hex << page.triple();
            Answer back = modeSense05(0);
            EXPECT_EQ(back.data[10] & 0x5F, 0x42);
        }
    }

    uint32_t beginTrack() {
        Answer before = readTrackInfo(1);
        EXPECT_TRUE(before.good());
        if (inPlace()) {
            EXPECT_EQ(reserveTrack(kTrackBlocks).triple(), Triple(5, 0x2C, 0));
        } else if (!plus()) {
            EXPECT_TRUE(reserveTrack(kTrackBlocks).good());
        }
        Answer after = readTrackInfo(1);
        EXPECT_TRUE(after.good());
        if (kind() != MediumKind::DvdPlusRw) {
            EXPECT_TRUE(after.data[7] & 0x01) << "NWA valid";
        }
        uint32_t start = after.be32(12) == 0 ? 0 : before.be32(12);
        if (kind() == MediumKind::DvdPlusRw) {
            Answer info = readDiscInfo();
            EXPECT_EQ(info.data[7] & 3, 0) << "never formatted";
            EXPECT_TRUE(formatPlusRw(false).good());
            EXPECT_GT(pollUntilGood([&] {
                          Answer a = testUnitReady();
                          if (!a.good()) {
                              EXPECT_EQ(a.triple(), Triple(2, 4, 4));
                              requestSense();
                          }
                          return a;
                      }),
                      0);
        }
        return start;
    }

    void writeTrack(uint32_t start) {
        uint32_t done = 0;
        while (done < kTrackBlocks) {
            uint16_t n = static_cast<uint16_t>(std::min<uint32_t>(32, kTrackBlocks - done));
            Answer w = write10(start + done, n);
            ASSERT_TRUE(w.good()) << "at " << done << ": " << std::hex << w.triple();
            done += n;
        }
    }

    void flushAndSync() {
        ASSERT_TRUE(syncCache().good());
        int polls = pollUntilGood([&] {
            Answer t = testUnitReady();
            if (!t.good()) {
                EXPECT_EQ(t.triple(), Triple(2, 4, 8));
                return t;
            }
            return readCapacity();
        });
        EXPECT_GT(polls, 0) << "the flush takes time";
    }

    void close(uint8_t function, uint16_t track) {
        ASSERT_TRUE(closeTrackSession(function, track).good());
        EXPECT_GT(pollUntilGood([&] { return readCapacity(); }), 0);
    }

    void finish() {
        ASSERT_TRUE(prevent(false).good());
        ASSERT_TRUE(startStop(2, true).good());
        EXPECT_EQ(testUnitReady().triple(), Triple(2, 0x3A, 2)) << "tray out";
        drive->closeTray();
        pollUntilGood([&] { return testUnitReady(); });
    }
};

TEST_P(RecordingSequence, IsAcceptedAndLeavesTheDiscRecorded) {
    ASSERT_TRUE(drive->insertBlank(kind(), kCapacity));
    Answer blankInfo = readDiscInfo();
    ASSERT_TRUE(blankInfo.good());
    // Formatted media written in place are never blank to a drive.
    const bool inPlace = kind() == MediumKind::DvdRam || kind() == MediumKind::DvdRwRestricted;
    const int statusBefore = kind() == MediumKind::DvdRam ? 3 : inPlace ? 2 : 0;
    EXPECT_EQ(blankInfo.data[2] & 3, statusBefore) << "status before";

    prepare();
    uint32_t start = beginTrack();
    EXPECT_EQ(start, 0u);
    writeTrack(start);
    flushAndSync();
    if (kind() == MediumKind::DvdPlusR || kind() == MediumKind::DvdPlusRDualLayer) {
        close(1, 1);
        close(5, 0);
    } else if (kind() == MediumKind::DvdPlusRw) {
        close(3, 0);
    }
    finish();

    Answer info = readDiscInfo();
    ASSERT_TRUE(info.good());
    EXPECT_EQ(info.data[2] & 3, kind() == MediumKind::DvdRam ? 3 : 2) << "complete";
    EXPECT_EQ((info.data[2] >> 2) & 3, 3) << "last session complete";
    Answer track = readTrackInfo(1);
    ASSERT_TRUE(track.good());
    EXPECT_EQ(track.be32(8), 0u);
    bool sequential = kind() == MediumKind::DvdR || kind() == MediumKind::DvdRwSequential ||
                      kind() == MediumKind::DvdRDualLayer || kind() == MediumKind::DvdPlusR ||
                      kind() == MediumKind::DvdPlusRDualLayer;
    if (sequential) {
        EXPECT_EQ(track.be32(24), kTrackBlocks) << "track size";
        EXPECT_EQ(track.data[7] & 1, 0) << "no next writable address";
        EXPECT_EQ(track.be32(16), 0u) << "no free blocks";
        EXPECT_TRUE(track.data[7] & 2);
        EXPECT_EQ(track.be32(28), kTrackBlocks - 1) << "last recorded address";
        EXPECT_EQ(info.data[6], 1) << "no invisible track after finalising";
        EXPECT_EQ(read10(kTrackBlocks, 1).triple(), Triple(5, 0x21, 0));
        EXPECT_EQ(readCapacity().be32(0), kTrackBlocks - 1);
    }
    if (kind() == MediumKind::DvdPlusRw) {
        EXPECT_EQ(info.data[7] & 3, 3) << "format complete";
    }

    for (uint32_t lba : {0u, 100u, kTrackBlocks - 1}) {
        Answer r = read10(lba, 1);
        ASSERT_TRUE(r.good()) << lba;
        EXPECT_EQ(r.be32(0), lba);
        EXPECT_EQ(r.data[4], 0xA5);
    }
    EXPECT_EQ(drive->disc().kind, kind());
}

INSTANTIATE_TEST_SUITE_P(AllRecordable, RecordingSequence,
                         ::testing::Values(MediumKind::DvdR, MediumKind::DvdRwSequential,
                                           MediumKind::DvdRwRestricted, MediumKind::DvdRDualLayer,
                                           MediumKind::DvdRam, MediumKind::DvdPlusR,
                                           MediumKind::DvdPlusRDualLayer, MediumKind::DvdPlusRw),
                         [](const auto& info) {
                             std::string name;
                             for (char ch : std::string(MediumName(info.param)))
                                 if (ch == '+')
                                     name += "Plus";
                                 else if (isalnum(static_cast<unsigned char>(ch)))
                                     name += ch;
                             return name;
                         });

} // namespace
} // namespace tvx::vdrive::test

namespace tvx::vdrive::test {
namespace {

// A model whose slow work takes no time still does that work: the flush after a
// session-at-once recording writes the lead-out and finalises the disc.
TEST_F(DriveTest, InstantFlushStillFinalisesASessionAtOnceRecording) {
    DriveModel model = DriveModel::Default();
    model.timing = Timing{0, 0, 0, 0, 0, 0, 0, 0};
    drive = std::make_unique<VirtualRecorder>(clock, model);
    ASSERT_TRUE(drive->insertBlank(MediumKind::DvdR, kCapacity));
    ASSERT_TRUE(setWriteParameters(2, false).good());
    ASSERT_TRUE(reserveTrack(64).good());
    ASSERT_TRUE(write10(0, 32).good());
    ASSERT_TRUE(write10(32, 32).good());
    ASSERT_TRUE(syncCache().good());
    ASSERT_TRUE(testUnitReady().good());
    Answer info = readDiscInfo();
    ASSERT_TRUE(info.good());
    EXPECT_EQ(info.data[2] & 3, 2) << "finalised at once";
}

} // namespace
} // namespace tvx::vdrive::test
