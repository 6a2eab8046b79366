// Burns on drives with real drives' habits: each named behaviour of the virtual recorder, on
// every medium kind it applies to, burnt with verification through the public interface. The
// disc must come out whole, or, where the drive's answer rightly ends the burn, the result, the
// LastError and the disc must say so.
#include "recording/engine.h"
#include "recording_fixture.h"
#include "vdrive/behaviours.h"
#include "volume_check.h"

#include <algorithm>
#include <fstream>
#include <iterator>

namespace tvx::test {
namespace {

using vdrive::MediumKind;

enum class Outcome {
    Whole,              // the burn succeeds and the disc holds the volume
    MediumChanged,      // the burn ends with the drive's medium change or reset on a WRITE and
                        // no volume that looks whole
    BurnsAgain,         // a second volume burns over the first and the disc holds it
    StopLeavesNoVolume, // the host stops the burn: cancelled, no volume structures remain
};

struct Row {
    std::vector<const char*> behaviours;
    std::vector<MediumKind> kinds;
    Outcome outcome = Outcome::Whole;
    bool waits = false;          // the host must hear wait events meanwhile
    bool reloadFirst = false;    // the tray is opened and the disc loaded through the interface
    uint8_t attentionAsc = 0x28; // MediumChanged: the ASC of the attention that ended the burn
};

const std::vector<MediumKind> kAllKinds = {
    MediumKind::DvdR,   MediumKind::DvdPlusR,        MediumKind::DvdPlusRw,
    MediumKind::DvdRam, MediumKind::DvdRwSequential, MediumKind::DvdRwRestricted};
const std::vector<MediumKind> kInPlace = {MediumKind::DvdRam, MediumKind::DvdRwRestricted,
                                          MediumKind::DvdPlusRw};

// clang-format off
const Row kRows[] = {
    {{"write-busy=30"}, kAllKinds, Outcome::Whole, true},
    {{"write-busy=30,02/04/04"}, kAllKinds, Outcome::Whole, true},
    {{"write-busy=30,02/04/07"}, kAllKinds, Outcome::Whole, true},
    {{"write-busy=30,02/04/08"}, kAllKinds, Outcome::Whole, true},
    {{"write-busy=20,05/2C/00"}, kAllKinds, Outcome::Whole, true},
    {{"attention-after-load"}, kAllKinds},
    // A reset loses the drive's cache and write parameters: never written on.
    {{"attention=2A@12"}, kAllKinds, Outcome::MediumChanged, false, false, 0x29},
    {{"attention=28@2,06/28/00"}, kAllKinds},
    {{"attention=2A@12,06/28/00"}, kAllKinds, Outcome::MediumChanged},
    {{"attention=2A@12,06/28/00", "descriptor-sense"}, kAllKinds, Outcome::MediumChanged},
    {{"recovered=3"}, kAllKinds},
    {{"descriptor-sense", "write-busy=10,02/04/08", "busy-flush-close=60,02/04/07"}, kAllKinds,
     Outcome::Whole, true},
    {{"busy-flush-close"}, kAllKinds, Outcome::Whole, true},
    {{"slow-format"}, {MediumKind::DvdPlusRw}, Outcome::Whole, true},
    {{"slow-close"}, {MediumKind::DvdR, MediumKind::DvdPlusR, MediumKind::DvdRwSequential},
     Outcome::Whole, true},
    {{"slow-load"}, kAllKinds, Outcome::Whole, false, true},
    // Formatted media written in place report themselves as not blank, as drives do.
    {{}, kInPlace, Outcome::BurnsAgain},
    {{"close-only"}, {MediumKind::DvdPlusRw}, Outcome::Whole},
    {{"close-only"}, {MediumKind::DvdPlusRw}, Outcome::StopLeavesNoVolume},
    {{"page05-descriptor"}, {MediumKind::DvdR, MediumKind::DvdRwSequential,
      MediumKind::DvdRDualLayer, MediumKind::DvdRwRestricted, MediumKind::DvdPlusR}},
    {{"max-transfer"}, kAllKinds},
    {{"max-transfer=4096"}, {MediumKind::DvdR, MediumKind::DvdPlusRw}},
};
// clang-format on

bool Rewritable(MediumKind kind) {
    return kind == MediumKind::DvdPlusRw || kind == MediumKind::DvdRam ||
           kind == MediumKind::DvdRwRestricted;
}

class RealDriveBurnTest : public RecordingTest {
  protected:
    void SetUp() override {
        makeFile("data/big.bin", 1000000);
        makeFile("data/sub/small.bin", 5000);
        image = dir.file("volume.iso");
        volumeBlocks = StreamPlanToFile(
            "DATA",
            [&](VolumePlan* plan) {
                return Plan_AddFolderContents(plan, dir.file("data").c_str()) != 0;
            },
            image);
        ASSERT_GT(volumeBlocks, 12u * 32u); // the 12th WRITE carries the volume's data
        std::ifstream in(image, std::ios::binary);
        expected.assign(std::istreambuf_iterator<char>(in), {});
        makeFile("again/other.bin", 300001);
        secondImage = dir.file("again.iso");
        secondBlocks = StreamPlanToFile(
            "AGAIN",
            [&](VolumePlan* plan) {
                return Plan_AddFolderContents(plan, dir.file("again").c_str()) != 0;
            },
            secondImage);
        std::ifstream again(secondImage, std::ios::binary);
        secondExpected.assign(std::istreambuf_iterator<char>(again), {});
    }

