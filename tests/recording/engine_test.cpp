// The engine's data path, progress and waits, driven step by step against the virtual recorder.
#include "recording/engine.h"
#include "recording/job_support.h"
#include "recording_fixture.h"

#include <cstring>

namespace tvx::test {
namespace {

using vdrive::FaultRule;
using vdrive::MediumKind;

class EngineTest : public RecordingTest {
  protected:
    using RecordingTest::RecordingTest;

    // Disc read, buffer attached and the drive prepared.
    void prepare(MediumKind kind, int32_t mode = TVX_MODE_WRITE) {
        insertBlank(kind);
        handle->rec.callback = callback();
        handle->rec.userData = logData();
        ASSERT_EQ(TVX_GetDiscInfo(handle, &handle->discInfo), TVX_OK);
        buffer = std::make_unique<TransferBuffer>(handle);
        TVX_BurnOptions options = {mode, -1};
        ASSERT_TRUE(Rec_Prepare(handle, &options));
    }
    // ... and the track begun.
    void begin(MediumKind kind, uint32_t blocks, int32_t mode = TVX_MODE_WRITE) {
        prepare(kind, mode);
        ASSERT_TRUE(Rec_BeginTrack(handle, 1, blocks, kBlockSize));
        start = drive->trace().size();
    }

    std::vector<const vdrive::TraceEntry*> writes() const {
        std::vector<const vdrive::TraceEntry*> list;
        for (const auto& e : drive->trace())
            if (e.opcode() == 0x2A) list.push_back(&e);
        return list;
    }
    static uint32_t LbaOf(const vdrive::TraceEntry* e) {
        return uint32_t{e->cdb[2]} << 24 | e->cdb[3] << 16 | e->cdb[4] << 8 | e->cdb[5];
    }
    static uint32_t BlocksOf(const vdrive::TraceEntry* e) { return e->cdb[7] << 8 | e->cdb[8]; }

    std::vector<uint8_t> block(uint32_t lba) {
        std::vector<uint8_t> data(kBlockSize);
        EXPECT_TRUE(drive->readBlocks(lba, 1, data.data()));
        return data;
    }

