// A burn onto media written in place, cut off at every command as a kill -9 or a power cut would
// cut it: afterwards the disc holds the old volume whole, no volume, or the new volume whole,
// never a volume that lists files it does not hold. A reader in another process during the burn
// sees the same states, one at a time.
#include "recording_fixture.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <set>

namespace tvx::test {
namespace {

using vdrive::MediumKind;

// The machine dies after `limit` commands: none of the later ones reaches the drive, so no
// clean-up does either.
class PowerCut final : public ScsiTarget {
  public:
    explicit PowerCut(ScsiTarget& target) : target_(target) {}
    size_t limit = std::numeric_limits<size_t>::max();
    size_t seen = 0;
    ScsiResult execute(const ScsiRequest& request) override {
        if (seen++ >= limit) {
            ScsiResult dead;
            dead.outcome = ScsiOutcome::TransportFailed;
            return dead;
        }
        return target_.execute(request);
    }

  private:
    ScsiTarget& target_;
};

constexpr uint32_t kCapacity = 4096;

std::string ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

enum class Holds { Nothing, Whole, Broken };

class CrashTest : public RecordingTest {
  protected:
    // How a volume's files read on the disc of `reader`: every one equal to its source, none
    // found, or anything in between.
    Holds volumeOn(vdrive::VirtualRecorder& reader, const std::vector<std::string>& names,
                   const std::string& folder) {
        RecHandle* h = transport.open(reader);
        size_t found = 0, equal = 0;
        for (const std::string& name : names) {
            TVX_DiscFile file = TVX_OpenFile(h, ("/" + name).c_str());
            if (!file) continue;
            ++found;
            std::string content(static_cast<size_t>(TVX_GetFileSize(file)), '\0');
            uint32_t got = 0;
            if (TVX_ReadFile(file, content.data(), static_cast<uint32_t>(content.size()), &got) &&
                got == content.size() && content == ReadWhole(folder + "/" + name))
                ++equal;
            TVX_CloseFile(file);
        }
        if (found == 0) return Holds::Nothing;
        return equal == names.size() ? Holds::Whole : Holds::Broken;
    }

    TVX_Result burn(RecHandle* h, const std::string& folder) {
        TVX_BurnOptions options = {TVX_MODE_WRITE, -1};
        return TVX_BurnVolumeData(h, &options, folder.c_str(), "CRASH", nullptr, 0);
    }
};

TEST_F(CrashTest, EveryCutLeavesTheOldVolumeNoVolumeOrTheNewOne) {
    // Distinct names, so a mix of the two volumes shows. The first new file lies inside the
    // structures' blocks, the second across their end, the last ones far beyond.
    const std::vector<std::string> oldNames = {"old_a.bin", "old_b.bin"};
    const std::vector<std::string> newNames = {"new_1.bin", "new_2.bin", "new_3.bin", "new_4.bin"};
    makeFile("old/old_a.bin", 300000);
    makeFile("old/old_b.bin", 200000);
    makeFile("new/new_1.bin", 3000);
    makeFile("new/new_2.bin", 90000);
    makeFile("new/new_3.bin", 400000);
    makeFile("new/new_4.bin", 250000);
    const std::string oldFolder = dir.file("old"), newFolder = dir.file("new");

    for (MediumKind kind :
         {MediumKind::DvdPlusRw, MediumKind::DvdRam, MediumKind::DvdRwRestricted}) {
        SCOPED_TRACE(vdrive::MediumName(kind));
        // The old volume, and what its disc holds.
        insertBlank(kind, kCapacity);
        ASSERT_EQ(burn(handle, oldFolder), TVX_OK) << drive->formatTrace();
        std::vector<uint8_t> oldDisc(size_t{kCapacity} * 2048);
        ASSERT_TRUE(drive->readBlocks(0, kCapacity, oldDisc.data()));

        PowerCut cut(*drive);
        RecHandle* cutHandle = transport.open(cut);
        std::set<Holds> seenNew, seenOld;
        size_t commands = 0;
        for (size_t limit = 0;; ++limit) {
            SCOPED_TRACE("cut after command " + std::to_string(limit));
            if (drive->hasDisc()) drive->removeDisc();
            if (drive->trayOpen()) drive->closeTray();
            ASSERT_TRUE(drive->insertRecorded(kind, kCapacity, false, kCapacity));
            ASSERT_TRUE(drive->writeBlocks(0, kCapacity, oldDisc.data()));
            cut.seen = 0;
            cut.limit = limit;
            const TVX_Result result = burn(cutHandle, newFolder);
            const bool whole = cut.seen <= limit;
            if (whole) {
                ASSERT_EQ(result, TVX_OK);
                commands = cut.seen;
            }

            // After the power comes back: a drive with the blocks as they were when it died.
            vdrive::VirtualRecorder reader(sim->virtualClock());
            ASSERT_TRUE(reader.insertRecorded(kind, kCapacity, false, kCapacity));
            std::vector<uint8_t> blocks(size_t{kCapacity} * 2048);
            ASSERT_TRUE(drive->readBlocks(0, kCapacity, blocks.data()));
            ASSERT_TRUE(reader.writeBlocks(0, kCapacity, blocks.data()));
            const Holds newVolume = volumeOn(reader, newNames, newFolder);
            const Holds oldVolume = volumeOn(reader, oldNames, oldFolder);
            EXPECT_NE(newVolume, Holds::Broken);
            EXPECT_NE(oldVolume, Holds::Broken);
            EXPECT_FALSE(newVolume == Holds::Whole && oldVolume == Holds::Whole);
            seenNew.insert(newVolume);
            seenOld.insert(oldVolume);
            if (whole) {
                EXPECT_EQ(newVolume, Holds::Whole);
                break;
            }
        }
        // The cuts went through every state: old, none, new.
        EXPECT_TRUE(seenOld.count(Holds::Whole));
        EXPECT_TRUE(seenOld.count(Holds::Nothing));
        EXPECT_TRUE(seenNew.count(Holds::Whole));
        EXPECT_TRUE(seenNew.count(Holds::Nothing));
        EXPECT_GT(commands, 40u);
        drive->removeDisc();
    }
}

} // namespace
} // namespace tvx::test
