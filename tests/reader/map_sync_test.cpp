// Writing mapped windows back to a recorded DVD+RW in the virtual recorder.
#include "platform/sim/sim_host.h"
#include "support/direct_transport.h"
#include "support/temp_dir.h"
#include "test_udf_image.h"
#include "torvexin.h"
#include "transport/job_lock.h"
#include "vdrive/virtual_recorder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>

namespace tvx::test {
namespace {

using vdrive::MediumKind;

class MapSyncTest : public ::testing::Test {
protected:
    void SetUp() override {
        TestNode split = TestNode::File("F.BIN", TestPattern(5 * 2048 + 100, 1));
        split.extentBytes = 4096; // extents of two blocks each
        volume_ = BuildTestVolume(TestNode::Dir("", {split}));
        const std::string image = temp_.file("d.img");
        std::ofstream(image, std::ios::binary)
            .write(reinterpret_cast<const char*>(volume_.image.data()),
                   static_cast<std::streamsize>(volume_.image.size()));
        ASSERT_TRUE(drive_.loadImage(image, MediumKind::DvdPlusRw));
        drive_.setTraceEnabled(true);
        handle_ = transport_.open(drive_);
        file_ = TVX_OpenFile(handle_, "/F.BIN");
        ASSERT_NE(file_, nullptr);
        dataSector_ = volume_.partitionStart + volume_.dataBlock["/F.BIN"];
    }
    void TearDown() override { TVX_CloseFile(file_); }

    std::string sectors(uint32_t lba, uint32_t count) {
        std::string out(count * 2048, '\0');
        EXPECT_TRUE(drive_.readBlocks(lba, count, reinterpret_cast<uint8_t*>(out.data())));
        return out;
    }
    bool closedAfterFlush() {
        const auto ops = drive_.traceOpcodes();
        auto sync = std::find(ops.begin(), ops.end(), 0x35);
        return sync != ops.end() && std::find(sync, ops.end(), 0x5B) != ops.end();
    }