    std::unique_ptr<TransferBuffer> buffer;
    size_t start = 0;
};

TEST_F(EngineTest, AppendsArePaddedToWholeBlocksAndFlushedOnce) {
    begin(MediumKind::DvdPlusR, 2);
    std::string a(100, 'a'), b(100, 'b');
    ASSERT_TRUE(Rec_WriteBytes(handle, a.data(), 100));
    ASSERT_TRUE(Rec_WriteBytes(handle, b.data(), 100));
    EXPECT_EQ(handle->rec.bufferFill, 2 * kBlockSize);
    EXPECT_TRUE(writes().empty());
    ASSERT_TRUE(Rec_FlushAndSync(handle));
    ASSERT_TRUE(Rec_FlushAndSync(handle));
    auto list = writes();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(BlocksOf(list[0]), 2u);
    std::vector<uint8_t> first = block(0), second = block(1);
    std::vector<uint8_t> expectA(kBlockSize, 0), expectB(kBlockSize, 0);
    std::memset(expectA.data(), 'a', 100);
    std::memset(expectB.data(), 'b', 100);
    EXPECT_EQ(first, expectA);
    EXPECT_EQ(second, expectB);
}

TEST_F(EngineTest, FileOfOneChunkAndAHundredBytesGoesAsFullChunkThenOneBlock) {
    begin(MediumKind::DvdR, 33);
    std::string path = makeFile("f.bin", 65536 + 100);
    auto file = host().openFile(path, FileAccess::Read);
    ASSERT_TRUE(file);
    ASSERT_TRUE(Rec_WriteFile(handle, *file));
    ASSERT_EQ(writes().size(), 1u);
    EXPECT_EQ(BlocksOf(writes()[0]), 32u);
    EXPECT_EQ(LbaOf(writes()[0]), 0u);
    ASSERT_TRUE(Rec_FlushAndSync(handle));
    auto list = writes();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(BlocksOf(list[1]), 1u);
    EXPECT_EQ(LbaOf(list[1]), 32u);
    std::string content = ReadWholeFile(path);
    std::vector<uint8_t> last = block(32);
    EXPECT_EQ(std::memcmp(last.data(), content.data() + 65536, 100), 0);
    EXPECT_TRUE(std::all_of(last.begin() + 100, last.end(), [](uint8_t v) { return v == 0; }));
}

TEST_F(EngineTest, ExactlyFullBufferLeavesNothingForTheFlush) {
    begin(MediumKind::DvdPlusRw, 32);
    std::vector<uint8_t> data(65536, 0x5A);
    ASSERT_TRUE(Rec_WriteBytes(handle, data.data(), 65536));
    EXPECT_EQ(handle->rec.bufferFill, 0u);
    EXPECT_EQ(handle->rec.nextAddress, handle->rec.trackStart + 32);
    ASSERT_TRUE(Rec_FlushAndSync(handle));
    EXPECT_EQ(writes().size(), 1u);
}

TEST_F(EngineTest, PaddingThatCompletesTheBufferSendsItBeforeTheNextAppend) {
    begin(MediumKind::DvdPlusR, 34);
    std::vector<uint8_t> data(31 * kBlockSize, 0x11);
    ASSERT_TRUE(Rec_WriteBytes(handle, data.data(), static_cast<uint32_t>(data.size())));
    std::string a(100, 'a'), b(100, 'b');
    ASSERT_TRUE(Rec_WriteBytes(handle, a.data(), 100));
    ASSERT_TRUE(Rec_WriteBytes(handle, b.data(), 100));
    ASSERT_EQ(writes().size(), 1u);
    EXPECT_EQ(BlocksOf(writes()[0]), 32u);
    ASSERT_TRUE(Rec_FlushAndSync(handle));
    ASSERT_EQ(writes().size(), 2u);
    EXPECT_EQ(LbaOf(writes()[1]), 32u);
    EXPECT_EQ(block(31)[0], 'a');
    EXPECT_EQ(block(32)[0], 'b');
    EXPECT_EQ(block(32)[100], 0);
}

TEST_F(EngineTest, DashMediaReportAtLeast80000hBlocksPlusMediaTheTrackSize) {
    begin(MediumKind::DvdR, 1000);
    EXPECT_EQ(handle->rec.progressTotal, 0x80000u);
    // The track-size event carries a pair of zeros; the write events carry the padded total.
    ASSERT_NE(log.last(), nullptr);
    EXPECT_EQ(log.last()->type, 3);
    EXPECT_EQ(log.last()->value, 0u);
    EXPECT_EQ(log.last()->total, 0u);
    std::vector<uint8_t> data(65536, 1);
    ASSERT_TRUE(Rec_WriteBytes(handle, data.data(), 65536));
    ASSERT_NE(log.last(), nullptr);
    EXPECT_EQ(log.last()->type, 4);
    EXPECT_EQ(log.last()->value, 0u);
    EXPECT_EQ(log.last()->total, 0x80000u);

    drive->removeDisc();
    buffer.reset();
    log.events.clear();
    begin(MediumKind::DvdPlusR, 1000);
    EXPECT_EQ(handle->rec.progressTotal, 1000u);
    // Types 2 and 3 carry zeros.
    ASSERT_GE(log.events.size(), 2u);
    EXPECT_EQ(log.events[log.events.size() - 2].type, 2);
    EXPECT_EQ(log.events[log.events.size() - 2].total, 0u);
    EXPECT_EQ(log.events[log.events.size() - 1].type, 3);
    EXPECT_EQ(log.events[log.events.size() - 1].value, 0u);
    EXPECT_EQ(log.events[log.events.size() - 1].total, 0u);
}

TEST_F(EngineTest, BusyWriteIsSentAgainAfter50msUntilAccepted) {
    begin(MediumKind::DvdPlusR, 64);
    drive->addFault(FaultRule::SenseOn(0x2A, 0x02, 0x04, 0x08, 0, 3));
    uint64_t before = nowMs();
    std::vector<uint8_t> data(65536, 7);
    ASSERT_TRUE(Rec_WriteBytes(handle, data.data(), 65536));
    auto list = writes();
    ASSERT_EQ(list.size(), 4u);
    for (auto* e : list)
        EXPECT_EQ(LbaOf(e), 0u);
    EXPECT_EQ(log.count(4), 1);
    EXPECT_GE(nowMs() - before, 150u);
    EXPECT_EQ(handle->rec.nextAddress, 32u);
    // Any other refusal of a write is recorded and ends the write.
    drive->addFault(FaultRule::SenseOn(0x2A, 0x03, 0x0C, 0x00, 0, 1));
    EXPECT_FALSE(Rec_WriteBytes(handle, data.data(), 65536));
    EXPECT_EQ(handle->lastError.location, 521);
    EXPECT_EQ(handle->lastError.senseKey, 3);
}

TEST_F(EngineTest, DriveThatStaysBusyForHalfAnHourFailsTheWrite) {
    begin(MediumKind::DvdPlusR, 64);
    drive->setTraceEnabled(false);
    drive->addFault(FaultRule::SenseOn(0x2A, 0x02, 0x04, 0x08));
    uint64_t before = nowMs();
    std::vector<uint8_t> data(65536, 7);
    EXPECT_FALSE(Rec_WriteBytes(handle, data.data(), 65536));
    uint64_t took = nowMs() - before;
    EXPECT_GE(took, 1800000u);
    EXPECT_LT(took, 1801000u);
    EXPECT_EQ(handle->lastError.location, 521);
    EXPECT_EQ(handle->rec.nextAddress, 0u);
}

TEST_F(EngineTest, StopAtFirstWriteEventSendsNoWriteAndClosesPlusRwWithFunctionZero) {
    begin(MediumKind::DvdPlusRw, 64);
    log.stopAtType = 4;
    std::vector<uint8_t> data(65536, 7);
    EXPECT_FALSE(Rec_WriteBytes(handle, data.data(), 65536));
    EXPECT_TRUE(writes().empty());
    EXPECT_EQ(handle->rec.cancelled, 1);
    Rec_CloseSession(handle, 1);
    EXPECT_NE(traceText(start).find("CLOSE0/0"), std::string::npos) << traceText(start);
}

TEST_F(EngineTest, SuccessfulTestWriteStaysInTheDriveAStoppedOneIsEjected) {
    begin(MediumKind::DvdR, 16, TVX_MODE_TEST_WRITE);
    ASSERT_TRUE(Rec_Finish(handle));
    EXPECT_EQ(traceText(start).find("EJECT"), std::string::npos);
    EXPECT_NE(traceText(start).find("MSENSE SELECT MSENSE PREVENT0"), std::string::npos);
    EXPECT_TRUE(drive->hasDisc() && !drive->trayOpen());

    handle->rec.cancelled = 1;
    size_t mark = drive->trace().size();
    ASSERT_TRUE(Rec_Finish(handle));
    EXPECT_NE(traceText(mark).find("EJECTI"), std::string::npos);
    EXPECT_TRUE(drive->trayOpen());
}

// A whole file is taken only when it yields exactly the bytes its size said: one that yields
// nothing, fewer (shrank within its last block) or more (grew) fails, and never puts more than
// its measured blocks into the buffer, which would shift every sector after it.
TEST_F(EngineTest, WholeFileMustYieldExactlyItsSize) {
    class FakeFile : public HostFile {
      public:
        explicit FakeFile(uint64_t holds) : left_(holds) {}
        uint32_t read(void* buffer, uint32_t count) override {
            uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(count, left_));
            std::memset(buffer, 'g', n);
            left_ -= n;
            return n;
        }
        uint32_t write(const void*, uint32_t) override { return 0; }
        uint64_t size() override { return 3000; }
        bool seek(uint64_t) override { return true; }

      private:
        uint64_t left_;
    };
    const struct {
        uint64_t holds;
        bool taken;
    } cases[] = {{3000, true}, {0, false}, {2500, false}, {3001, false}, {1u << 20, false}};
    begin(MediumKind::DvdPlusR, 5);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.holds);
        handle->rec.bufferFill = 0; // each case from an empty buffer
        FakeFile file(c.holds);
        EXPECT_EQ(Rec_WriteFile(handle, file) != 0, c.taken);
        EXPECT_LE(handle->rec.bufferFill, 2 * kBlockSize);
        if (c.taken) {
            EXPECT_EQ(handle->rec.buffer[3000], 0);
        }
    }
}

