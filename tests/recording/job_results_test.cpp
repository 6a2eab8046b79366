// The burn jobs' result codes: bad input, the media checks, space, a stop by the host and the
// verification.
#include "recording/engine.h"
#include "recording_fixture.h"
#include "volume_check.h"

#include <algorithm>
#include <filesystem>
#if defined(__linux__)
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

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
    // Bad entries fail as sources, named: names no reader could tell from a folder's own
    // entries, the root, missing texts, and a name that only its cleaning makes equal to one
    // before it (which would otherwise silently take its place).
    struct {
        const char* volume;
        const char* source;
        const char* named;
    } bad[] = {
        {".", one.c_str(), "."},
        {"..", one.c_str(), ".."},
        {"sub/.", one.c_str(), "sub/."},
        {"../a.bin", one.c_str(), "../a.bin"},
        {"", one.c_str(), ""},
        {"/", one.c_str(), "/"},
        {nullptr, one.c_str(), one.c_str()},
        {"b.bin", nullptr, ""},
        {"a:bin", one.c_str(), one.c_str()},
    };
    const std::string aUnderscore = dir.file("data/one.bin");
    for (const auto& b : bad) {
        TVX_FileSetEntry set[2] = {{"a_bin", aUnderscore.c_str()}, {b.volume, b.source}};
        EXPECT_EQ(TVX_BurnFileSet(handle, &options, set, 2, nullptr, nullptr, 0), TVX_ERR_SOURCE)
            << (b.volume ? b.volume : "(null)");
        TVX_LastError e{};
        ASSERT_EQ(TVX_GetLastError(handle, &e), TVX_OK);
        EXPECT_EQ(e.location, 1020);
        EXPECT_STREQ(e.description, b.named) << (b.volume ? b.volume : "(null)");
    }
    EXPECT_TRUE(drive->trace().empty()) << drive->formatTrace();
    // The image burn checks the disc first, as the volume burns check it before their plan is
    // laid out: a missing image and a test write asked on a DVD+R fail for the disc.
    const std::string missingImage = dir.file("missing.iso");
    EXPECT_EQ(TVX_BurnVolumeImage(handle, &options, missingImage.c_str(), nullptr, 0),
              TVX_ERR_SOURCE);
    for (const auto& e : drive->trace())
        EXPECT_NE(e.opcode(), 0x2A) << drive->formatTrace();
    TVX_BurnOptions test = {TVX_MODE_TEST_WRITE, -1};
    EXPECT_EQ(TVX_BurnVolumeImage(handle, &test, missingImage.c_str(), nullptr, 0), TVX_ERR_MODE);
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