    TVX_Result burn(const std::string& path, int32_t mode) {
        TVX_BurnOptions options = {mode, -1};
        return TVX_BurnVolumeImage(handle, &options, path.c_str(), callback(), logData());
    }

    // Every WRITE on restricted overwrite is a whole number of packets at a packet's start.
    void expectWholePackets(MediumKind kind) {
        if (kind != MediumKind::DvdRwRestricted) return;
        for (const auto& e : drive->trace()) {
            if (e.opcode() != 0x2A) continue;
            const uint32_t lba =
                static_cast<uint32_t>(e.cdb[2] << 24 | e.cdb[3] << 16 | e.cdb[4] << 8 | e.cdb[5]);
            EXPECT_EQ(lba % 16, 0u);
            EXPECT_EQ((e.cdb[7] << 8 | e.cdb[8]) % 16, 0) << "at " << lba;
        }
    }

    // A fresh drive of the given habits with a blank disc of the kind.
    void useDrive(const Row& row, MediumKind kind) {
        vdrive::DriveModel model = vdrive::DriveModel::Default();
        for (const char* behaviour : row.behaviours) {
            std::string error;
            ASSERT_TRUE(vdrive::ApplyBehaviour(model, behaviour, error)) << error;
        }
        drive = std::make_unique<vdrive::VirtualRecorder>(sim->virtualClock(), model);
        drive->setTraceEnabled(true); // for the failure messages
        handle = transport.open(*drive);
        insertBlank(kind);
        log = EventLog();
    }

    std::vector<uint8_t> discBlocks(uint32_t first, uint32_t count) {
        std::vector<uint8_t> blocks(size_t{count} * 2048);
        EXPECT_TRUE(drive->readBlocks(first, count, blocks.data()));
        return blocks;
    }