// The waits end at their stated virtual times when the drive never becomes ready.
TEST_F(EngineTest, WaitsGiveUpAtTheirLimits) {
    begin(MediumKind::DvdPlusR, 16);
    drive->addFault(FaultRule::SenseOn(0x00, 0x02, 0x04, 0x08));
    uint64_t before = nowMs();
    EXPECT_FALSE(Rec_FlushAndSync(handle));
    uint64_t flushWait = nowMs() - before;
    EXPECT_GE(flushWait, 3600000u);
    EXPECT_LT(flushWait, 3602000u);
    EXPECT_EQ(handle->lastError.location, 715);
    EXPECT_EQ(handle->lastError.asc, 0x04);
    EXPECT_EQ(handle->lastError.ascq, 0x08);
}

TEST_F(EngineTest, PlusRwCloseWithoutAJobShowsTheDrivesOwnProgressAndGivesUpAfterAnHour) {
    begin(MediumKind::DvdPlusRw, 32);
    buffer.reset(); // as after a job: the mapped-window path
    handle->rec.progressTotal = 0;
    drive->addFault(FaultRule::SenseOn(0x25, 0x02, 0x04, 0x07));
    log.events.clear();
    uint64_t before = nowMs();
    EXPECT_FALSE(Rec_CloseAndWait(handle, 2));
    uint64_t took = nowMs() - before;
    EXPECT_GE(took, 3600000u);
    EXPECT_LT(took, 3602000u);
    EXPECT_EQ(handle->lastError.location, 239);
    ASSERT_FALSE(log.events.empty());
    for (const auto& e : log.events) {
        EXPECT_EQ(e.type, 7);
        EXPECT_EQ(e.total, 0x10000u);
        EXPECT_LE(e.value, 0x10000u);
    }
    EXPECT_NE(traceText(start).find("CLOSE2/0"), std::string::npos);
}