// What a burn that stops or fails once writing began leaves: a rewritable disc without a
// readable volume (its anchor, at 256, had been written), a write-once disc never closed.
TEST_F(JobResultTest, IncompleteBurnLeavesNoVolumeThatLooksWhole) {
    enum class Fault { Stop, FileShrinks, FileVanishes, FileGrows };
    const std::string victim = makeFile("data/zz_last.bin", 600000);
    makeFile("data/aa_first.bin", 600000);
    // Where the victim lies: it shrinks while it is read.
    uint32_t victimStart = 0;
    {
        VolumePlan* plan = Plan_Create("DATA");
        Plan_AddFolderContents(plan, data.c_str());
        Plan_Layout(plan);
        for (const WriteRun& run : plan->writeList)
            if (run.kind == RunKind::File && std::filesystem::path(run.hostPath()) == victim)
                victimStart = run.start;
        Plan_Free(plan);
    }
    ASSERT_GT(victimStart, 400u);
    for (MediumKind kind : {MediumKind::DvdPlusRw, MediumKind::DvdRwRestricted, MediumKind::DvdRam,
                            MediumKind::DvdR, MediumKind::DvdRwSequential, MediumKind::DvdPlusR}) {
        for (Fault fault :
             {Fault::Stop, Fault::FileShrinks, Fault::FileVanishes, Fault::FileGrows}) {
#if defined(_WIN32)
            // Windows refuses to change the size of a file that the burn has open for reading.
            if (fault == Fault::FileShrinks || fault == Fault::FileGrows) continue;
#endif
            SCOPED_TRACE(std::string(vdrive::MediumName(kind)) + " fault " +
                         std::to_string(static_cast<int>(fault)));
            makeFile("data/zz_last.bin", 600000);
            insertBlank(kind);
            drive->clearTrace();
            log = EventLog();
            log.onEvent = [&](const ProgressEvent& e) {
                if (log.stopAtType != -1) return;
                // Files are opened ahead of their turn: one that vanishes once open is still read
                // whole, so it goes at the first event, before anything is opened.
                if (fault == Fault::FileVanishes) {
                    std::filesystem::remove(victim);
                    log.stopAtType = -2;
                    return;
                }
                if (e.type != 4) return;
                // Media written in place take the volume out of order: the block being written
                // tells where the burn is.
                if (handle->rec.nextAddress <
                    (fault == Fault::FileShrinks || fault == Fault::FileGrows ? victimStart + 32
                                                                              : 300))
                    return;
                if (fault == Fault::Stop) {
                    log.stopAtType = 4;
                } else if (fault == Fault::FileShrinks) {
                    std::filesystem::resize_file(victim, 1000);
                } else if (fault == Fault::FileGrows) {
                    std::filesystem::resize_file(victim, 700000);
                } else {
                    std::filesystem::remove(victim);
                }
                if (fault != Fault::Stop) log.stopAtType = -2; // done once
            };
            const TVX_Result result = burnData(TVX_MODE_WRITE);
            EXPECT_EQ(result, fault == Fault::Stop ? TVX_ERR_CANCELLED : TVX_ERR_SOURCE)
                << drive->formatTrace();
            if (fault != Fault::Stop) {
                EXPECT_EQ(std::filesystem::path(handle->lastError.description), victim);
                EXPECT_STREQ(handle->lastError.category, "Source");
                EXPECT_EQ(handle->lastError.location, 1020);
            }
            EXPECT_TRUE(removalAllowedAtEnd());
            const vdrive::DiscView disc = drive->disc();
            if (kind == MediumKind::DvdPlusRw || kind == MediumKind::DvdRwRestricted ||
                kind == MediumKind::DvdRam) {
                std::vector<uint8_t> structures(256 * 2048, 0xFF);
                ASSERT_TRUE(drive->readBlocks(16, 256, structures.data()));
                EXPECT_TRUE(std::all_of(structures.begin(), structures.end(),
                                        [](uint8_t b) { return b == 0; }));
            } else {
                EXPECT_NE(disc.status, vdrive::DiscStatus::Finalised);
                ASSERT_FALSE(disc.tracks.empty());
                EXPECT_FALSE(disc.tracks.front().closed);
                EXPECT_EQ(traceText().find("CLOSE"), std::string::npos) << traceText();
            }
            EXPECT_EQ(handle->rec.cancelled, 0);
            drive->removeDisc();
        }
    }
    // A stop before anything was written leaves the disc as it was.
    makeFile("data/zz_last.bin", 600000);
    if (drive->trayOpen()) drive->closeTray();
    ASSERT_TRUE(drive->insertRecorded(MediumKind::DvdPlusRw, 400, false));
    std::vector<uint8_t> marker(2048, 0x5A);
    ASSERT_TRUE(drive->writeBlocks(256, 1, marker.data()));
    log = EventLog();
    log.stopAtType = 4;
    EXPECT_EQ(burnData(TVX_MODE_WRITE), TVX_ERR_CANCELLED);
    std::vector<uint8_t> block(2048);
    ASSERT_TRUE(drive->readBlocks(256, 1, block.data()));
    EXPECT_EQ(block, marker);
    drive->removeDisc();
    // The next burn starts clear.
    insertBlank(MediumKind::DvdPlusR);
    log = EventLog();
    EXPECT_EQ(burnData(TVX_MODE_WRITE), TVX_OK);
}

// Once every block of a volume written in place is flushed, what goes wrong while the disc is
// finished (a close the drive never completes, a stop) keeps the volume: the failure says so.
TEST_F(JobResultTest, AWholeVolumeIsKeptWhenOnlyFinishingFails) {
    enum class Finish { NeverReady, Stopped };
    for (Finish finish : {Finish::NeverReady, Finish::Stopped}) {
        SCOPED_TRACE(static_cast<int>(finish));
        insertBlank(MediumKind::DvdPlusRw);
        log = EventLog();
        bool armed = false;
        log.onEvent = [&](const ProgressEvent& e) {
            // The first wait for the close, once the volume is committed.
            if (armed || e.type != 5 || !handle->rec.volumeCommitted) return;
            armed = true;
            if (finish == Finish::NeverReady)
                drive->addFault(vdrive::FaultRule::SenseOn(0x25, 0x02, 0x04, 0x07));
            else
                log.stopAtType = 5;
        };
        EXPECT_EQ(burnData(TVX_MODE_WRITE),
                  finish == Finish::Stopped ? TVX_ERR_CANCELLED : TVX_ERR_COMMAND)
            << drive->formatTrace();
        EXPECT_TRUE(armed);
        EXPECT_EQ(handle->lastError.location, 1040);
        EXPECT_STREQ(handle->lastError.category, "Finishing");
        drive->clearFaults();
        if (drive->trayOpen()) drive->closeTray();
        while (drive->busy())
            sim->virtualClock().advance(1000);
        TVX_DiscFile file = TVX_OpenFile(handle, "/sub/two.bin");
        ASSERT_NE(file, nullptr);
        EXPECT_EQ(TVX_GetFileSize(file), 4097u);
        TVX_CloseFile(file);
    }
}