    std::string image, secondImage;
    uint32_t volumeBlocks = 0, secondBlocks = 0;
    std::vector<uint8_t> expected, secondExpected;
};

TEST_F(RealDriveBurnTest, EveryBehaviourOnEveryKindItAppliesTo) {
    for (const Row& row : kRows) {
        for (MediumKind kind : row.kinds) {
            std::string name;
            for (const char* b : row.behaviours)
                name += std::string(b) + " ";
            SCOPED_TRACE(name + "on " + vdrive::MediumName(kind));
            useDrive(row, kind);
            if (row.reloadFirst) {
                drive->openTray();
                ASSERT_EQ(TVX_LoadMedia(handle), TVX_OK) << drive->formatTrace();
            }
            if (row.outcome == Outcome::BurnsAgain) {
                ASSERT_EQ(burn(image, TVX_MODE_WRITE), TVX_OK) << drive->formatTrace();
                drive->closeTray();
                sim->virtualClock().advance(drive->model().timing.spinUpMs + 1000);
                drive->clearTrace();
                ASSERT_EQ(burn(secondImage, TVX_MODE_WRITE_VERIFY), TVX_OK) << drive->formatTrace();
                EXPECT_EQ(discBlocks(0, secondBlocks), secondExpected);
                expectWholePackets(kind);
                continue;
            }
            if (row.outcome == Outcome::StopLeavesNoVolume) {
                log.stopAtType = TVX_EVENT_WRITE; // the second chunk
                log.stopAtNth = 2;
                ASSERT_EQ(burn(image, TVX_MODE_WRITE), TVX_ERR_CANCELLED) << drive->formatTrace();
                const std::vector<uint8_t> structures = discBlocks(16, 256);
                EXPECT_TRUE(std::all_of(structures.begin(), structures.end(),
                                        [](uint8_t b) { return b == 0; }));
                // The format was stopped the one way the drive knows, and nothing was refused.
                for (const auto& e : drive->trace()) {
                    if (e.opcode() == 0x5B) {
                        EXPECT_EQ(e.status, 0) << TokenOf(e);
                    }
                }
                EXPECT_GT(countToken("CLOSE2/0"), 0u) << traceText();
                continue;
            }
            const TVX_Result result = burn(image, TVX_MODE_WRITE_VERIFY);
            const vdrive::DiscView disc = drive->disc();
            EXPECT_TRUE(removalAllowedAtEnd());

            if (row.outcome == Outcome::Whole) {
                ASSERT_EQ(result, TVX_OK) << drive->formatTrace();
                EXPECT_EQ(discBlocks(0, volumeBlocks), std::vector<uint8_t>(expected));
                expectWholePackets(kind);
                if (!Rewritable(kind)) {
                    ASSERT_FALSE(disc.tracks.empty());
                    EXPECT_TRUE(disc.tracks.front().closed);
                }
                if (row.waits) {
                    EXPECT_GT(log.count(TVX_EVENT_WAIT), 0);
                }
                continue;
            }
            // The medium may have changed under the burn: it ends, and says why.
            EXPECT_EQ(result, TVX_ERR_VERIFY) << drive->formatTrace(); // a verifying burn's failure
            EXPECT_EQ(handle->lastError.senseKey, 0x06);
            EXPECT_EQ(handle->lastError.asc, row.attentionAsc);
            EXPECT_EQ(handle->lastError.ascq, 0x00);
            EXPECT_EQ(handle->lastError.cdb[0], 0x2A);
            if (Rewritable(kind)) {
                const std::vector<uint8_t> structures = discBlocks(16, 256);
                EXPECT_TRUE(std::all_of(structures.begin(), structures.end(),
                                        [](uint8_t b) { return b == 0; }));
            } else {
                EXPECT_NE(disc.status, vdrive::DiscStatus::Finalised);
                ASSERT_FALSE(disc.tracks.empty());
                EXPECT_FALSE(disc.tracks.front().closed);
            }
        }
    }
}

// A stop by the host while the drive is busy takes effect during the wait, not after it.
TEST_F(RealDriveBurnTest, StopDuringABusyWriteEndsTheBurnAtOnce) {
    useDrive({{"write-busy=600,02/04/08"}, {}}, MediumKind::DvdR);
    log.stopAtType = TVX_EVENT_WAIT;
    log.stopAtNth = 3;
    const uint64_t start = nowMs();
    TVX_BurnOptions options = {TVX_MODE_WRITE, -1};
    EXPECT_EQ(TVX_BurnVolumeImage(handle, &options, image.c_str(), callback(), logData()),
              TVX_ERR_CANCELLED);
    EXPECT_LT(nowMs() - start, 60000u);
    EXPECT_TRUE(removalAllowedAtEnd());
}

// Every row's text is what TVX_VIRTUAL_DRIVES takes; unknown names and bad arguments are refused.
TEST(BehaviourTableTest, NamesAndArgumentsAreChecked) {
    vdrive::DriveModel model;
    std::string error;
    for (const vdrive::Behaviour& b : vdrive::Behaviours()) {
        EXPECT_TRUE(*b.description) << b.name;
        // These need their argument: the command, the report's file.
        if (std::string(b.name) == "attention" || std::string(b.name) == "replay") continue;
        EXPECT_TRUE(vdrive::ApplyBehaviour(model, b.name, error)) << b.name << ": " << error;
    }
    for (const char* bad : {"no-such", "write-busy=x", "write-busy=5,2/4", "attention",
                            "attention=2A@0", "attention=2A,02/04/01", "recovered=0",
                            "descriptor-sense=1", "busy-flush-close=5,05/2C/00", "replay"})
        EXPECT_FALSE(vdrive::ApplyBehaviour(model, bad, error)) << bad;
    ASSERT_TRUE(vdrive::ApplyBehaviour(model, "write-busy=7,05/2C/00", error));
    EXPECT_EQ(model.habits.writeBusyMs, 7000u);
    EXPECT_EQ(model.habits.writeBusyKey, 0x05);
    EXPECT_EQ(model.habits.writeBusyAsc, 0x2C);
}

TEST(DriveBehaviours, MediaBehavioursAreCheckedByName) {
    vdrive::DriveModel model;
    std::string error;
    EXPECT_TRUE(vdrive::ApplyBehaviour(model, "close-only", error));
    EXPECT_TRUE(vdrive::ApplyBehaviour(model, "max-transfer=65536", error));
    EXPECT_TRUE(model.closeOnly);
    EXPECT_EQ(model.maxTransferBytes, 65536u);
    for (const char* bad : {"no-such", "max-transfer=12x", "max-transfer=100", "close-only=1"})
        EXPECT_FALSE(vdrive::ApplyBehaviour(model, bad, error)) << bad;
}

} // namespace
} // namespace tvx::test