// Every wait reports at least once a second, ends at once when the host stops it, and ends at
// once when the drive says there is no medium.
TEST_F(EngineTest, EveryWaitIsWatchedAndEndsOnAStopOrWithoutMedium) {
    struct Row {
        const char* what;
        MediumKind kind;
        uint8_t poll; // the command the wait polls with
        int (*run)(RecHandle*);
    };
    const Row rows[] = {
        {"flush", MediumKind::DvdPlusR, 0x00, &Rec_FlushAndSync},
        {"close track", MediumKind::DvdPlusR, 0x25,
         [](RecHandle* h) { return Rec_CloseTrack(h, 1); }},
        {"DVD+RW close", MediumKind::DvdPlusRw, 0x25,
         [](RecHandle* h) { return Rec_CloseSession(h, 1); }},
        // The track begins whatever the format start gave; its wait is what counts here.
        {"format start", MediumKind::DvdPlusRw, 0x00,
         [](RecHandle* h) { return Rec_BeginTrack(h, 1, 2, kBlockSize); }},
    };
    for (const Row& row : rows) {
        for (bool stop : {false, true}) {
            SCOPED_TRACE(std::string(row.what) + (stop ? ", stopped" : ", no medium"));
            buffer.reset();
            drive = std::make_unique<vdrive::VirtualRecorder>(sim->virtualClock(),
                                                              vdrive::DriveModel::Default());
            handle = transport.open(*drive);
            if (row.poll == 0x00 && row.kind == MediumKind::DvdPlusRw)
                prepare(row.kind);
            else
                begin(row.kind, 2);
            log = EventLog();
            log.stopAtType = stop ? TVX_EVENT_WAIT : -1;
            drive->addFault(stop ? FaultRule::SenseOn(row.poll, 0x02, 0x04, 0x07)
                                 : FaultRule::SenseOn(row.poll, 0x02, 0x3A, 0x00));
            const uint64_t before = nowMs();
            row.run(handle);
            EXPECT_LT(nowMs() - before, 3000u);
            if (stop) {
                EXPECT_EQ(handle->rec.cancelled, 1);
                EXPECT_EQ(log.count(TVX_EVENT_WAIT), 1);
            } else {
                EXPECT_EQ(handle->lastError.asc, 0x3A);
            }
            handle->rec.cancelled = 0;
        }
    }
}