// A source that cannot be read back, or grows while it is compared, is the source's failure,
// named, not a difference on disc.
TEST_F(JobResultTest, VerificationOfAChangedFileIsASourceFailure) {
    const std::string victim = dir.file("data/one.bin");
    for (bool grows : {false, true}) {
#if defined(_WIN32)
        // Windows refuses to change the size of a file that the burn has open for reading.
        if (grows) continue;
#endif
        SCOPED_TRACE(grows ? "grows" : "vanishes");
        makeFile("data/one.bin", 70000);
        insertBlank(MediumKind::DvdPlusR);
        log = EventLog();
        log.onEvent = [&](const ProgressEvent& e) {
            if (grows) {
                // At the first comparison of its bytes: it is open and partly read.
                if (e.type == TVX_EVENT_VERIFY && std::filesystem::file_size(victim) == 70000)
                    std::filesystem::resize_file(victim, 80000);
            } else if (e.type == 1 || (e.type == 5 && std::filesystem::exists(victim))) {
                std::filesystem::remove(victim);
            }
        };
        EXPECT_EQ(burnData(TVX_MODE_WRITE_VERIFY), TVX_ERR_SOURCE) << drive->formatTrace();
        EXPECT_EQ(std::filesystem::path(handle->lastError.description), victim);
        EXPECT_STREQ(handle->lastError.category, "Source");
        // The recording itself completed: the disc is closed as usual.
        EXPECT_EQ(drive->disc().status, vdrive::DiscStatus::Finalised);
        drive->removeDisc();
    }
}

// Every source is opened before the disc is asked anything: an unreadable one costs no write.
TEST_F(JobResultTest, UnreadableSourceIsRefusedBeforeTheDiscIsTouched) {
#if !defined(__linux__)
    GTEST_SKIP() << "needs the permission bits and file-system identity of Linux";
#else
    const std::string one = dir.file("data/one.bin");
    const std::string locked = makeFile("data/sub/locked.bin", 5000);
    ASSERT_EQ(::chmod(locked.c_str(), 0), 0);
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    // Root reads anything; with another file-system identity it obeys the permission bits.
    const bool root = ::geteuid() == 0;
    if (root) ::setfsuid(65534);
    insertBlank(MediumKind::DvdPlusR);
    drive->clearTrace();
    TVX_BurnOptions options = {TVX_MODE_WRITE, -1};
    TVX_FileSetEntry entries[2] = {{"a.bin", one.c_str()}, {"b.bin", locked.c_str()}};
    const TVX_Result folder = burnData(TVX_MODE_WRITE);
    const TVX_Result fileSet = TVX_BurnFileSet(handle, &options, entries, 2, nullptr, nullptr, 0);
    if (root) ::setfsuid(0);
    EXPECT_EQ(folder, TVX_ERR_SOURCE);
    EXPECT_EQ(fileSet, TVX_ERR_SOURCE);
    EXPECT_EQ(std::filesystem::path(handle->lastError.description), locked);
    EXPECT_TRUE(drive->trace().empty()) << drive->formatTrace();
#endif
}

// One writing job per drive: a second handle on the same drive is refused at once, without a
// command, while the first job runs; afterwards it may write.
TEST_F(JobResultTest, SecondHandleOnTheDriveIsRefusedDuringAJob) {
    RecHandle* other = transport.open(*drive);
    insertBlank(MediumKind::DvdPlusRw);
    std::vector<TVX_Result> refused;
    size_t commandsDuringRefusals = 0;
    log.onEvent = [&](const ProgressEvent& e) {
        if (e.type != 4 || !refused.empty()) return;
        const size_t before = drive->trace().size();
        TVX_BurnOptions options = {TVX_MODE_WRITE, -1};
        refused.push_back(TVX_BurnVolumeData(other, &options, data.c_str(), "OTHER", nullptr, 0));
        refused.push_back(TVX_EraseDisc(other, 1, nullptr, 0));
        refused.push_back(TVX_BurnVolumeImage(other, &options, data.c_str(), nullptr, 0));
        commandsDuringRefusals = drive->trace().size() - before;
    };
    EXPECT_EQ(burnData(TVX_MODE_WRITE), TVX_OK);
    EXPECT_EQ(refused, std::vector<TVX_Result>(3, TVX_ERR_NOT_READY));
    EXPECT_EQ(commandsDuringRefusals, 0u);
    EXPECT_STREQ(other->lastError.description, "DRIVE IN USE BY ANOTHER WRITING JOB");
    EXPECT_EQ(other->lastError.senseLength, 0u);

    insertBlank(MediumKind::DvdPlusRw);
    TVX_BurnOptions options = {TVX_MODE_WRITE, -1};
    EXPECT_EQ(TVX_BurnVolumeData(other, &options, data.c_str(), "OTHER", nullptr, 0), TVX_OK);
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
    // Nothing to write but the old volume's structures, now zeros: the disc holds what the image
    // holds, no volume.
    EXPECT_EQ(countToken("WRITE"), 9u);
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
