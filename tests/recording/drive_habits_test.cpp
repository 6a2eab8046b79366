// Burns through the public interface on recorders with the media habits of real drives (the
// named behaviours of the virtual recorder), on each medium kind where the habit matters: the
// burn succeeds and the disc holds the whole volume, or a stop leaves no volume behind.
#include "recording_fixture.h"
#include "vdrive/behaviours.h"
#include "volume_check.h"

#include <algorithm>
#include <cctype>

namespace tvx::test {
namespace {

using vdrive::MediumKind;

enum class Outcome {
    Whole,              // burnt with verification, the disc holds the volume byte for byte
    BurnsAgain,         // a second volume burns over the first and the disc holds it
    StopLeavesNoVolume, // the host stops the burn: cancelled, no volume structures remain
};

struct Row {
    const char* behaviours; // "" = the model's defaults
    std::vector<MediumKind> kinds;
    Outcome outcome;
};

const std::vector<MediumKind> kAllKinds = {MediumKind::DvdR,
                                           MediumKind::DvdRwSequential,
                                           MediumKind::DvdRwRestricted,
                                           MediumKind::DvdRam,
                                           MediumKind::DvdPlusR,
                                           MediumKind::DvdPlusRw,
                                           MediumKind::DvdPlusRDualLayer,
                                           MediumKind::DvdRDualLayer};

const Row kRows[] = {
    // Formatted media written in place report themselves as not blank, as drives do.
    {"",
     {MediumKind::DvdRam, MediumKind::DvdRwRestricted, MediumKind::DvdPlusRw},
     Outcome::BurnsAgain},
    {"close-only", {MediumKind::DvdPlusRw}, Outcome::Whole},
    {"close-only", {MediumKind::DvdPlusRw}, Outcome::StopLeavesNoVolume},
    {"page05-descriptor",
     {MediumKind::DvdR, MediumKind::DvdRwSequential, MediumKind::DvdRDualLayer,
      MediumKind::DvdRwRestricted, MediumKind::DvdPlusR},
     Outcome::Whole},
    {"max-transfer", kAllKinds, Outcome::Whole},
    {"max-transfer=4096", {MediumKind::DvdR, MediumKind::DvdPlusRw}, Outcome::Whole},
};

struct Case {
    const Row* row;
    MediumKind kind;
};

std::vector<Case> Cases() {
    std::vector<Case> cases;
    for (const Row& row : kRows)
        for (MediumKind kind : row.kinds)
            cases.push_back({&row, kind});
    return cases;
}

vdrive::DriveModel ModelOf(const Row& row) {
    vdrive::DriveModel model = vdrive::DriveModel::Default();
    std::string error;
    if (*row.behaviours) {
        EXPECT_TRUE(vdrive::ApplyBehaviour(model, row.behaviours, error)) << error;
    }
    return model;
}

class DriveHabitsTest : public RecordingTest, public ::testing::WithParamInterface<Case> {
  protected:
    DriveHabitsTest() : RecordingTest(ModelOf(*GetParam().row)) {}

    // A volume of a few hundred blocks whose content depends on `tag`, as an image file.
    std::string makeVolume(const std::string& tag, uint32_t& sectors) {
        makeFile(tag + "/a.bin", 70000);
        makeFile(tag + "/b/c.bin", 300001);
        const std::string folder = dir.file(tag);
        const std::string image = dir.file(tag + ".iso");
        sectors = StreamPlanToFile(
            "REAL", [&](VolumePlan* p) { return Plan_AddFolderContents(p, folder.c_str()) != 0; },
            image);
        return image;
    }

    TVX_Result burn(const std::string& image, int32_t mode) {
        TVX_BurnOptions options = {mode, -1};
        return TVX_BurnVolumeImage(handle, &options, image.c_str(), callback(), logData());
    }

    // The disc holds the image, and WRITEs on restricted overwrite are whole packets.
    void expectDiscHolds(const std::string& image) {
        ASSERT_TRUE(drive->flush());
        EXPECT_EQ(CompareImages(backingFile(), image), "");
        if (GetParam().kind != MediumKind::DvdRwRestricted) return;
        for (const auto& e : drive->trace()) {
            if (e.opcode() != 0x2A) continue;
            const uint32_t lba =
                static_cast<uint32_t>(e.cdb[2] << 24 | e.cdb[3] << 16 | e.cdb[4] << 8 | e.cdb[5]);
            EXPECT_EQ(lba % 16, 0u);
            EXPECT_EQ((e.cdb[7] << 8 | e.cdb[8]) % 16, 0) << "at " << lba;
        }
    }

    void reload() {
        drive->closeTray();
        sim->virtualClock().advance(drive->model().timing.spinUpMs + 1000);
    }
};

TEST_P(DriveHabitsTest, BurnsAsOnARealDrive) {
    const Case& c = GetParam();
    insertBlank(c.kind, 8192, true);
    uint32_t sectors = 0;
    const std::string first = makeVolume("first", sectors);
    ASSERT_GT(sectors, 0u);

    switch (c.row->outcome) {
    case Outcome::Whole:
        ASSERT_EQ(burn(first, TVX_MODE_WRITE_VERIFY), TVX_OK) << drive->formatTrace();
        expectDiscHolds(first);
        break;
    case Outcome::BurnsAgain: {
        ASSERT_EQ(burn(first, TVX_MODE_WRITE), TVX_OK) << drive->formatTrace();
        reload();
        uint32_t again = 0;
        const std::string second = makeVolume("second", again);
        drive->clearTrace();
        ASSERT_EQ(burn(second, TVX_MODE_WRITE_VERIFY), TVX_OK) << drive->formatTrace();
        expectDiscHolds(second);
        break;
    }
    case Outcome::StopLeavesNoVolume: {
        log.stopAtType = 4; // the second chunk written
        log.stopAtNth = 2;
        ASSERT_EQ(burn(first, TVX_MODE_WRITE), TVX_ERR_CANCELLED) << drive->formatTrace();
        std::vector<uint8_t> structures(256 * 2048, 0xFF);
        ASSERT_TRUE(drive->readBlocks(16, 256, structures.data()));
        EXPECT_TRUE(std::all_of(structures.begin(), structures.end(), [](uint8_t b) {
            return b == 0;
        })) << "volume structures left on the disc";
        // The stop went the one way the drive knows, and was not refused.
        for (const auto& e : drive->trace()) {
            if (e.opcode() == 0x5B) {
                EXPECT_EQ(e.status, 0) << TokenOf(e);
            }
        }
        EXPECT_GT(countToken("CLOSE2/0"), 0u) << traceText();
        break;
    }
    }
}

INSTANTIATE_TEST_SUITE_P(Behaviours, DriveHabitsTest, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             std::string name = info.param.row->behaviours;
                             if (name.empty()) name = "default";
                             name += std::string("_") + vdrive::MediumName(info.param.kind);
                             for (char& ch : name)
                                 if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                             return name + "_" + std::to_string(info.index);
                         });

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