TEST_F(EngineTest, BackgroundFormatThatNeverGetsReadyGivesUpAfter5MinutesTrackStillBegins) {
    insertBlank(MediumKind::DvdPlusRw);
    ASSERT_EQ(TVX_GetDiscInfo(handle, &handle->discInfo), TVX_OK);
    buffer = std::make_unique<TransferBuffer>(handle);
    TVX_BurnOptions options = {TVX_MODE_WRITE, -1};
    ASSERT_TRUE(Rec_Prepare(handle, &options));
    drive->addFault(FaultRule::SenseOn(0x00, 0x02, 0x04, 0x04));
    uint64_t before = nowMs();
    EXPECT_TRUE(Rec_BeginTrack(handle, 1, 64, kBlockSize));
    uint64_t took = nowMs() - before;
    EXPECT_GE(took, 300000u);
    EXPECT_LT(took, 302000u);
    EXPECT_EQ(handle->lastError.location, 454);
    EXPECT_NE(traceText().find("FORMAT TUR SENSE TUR SENSE"), std::string::npos);
}

// A CLOSE the drive refused is not sent again; one it was too busy to start is.
TEST_F(EngineTest, OnlyACloseTheDriveDidNotStartIsSentAgain) {
    begin(MediumKind::DvdPlusR, 32);
    drive->addFault(FaultRule::SenseOn(0x5B, 0x05, 0x24, 0x00, 1, 1));
    EXPECT_FALSE(Rec_CloseTrack(handle, 1));
    EXPECT_EQ(countToken("CLOSE1/1"), 1u);
    EXPECT_EQ(handle->lastError.location, 772);
    drive->clearTrace();
    drive->addFault(FaultRule::SenseOn(0x5B, 0x02, 0x04, 0x08, 0, 2));
    EXPECT_TRUE(Rec_CloseTrack(handle, 1));
    EXPECT_EQ(countToken("CLOSE1/1"), 3u);
}

TEST_F(EngineTest, EjectLoopGivesUpAfterAMinute) {
    begin(MediumKind::DvdPlusR, 32);
    drive->addFault(FaultRule::SenseOn(0x1B, 0x02, 0x53, 0x02));
    uint64_t before = nowMs();
    EXPECT_FALSE(Rec_Finish(handle));
    uint64_t took = nowMs() - before;
    EXPECT_GE(took, 60000u);
    EXPECT_LT(took, 62000u);
    EXPECT_EQ(handle->lastError.location, 866);
    EXPECT_STREQ(handle->lastError.description, "MEDIUM REMOVAL PREVENTED");
}

class SonyEngineTest : public EngineTest {
  protected:
    SonyEngineTest() : EngineTest(vdrive::DriveModel::SonyDvdRw()) {}
    uint32_t reserved() const {
        for (const auto& e : drive->trace())
            if (e.opcode() == 0x53)
                return uint32_t{e.cdb[5]} << 24 | e.cdb[6] << 16 | e.cdb[7] << 8 | e.cdb[8];
        return 0;
    }
};

TEST_F(SonyEngineTest, TestWriteReservesSixteenBlocksMore) {
    begin(MediumKind::DvdR, 1000, TVX_MODE_TEST_WRITE);
    EXPECT_EQ(reserved(), 1016u);
    drive->clearTrace();
    buffer.reset();
    begin(MediumKind::DvdR, 1000, TVX_MODE_WRITE);
    EXPECT_EQ(reserved(), 1000u);
}

} // namespace
} // namespace tvx::test