    ScopedSimHost host_;
    DirectTransport transport_;
    TempDir temp_;
    vdrive::VirtualRecorder drive_{host_->virtualClock()};
    TestVolume volume_;
    RecHandle* handle_ = nullptr;
    TVX_DiscFile file_ = nullptr;
    uint32_t dataSector_ = 0;
};

TEST_F(MapSyncTest, PartitionWindowGoesBackWhereItCameFrom) {
    auto* data = static_cast<char*>(TVX_OpenMMap(file_, volume_.dataBlock["/F.BIN"], 2, 1));
    ASSERT_NE(data, nullptr);
    std::memset(data, 'P', 4096);
    drive_.clearTrace();
    EXPECT_EQ(TVX_SyncMMap(data), 1);
    EXPECT_TRUE(sectors(dataSector_, 2) == std::string(4096, 'P'));
    EXPECT_TRUE(closedAfterFlush());
    // Still open: changed and synchronised again.
    data[0] = 'Q';
    EXPECT_EQ(TVX_SyncMMap(data), 1);
    EXPECT_EQ(sectors(dataSector_, 1)[0], 'Q');
    EXPECT_EQ(TVX_CloseMMap(data), 1);
}

TEST_F(MapSyncTest, FileWindowGoesBackToItsOwnStartThroughTheExtents) {
    // Blocks 1-4 of the file: the second half of extent 1, extent 2, the first half of 3.
    auto* data = static_cast<char*>(TVX_OpenMMap(file_, 1, 4, 2));
    ASSERT_NE(data, nullptr);
    std::memset(data, 'W', 4 * 2048);
    EXPECT_EQ(TVX_SeekFile(file_, 10, 0, TVX_SEEK_SET), 10u);
    const std::string before = sectors(dataSector_, 8);
    EXPECT_EQ(TVX_SyncMMap(data), 1);
    EXPECT_EQ(TVX_SeekFile(file_, 0, 0, TVX_SEEK_CUR), 10u);
    const std::string after = sectors(dataSector_, 8);
    EXPECT_TRUE(after.substr(0, 2048) == before.substr(0, 2048));        // file block 0
    EXPECT_TRUE(after.substr(2048, 4 * 2048) == std::string(4 * 2048, 'W')); // blocks 1-4
    EXPECT_TRUE(after.substr(5 * 2048) == before.substr(5 * 2048));      // block 5 and beyond
    std::string read(4 * 2048, '\0');
    uint32_t n = 0;
    TVX_SeekFile(file_, 2048, 0, TVX_SEEK_SET);
    TVX_ReadFile(file_, read.data(), 4 * 2048, &n);
    EXPECT_TRUE(read == std::string(4 * 2048, 'W'));
}

TEST_F(MapSyncTest, FailedWriteStillFlushesAndCloses) {
    void* data = TVX_OpenMMap(file_, dataSector_, 1, 0);
    ASSERT_NE(data, nullptr);
    drive_.addFault(vdrive::FaultRule::SenseOn(0x2A, 3, 0x0C, 0x00)); // WRITE ERROR
    drive_.clearTrace();
    EXPECT_EQ(TVX_SyncMMap(data), 0);
    EXPECT_TRUE(closedAfterFlush());
}

// A window with a hole the drive could not read is never written back: its zeros are not data.
TEST_F(MapSyncTest, WindowWithAnUnreadSectorIsNotWrittenBack) {
    struct Case {
        uint32_t first, count, mode;
        uint32_t badSector; // absolute
    };
    const uint32_t block = volume_.dataBlock["/F.BIN"];
    // File blocks 0-5 across three extents, the third unreadable; and an absolute window whose
    // second read command fails.
    for (const Case& c : {Case{0, 6, 2, dataSector_ + 4}, Case{block, 3, 1, dataSector_ + 1},
                          Case{dataSector_ - 30, 34, 0, dataSector_ + 3}}) {
        SCOPED_TRACE(c.mode);
        vdrive::FaultRule bad = vdrive::FaultRule::SenseOn(0x28, 3, 0x11, 0x00);
        bad.useLbaRange = true;
        bad.lbaFirst = bad.lbaLast = c.badSector;
        drive_.addFault(bad);
        const uint32_t absolute = c.mode == 2 ? dataSector_ : c.mode == 1 ? dataSector_ : c.first;
        const std::string before = sectors(absolute, c.count);
        auto* data = static_cast<char*>(TVX_OpenMMap(file_, c.first, c.count, c.mode));
        drive_.clearFaults();
        if (data) {
            std::memset(data, 'X', 2048);
            drive_.clearTrace();
            EXPECT_EQ(TVX_SyncMMap(data), 0);
            EXPECT_TRUE(drive_.trace().empty()) << drive_.formatTrace();
            TVX_LastError error{};
            TVX_GetLastError(handle_, &error);
            EXPECT_EQ(error.location, 1107);
            EXPECT_EQ(TVX_CloseMMap(data), 1);
        }
        EXPECT_TRUE(sectors(absolute, c.count) == before);
    }
}

// Reads that fail while another job writes the disc are reported as the drive being busy.
TEST_F(MapSyncTest, OpeningWhileAnotherJobWritesSaysTheDriveIsBusy) {
    RecHandle* other = transport_.open(drive_);
    drive_.addFault(vdrive::FaultRule::SenseOn(0x28, 2, 0x04, 0x08)); // long write in progress
    {
        JobLock writing(handle_);
        ASSERT_TRUE(writing.held());
        EXPECT_EQ(TVX_OpenFile(other, "/F.BIN"), nullptr);
        TVX_LastError error{};
        TVX_GetLastError(other, &error);
        EXPECT_STREQ(error.description, kDriveInUseText);
    }
    EXPECT_EQ(TVX_OpenFile(other, "/F.BIN"), nullptr);
    TVX_LastError error{};
    TVX_GetLastError(other, &error);
    EXPECT_EQ(error.location, 1101); // no volume readable, and nobody writing
}

// A host on which a job lock cannot be made at all; it counts the attempts.
class BrokenJobLockHost : public SimHost {
  public:
    LockAttempt tryJobLock(const std::string&, HostHandle&) override {
        ++attempts;
        return LockAttempt::Failed;
    }
    int attempts = 0;
};

// A failed open only looks at the job lock; a lock that cannot be made writes no log line.
TEST_F(MapSyncTest, ReadersNeverTakeTheJobLockAndAFailedLockWritesNoLog) {
    BrokenJobLockHost broken;
    broken.setTempDirectory(temp_.mkdir("log") + "/");
    setHost(&broken);
    EXPECT_EQ(TVX_OpenFile(handle_, "/MISSING.BIN"), nullptr);
    EXPECT_EQ(broken.attempts, 0);
    EXPECT_EQ(handle_->lastError.location, 1102);
    EXPECT_EQ(TVX_EraseDisc(handle_, 1, nullptr, 0), TVX_ERR_NOT_READY);
    setHost(&*host_);
    EXPECT_EQ(broken.attempts, 1);
    EXPECT_EQ(handle_->lastError.location, 1011);
    EXPECT_FALSE(std::ifstream(temp_.file("log/Torvexin.log")).good());
}

} // namespace
} // namespace tvx::test
