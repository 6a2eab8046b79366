// Blu-ray and CD recording: refused until the host asks for it, then written, verified and
// closed as each medium needs, and the rewritable kinds erased.
#include "recording_fixture.h"
#include "volume_check.h"

#include <regex>

namespace tvx::test {
namespace {

using vdrive::MediumKind;

inline constexpr uint32_t kDvdKinds = 0x0FE0;

class BdCdTest : public RecordingTest {
  protected:
    BdCdTest() : RecordingTest(vdrive::DriveModel::BdCdWriter()) {}
    ~BdCdTest() override { TVX_SetWritableMedia(kDvdKinds); }

    std::string engineText() const {
        std::string text;
        for (const std::string& token : traceTokens())
            text += token + " ";
        return text;
    }
};

TEST_F(BdCdTest, RefusedUntilAskedForThenBurnedVerifiedClosedAndErased) {
    makeFile("data/a.txt", 100);
    makeFile("data/docs/b.bin", 300000);
    makeFile("data/c.bin", 3 * 65536 + 5);
    const std::string data = dir.file("data");
    const std::string image = dir.file("volume.iso");
    const uint32_t size = StreamPlanToFile(
        "DATA", [&](VolumePlan* p) { return Plan_AddFolderContents(p, data.c_str()) != 0; }, image);
    ASSERT_GT(size, 0u);

    struct Case {
        MediumKind kind;
        const char* sequence; // what the drive receives, in part
        vdrive::DiscStatus after;
        bool erasable;
        bool streamWriting = true; // the drive takes WRITE(12) with the Streaming bit
        bool trackAtOnce = true;   // the drive writes a CD track at once
    };
    const Case cases[] = {
        // No reservation, whole clusters, track closed, disc finalised.
        {MediumKind::BdR, "^(?!.*RESERVE).* CLOSE1/1 (RCAP )+CLOSE6/0 ",
         vdrive::DiscStatus::Finalised, false},
        // Formatted first (with the drive's progress), then written in place, streaming.
        {MediumKind::BdRe, "^(?!.*(RESERVE|CLOSE)).* FORMAT (TUR SENSE )*TUR .*WRITE12S",
         vdrive::DiscStatus::Finalised, true},
        // A drive without stream writing gets WRITE(10) with defect management.
        {MediumKind::BdRe, "^(?!.*WRITE12).* FORMAT .* WRITE ", vdrive::DiscStatus::Finalised,
         false, false},
        // Track at once: the page taken, the track and the session (and disc) closed.
        {MediumKind::CdR, "^(?!.*RESERVE).* SELECT .*CLOSE1/1 (RCAP )+CLOSE2/0 ",
         vdrive::DiscStatus::Finalised, false},
        {MediumKind::CdRw, "^(?!.*RESERVE).* SELECT .*CLOSE1/1 (RCAP )+CLOSE2/0 ",
         vdrive::DiscStatus::Finalised, true},
        // No track at once: the cue sheet, the pregap, the track; the flush closes the disc.
        {MediumKind::CdR, "^(?!.*(RESERVE|CLOSE)).* SELECT .*CUE WRITE .* SYNCI ",
         vdrive::DiscStatus::Finalised, false, true, false},
    };
    const TVX_BurnOptions options = {TVX_MODE_WRITE_VERIFY, -1};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(vdrive::MediumName(c.kind)) + " " + c.sequence);
        vdrive::DriveModel model = vdrive::DriveModel::BdCdWriter();
        model.streamWriting = c.streamWriting;
        model.cdTrackAtOnce = c.trackAtOnce;
        drive = std::make_unique<vdrive::VirtualRecorder>(sim->virtualClock(), model);
        drive->setTraceEnabled(true);
        handle = transport.open(*drive);
        insertBlank(c.kind, 8192, true);
        EXPECT_EQ(TVX_SetWritableMedia(kDvdKinds), kDvdKinds);
        EXPECT_EQ(TVX_BurnVolumeData(handle, &options, data.c_str(), "DATA", nullptr, 0),
                  TVX_ERR_DISC_KIND);
        EXPECT_EQ(TVX_SetWritableMedia(0xFFFFFFFFu), static_cast<uint32_t>(MediaRecordableMask));
        drive->clearTrace();
        log.events.clear();
        ASSERT_EQ(TVX_BurnVolumeData(handle, &options, data.c_str(), "DATA", callback(), logData()),
                  TVX_OK)
            << drive->formatTrace();
        EXPECT_TRUE(std::regex_search(engineText(), std::regex(c.sequence))) << engineText();
        // Whole clusters on a BD-R (the last one padded), and every streaming write.
        for (const auto& e : drive->trace())
            if ((c.kind == MediumKind::BdR && e.opcode() == 0x2A) || e.opcode() == 0xAA) {
                EXPECT_EQ(e.opcode() == 0xAA ? e.cdb[8] << 8 | e.cdb[9] : e.cdb[7] << 8 | e.cdb[8],
                          32);
            }
        if (c.kind == MediumKind::BdRe) {
            EXPECT_GT(log.count(7), 0);
        }
        const vdrive::DiscView disc = drive->disc();
        EXPECT_EQ(disc.status, c.after);
        if (c.kind == MediumKind::CdR) {
            // A track written at once ends in two run-out blocks, counted but never read back.
            ASSERT_FALSE(disc.tracks.empty());
            EXPECT_EQ(disc.tracks.front().size,
                      disc.tracks.front().recordedBlocks + (c.trackAtOnce ? 2 : 0));
        }
        ASSERT_TRUE(drive->flush());
        EXPECT_EQ(CompareImages(backingFile(), image), "");

        // Quick, then (written again) full: the disc holds nothing either way.
        for (int32_t quick : {1, 0}) {
            if (!c.erasable) break;
            drive->closeTray();
            sim->virtualClock().advance(10000);
            ASSERT_EQ(TVX_EraseDisc(handle, quick, nullptr, 0), TVX_OK) << drive->formatTrace();
            TVX_DiscInfo info;
            ASSERT_EQ(TVX_GetDiscInfo(handle, &info), TVX_OK);
            EXPECT_EQ(info.blank, 1u);
            if (quick) {
                // Without a verify pass the drive keeps its defect management: no streaming.
                const TVX_BurnOptions unverified = {TVX_MODE_WRITE, -1};
                drive->clearTrace();
                ASSERT_EQ(TVX_BurnVolumeData(handle, &unverified, data.c_str(), "DATA", nullptr, 0),
                          TVX_OK);
                EXPECT_EQ(countToken("WRITE12S"), 0u);
            }
        }
        drive->removeDisc();
    }
}

} // namespace
} // namespace tvx::test
