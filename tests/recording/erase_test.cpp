// Erasing: BLANK on a DVD-RW, zeroing and closing on a formatted DVD+RW, and the erase wait.
#include "recording/engine.h"
#include "recording_fixture.h"
#include "volume_check.h"

#include <regex>

namespace tvx::test {
namespace {

using vdrive::FaultRule;
using vdrive::MediumKind;

class EraseTest : public RecordingTest {
  protected:
    // A DVD-RW that holds a closed recording.
    void insertUsedDvdRw() {
        insertBlank(MediumKind::DvdRwSequential);
        makeFile("data/a.bin", 5000);
        TVX_BurnOptions options = {TVX_MODE_WRITE, -1};
        ASSERT_EQ(
            TVX_BurnVolumeData(handle, &options, dir.file("data").c_str(), nullptr, nullptr, 0),
            TVX_OK);
        drive->closeTray();
        sim->virtualClock().advance(10000);
        drive->clearTrace();
    }
    void insertUsedPlusRw() {
        makeFile("data/a.bin", 5000);
        std::string image = dir.file("used.iso");
        ASSERT_GT(StreamPlanToFile(
                      "USED",
                      [&](VolumePlan* p) {
                          return Plan_AddFolderContents(p, dir.file("data").c_str()) != 0;
                      },
                      image),
                  0u);
        ASSERT_TRUE(drive->loadImage(image, MediumKind::DvdPlusRw));
        // A hybrid image's partition table in the system area, to be zeroed with the rest.
        const std::vector<uint8_t> table(2048, 0x55);
        ASSERT_TRUE(drive->writeBlocks(0, 1, table.data()));
        drive->clearTrace();
    }
    // The events after the erase began: type 7 only, the last one complete.
    void expectEraseEvents() {
        auto begin = std::find_if(log.events.begin(), log.events.end(),
                                  [](const ProgressEvent& e) { return e.type == 6; });
        ASSERT_NE(begin, log.events.end());
        const ProgressEvent* last7 = nullptr;
        for (auto it = begin + 1; it != log.events.end(); ++it) {
            if (it->type == 1) break;
            EXPECT_EQ(it->type, 7);
            EXPECT_EQ(it->total, 0x10000u);
            last7 = &*it;
        }
        ASSERT_NE(last7, nullptr);
        EXPECT_EQ(last7->value, 0x10000u);
    }
};

TEST_F(EraseTest, DvdRwQuickAndFull) {
    for (int quick : {1, 0}) {
        insertUsedDvdRw();
        log = EventLog();
        EXPECT_EQ(TVX_EraseDisc(handle, quick, callback(), logData()), TVX_OK);
        std::string trace = traceText();
        std::string engine = trace.substr(trace.find("TUR PREVENT1"));
        std::string blank = quick ? "BLANK1" : "BLANK0";
        EXPECT_TRUE(
            std::regex_match(engine, std::regex("TUR PREVENT1 START STREAM PERF PERF MSENSE "
                                                "SELECT MSENSE " +
                                                blank + " (TUR )+PREVENT0 ")))
            << engine;
        expectEraseEvents();
        EXPECT_FALSE(drive->trayOpen());
        TVX_DiscInfo disc;
        ASSERT_EQ(TVX_GetDiscInfo(handle, &disc), TVX_OK);
        EXPECT_EQ(disc.blank, 1u);
        drive->removeDisc();
    }
}

TEST_F(EraseTest, FormattedPlusRwIsZeroedAndClosed) {
    insertUsedPlusRw();
    TVX_DiscInfo disc;
    ASSERT_EQ(TVX_GetDiscInfo(handle, &disc), TVX_OK);
    ASSERT_EQ(disc.canErase, 1u);
    drive->clearTrace();
    EXPECT_EQ(TVX_EraseDisc(handle, 1, callback(), logData()), TVX_OK);
    std::string trace = traceText();
    std::string engine = trace.substr(trace.find("TUR PREVENT1"));
    EXPECT_TRUE(std::regex_match(
        engine,
        std::regex(
            "TUR PREVENT1 START STREAM PERF PERF MSENSE (SELECT (MSENSE )?)?RDI "
            "WRITE SYNCI (TUR )+(WRITE ){2}SYNCI (TUR )+(WRITE ){6}SYNCI CONFIG (CLOSE0/0 )+(SYNCI "
            "CONFIG (CLOSE0/0 )+)?(RCAP SENSE )*RCAP "
            "(TUR )+PREVENT0 ")))
        << engine;
    std::vector<uint8_t> blocks(272 * 2048);
    ASSERT_TRUE(drive->readBlocks(0, 272, blocks.data()));
    EXPECT_TRUE(std::all_of(blocks.begin(), blocks.end(), [](uint8_t b) { return b == 0; }));
    ASSERT_EQ(TVX_GetDiscInfo(handle, &disc), TVX_OK);
    EXPECT_EQ(disc.blank, 1u);
    expectEraseEvents();
}

TEST_F(EraseTest, OnlyErasableRewritableDiscs) {
    insertBlank(MediumKind::DvdR);
    EXPECT_EQ(TVX_EraseDisc(handle, 1, nullptr, 0), TVX_ERR_DISC_KIND);
    drive->removeDisc();
    insertBlank(MediumKind::DvdPlusRw); // blank: nothing to erase
    EXPECT_EQ(TVX_EraseDisc(handle, 1, nullptr, 0), TVX_ERR_DISC_KIND);
    drive->removeDisc();
    EXPECT_EQ(TVX_EraseDisc(handle, 1, nullptr, 0), TVX_ERR_NOT_READY);
}

TEST_F(EraseTest, WaitGivesUpAfter180sQuickAnd35MinutesFull) {
    for (int quick : {1, 0}) {
        insertUsedDvdRw();
        log = EventLog();
        // The drive never becomes ready once the erase has begun.
        log.onEvent = [&](const ProgressEvent& e) {
            if (e.type == 6) drive->addFault(FaultRule::SenseOn(0x00, 0x02, 0x04, 0x07));
        };
        uint64_t before = nowMs();
        EXPECT_EQ(TVX_EraseDisc(handle, quick, callback(), logData()), TVX_ERR_COMMAND);
        uint64_t took = nowMs() - before;
        uint64_t limit = quick ? 180000 : 2100000;
        EXPECT_GE(took, limit);
        EXPECT_LT(took, limit + 5000);
        EXPECT_EQ(handle->lastError.location, 962);
        EXPECT_STREQ(handle->lastError.description,
                     "LOGICAL UNIT NOT READY, OPERATION IN PROGRESS");
        expectEraseEvents();
        drive->clearFaults();
        drive->removeDisc();
    }
}

TEST_F(EraseTest, StopDuringTheWaitEndsItAtOnceWithAFinalCompleteEvent) {
    insertUsedDvdRw();
    log = EventLog();
    log.stopAtType = 7;
    uint64_t before = nowMs();
    EXPECT_EQ(TVX_EraseDisc(handle, 0, callback(), logData()), TVX_ERR_CANCELLED);
    EXPECT_LT(nowMs() - before, 5000u);
    expectEraseEvents();
    EXPECT_EQ(handle->rec.cancelled, 0);
    EXPECT_FALSE(drive->trayOpen());
}

TEST_F(EraseTest, PrepareAndBlankFailuresAreCommandFailures) {
    insertUsedDvdRw();
    drive->addFault(FaultRule::SenseOn(0x1E, 0x05, 0x24, 0x00, 1, 1));
    EXPECT_EQ(TVX_EraseDisc(handle, 1, nullptr, 0), TVX_ERR_COMMAND);
    EXPECT_EQ(handle->lastError.location, 296);
    EXPECT_TRUE(removalAllowedAtEnd());
    drive->clearFaults();
    drive->addFault(FaultRule::SenseOn(0xA1, 0x05, 0x24, 0x00));
    EXPECT_EQ(TVX_EraseDisc(handle, 1, nullptr, 0), TVX_ERR_COMMAND);
    EXPECT_EQ(handle->lastError.location, 942);
    EXPECT_TRUE(removalAllowedAtEnd());
}

} // namespace
} // namespace tvx::test
