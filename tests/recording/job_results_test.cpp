// The burn jobs' result codes: bad input, the media checks, space, a stop by the host and the
// verification.
#include "recording/engine.h"
#include "recording_fixture.h"
#include "volume_check.h"

#include <algorithm>

namespace tvx::test {
namespace {

using vdrive::DriveModel;
using vdrive::MediumKind;

class JobResultTest : public RecordingTest {
  protected:
    void SetUp() override {
        makeFile("data/one.bin", 70000);
        makeFile("data/sub/two.bin", 4097);
        data = dir.file("data");
    }
    TVX_Result burnData(int32_t mode) {
        TVX_BurnOptions options = {mode, -1};
        return TVX_BurnVolumeData(handle, &options, data.c_str(), "DATA", callback(), logData());
    }
    // Size of the data volume, and the first sector of its last file.
    uint32_t planData(uint32_t* lastFileSector = nullptr) {
        VolumePlan* plan = Plan_Create("DATA");
        Plan_AddFolderContents(plan, data.c_str());
        Plan_Layout(plan);
        uint32_t size = Plan_VolumeSize(plan);
        for (const WriteRun& run : plan->writeList)
            if (run.kind == RunKind::File && run.sectorCount > 0 && lastFileSector)
                *lastFileSector = run.start + run.sectorCount - 1;
        Plan_Free(plan);
        return size;
    }
    std::string data;
};

TEST_F(JobResultTest, BadInputIsRefusedBeforeTheDiscIsRead) {
    insertBlank(MediumKind::DvdPlusR);
    drive->clearTrace();
    TVX_BurnOptions options = {TVX_MODE_WRITE, -1};
    EXPECT_EQ(TVX_BurnDVDVIDEO(handle, &options, nullptr, nullptr, nullptr, 0),
              TVX_ERR_INVALID_ARG);
    EXPECT_EQ(TVX_BurnVolumeData(handle, &options, nullptr, nullptr, nullptr, 0),
              TVX_ERR_INVALID_ARG);
    EXPECT_EQ(TVX_BurnVideoTsFolder(handle, &options, nullptr, nullptr, nullptr, 0),
              TVX_ERR_INVALID_ARG);
    EXPECT_EQ(TVX_BurnFileSet(handle, &options, nullptr, 1, nullptr, nullptr, 0),
              TVX_ERR_INVALID_ARG);
    EXPECT_EQ(TVX_BurnVolumeData(handle, nullptr, data.c_str(), nullptr, nullptr, 0),
              TVX_ERR_INVALID_ARG);
    EXPECT_EQ(TVX_BurnVolumeImage(handle, &options, nullptr, nullptr, 0), TVX_ERR_INVALID_ARG);
    uint32_t size = 7, free = 7;
    EXPECT_EQ(TVX_CheckVideoTsFolderSize(handle, nullptr, &size, &free), TVX_ERR_INVALID_ARG);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(free, 0u);

    dir.mkdir("empty");
    EXPECT_EQ(TVX_BurnVolumeData(handle, &options, dir.file("empty").c_str(), nullptr, nullptr, 0),
              TVX_ERR_SOURCE);
    EXPECT_EQ(TVX_BurnDVDVIDEO(handle, &options, data.c_str(), nullptr, nullptr, 0),
              TVX_ERR_SOURCE);
    const std::string one = dir.file("data/one.bin"), missing = dir.file("missing.bin");
    TVX_FileSetEntry entries[2] = {{"a.bin", one.c_str()}, {"b.bin", missing.c_str()}};
    EXPECT_EQ(TVX_BurnFileSet(handle, &options, entries, 0, nullptr, nullptr, 0), TVX_ERR_SOURCE);
    EXPECT_EQ(TVX_BurnFileSet(handle, &options, entries, 2, nullptr, nullptr, 0), TVX_ERR_SOURCE);
    EXPECT_TRUE(drive->trace().empty()) << drive->formatTrace();
    // The image is opened after the media checks.
    EXPECT_EQ(TVX_BurnVolumeImage(handle, &options, dir.file("missing.iso").c_str(), nullptr, 0),
              TVX_ERR_SOURCE);
    EXPECT_EQ(countToken("WRITE"), 0u);
}

TEST_F(JobResultTest, MediaChecks) {
    TVX_BurnOptions write = {TVX_MODE_WRITE, -1}, test = {TVX_MODE_TEST_WRITE, -1};
    // No disc: the disc query's own result.
    EXPECT_EQ(burnData(TVX_MODE_WRITE), TVX_ERR_NOT_READY);
    // A pressed disc is no writable DVD.
    std::string image = dir.file("pressed.iso");
    ASSERT_GT(StreamPlanToFile(
                  "P", [&](VolumePlan* p) { return Plan_AddFolderContents(p, data.c_str()) != 0; },
                  image),
              0u);
    ASSERT_TRUE(drive->loadImage(image, MediumKind::DvdRom));
    EXPECT_EQ(TVX_BurnVolumeImage(handle, &write, image.c_str(), nullptr, 0), TVX_ERR_DISC_KIND);
    drive->removeDisc();
    // Test write on plus media.
    for (MediumKind kind :
         {MediumKind::DvdPlusR, MediumKind::DvdPlusRw, MediumKind::DvdPlusRDualLayer}) {
        insertBlank(kind);
        EXPECT_EQ(TVX_BurnVolumeData(handle, &test, data.c_str(), nullptr, nullptr, 0),
                  TVX_ERR_MODE);
        drive->removeDisc();
    }
    // Not blank.
    ASSERT_TRUE(drive->insertRecorded(MediumKind::DvdR, 100, false));
    EXPECT_EQ(burnData(TVX_MODE_WRITE), TVX_ERR_DISC_NOT_WRITABLE);
    drive->removeDisc();
    // A DVD+RW holding a volume is written over.
    ASSERT_TRUE(drive->loadImage(image, MediumKind::DvdPlusRw));
    EXPECT_EQ(burnData(TVX_MODE_WRITE), TVX_OK) << drive->formatTrace();
    EXPECT_TRUE(removalAllowedAtEnd());
}

class NoTestWriteTest : public RecordingTest {
  protected:
    NoTestWriteTest() : RecordingTest(DriveModel::WithoutTestWrite()) {}
};

TEST_F(NoTestWriteTest, DashDriveWithoutTestWriteRefusesOnlyTestWrites) {
    makeFile("data/x.bin", 10);
    for (MediumKind kind : {MediumKind::DvdR, MediumKind::DvdRwSequential}) {
        for (int32_t mode : {TVX_MODE_TEST_WRITE, TVX_MODE_WRITE, TVX_MODE_WRITE_VERIFY}) {
            SCOPED_TRACE(mode);
            insertBlank(kind);
            TVX_BurnOptions options = {mode, -1};
            EXPECT_EQ(
                TVX_BurnVolumeData(handle, &options, dir.file("data").c_str(), nullptr, nullptr, 0),
                mode == TVX_MODE_TEST_WRITE ? TVX_ERR_MODE : TVX_OK)
                << drive->formatTrace();
            if (drive->hasDisc()) drive->removeDisc();
        }
    }
}

TEST_F(JobResultTest, VolumeExactlyAsLargeAsTheFreeSpaceFitsOneSectorMoreDoesNot) {
    const uint32_t size = planData();
    insertBlank(MediumKind::DvdPlusR, size);
    EXPECT_EQ(burnData(TVX_MODE_WRITE), TVX_OK) << drive->formatTrace();
    drive->removeDisc();
    insertBlank(MediumKind::DvdR, size - 1);
    drive->clearTrace();
    EXPECT_EQ(burnData(TVX_MODE_WRITE), TVX_ERR_NO_SPACE);
    EXPECT_EQ(countToken("PREVENT1"), 0u);

    // The size check reports both figures whatever the answer.
    drive->removeDisc();
    insertBlank(MediumKind::DvdR, size - 1);
    makeFile("VIDEO_TS/VIDEO_TS.IFO", 70000);
    uint32_t volume = 0, free = 0;
    EXPECT_EQ(TVX_CheckVideoTsFolderSize(handle, dir.file("VIDEO_TS").c_str(), &volume, &free),
              TVX_OK);
    EXPECT_GT(volume, 0u);
    EXPECT_EQ(free, size - 1);
    EXPECT_EQ(TVX_CheckVideoTsFolderSize(handle, dir.file("VIDEO_TS").c_str(), nullptr, nullptr),
              TVX_OK);
}

TEST_F(JobResultTest, StopAtFirstWriteClosesTheDiscAndTheNextBurnStartsClear) {
    insertBlank(MediumKind::DvdPlusR);
    log.stopAtType = 4;
    EXPECT_EQ(burnData(TVX_MODE_WRITE), TVX_ERR_CANCELLED);
    std::string trace = traceText();
    EXPECT_EQ(trace.find("WRITE"), std::string::npos);
    EXPECT_NE(trace.find("CLOSE1/1"), std::string::npos) << trace;
    EXPECT_NE(trace.find("CLOSE5/0"), std::string::npos) << trace;
    EXPECT_EQ(handle->rec.cancelled, 0);
    EXPECT_TRUE(removalAllowedAtEnd());

    drive->removeDisc();
    insertBlank(MediumKind::DvdPlusR);
    log = EventLog();
    EXPECT_EQ(burnData(TVX_MODE_WRITE), TVX_OK);
}

TEST_F(JobResultTest, OneWrongSectorFailsVerificationOnly) {
    uint32_t lastFileSector = 0;
    planData(&lastFileSector);
    ASSERT_GT(lastFileSector, 0u);
    for (int32_t mode : {TVX_MODE_WRITE_VERIFY, TVX_MODE_WRITE}) {
        insertBlank(MediumKind::DvdPlusR);
        bool corrupted = false;
        log = EventLog();
        // Once all data went to the drive, one sector of the last file goes bad on the disc.
        log.onEvent = [&](const ProgressEvent& e) {
            if (e.type != 5 || corrupted) return;
            std::vector<uint8_t> garbage(2048, 0xEE);
            ASSERT_TRUE(drive->writeBlocks(lastFileSector, 1, garbage.data()));
            corrupted = true;
        };
        EXPECT_EQ(burnData(mode), mode == TVX_MODE_WRITE_VERIFY ? TVX_ERR_VERIFY : TVX_OK);
        EXPECT_TRUE(corrupted);
        drive->removeDisc();
    }
}

TEST_F(JobResultTest, EmptyImageFitsAndVerifiesAtOnce) {
    std::string image = makeFile("empty.iso", 0);
    insertBlank(MediumKind::DvdPlusRw);
    TVX_BurnOptions options = {TVX_MODE_WRITE_VERIFY, -1};
    EXPECT_EQ(TVX_BurnVolumeImage(handle, &options, image.c_str(), callback(), logData()), TVX_OK)
        << drive->formatTrace();
    EXPECT_EQ(countToken("WRITE"), 0u);
    std::string engine = traceText().substr(traceText().find("PREVENT1"));
    EXPECT_EQ(engine.find("READ"), std::string::npos) << engine;
    EXPECT_EQ(log.count(8), 0);
}

TEST_F(JobResultTest, TestWriteLeavesABlankDiscInTheDrive) {
    insertBlank(MediumKind::DvdR);
    EXPECT_EQ(burnData(TVX_MODE_TEST_WRITE), TVX_OK) << drive->formatTrace();
    EXPECT_FALSE(drive->trayOpen());
    EXPECT_EQ(traceText().find("EJECT"), std::string::npos);
    TVX_DiscInfo disc;
    ASSERT_EQ(TVX_GetDiscInfo(handle, &disc), TVX_OK);
    EXPECT_EQ(disc.blank, 1u);
    // The real recording follows on the same disc.
    EXPECT_EQ(burnData(TVX_MODE_WRITE), TVX_OK);
}

} // namespace
} // namespace tvx::test
