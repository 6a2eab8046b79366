// The drive and disc queries against hand-made drives.
#include "frame/library_state.h"
#include "mmc/commands.h"
#include "scripted_drive.h"
#include "support/direct_transport.h"
#include "support/temp_dir.h"

#include "torvexin.h"

#include <gtest/gtest.h>

#include <cstring>

namespace tvx {
namespace {

using test::Be16;
using test::Be32;
using test::ScriptedDrive;
using test::ScriptedReply;

constexpr uint32_t kDvdBlocks = 2295104;

std::vector<uint8_t> Profiles(uint16_t current, const std::vector<uint16_t>& list) {
    std::vector<uint8_t> a(12 + 4 * list.size());
    Be32(a, 0, static_cast<uint32_t>(a.size() - 4));
    Be16(a, 6, current);
    a[10] = 0x03;
    a[11] = static_cast<uint8_t>(4 * list.size());
    for (std::size_t i = 0; i < list.size(); ++i) {
        Be16(a, 12 + 4 * i, list[i]);
        a[14 + 4 * i] = list[i] == current ? 1 : 0;
    }
    return a;
}

// READ DISC INFORMATION: erasable bit, last session state, disc status, last track.
std::vector<uint8_t> DiscInfo(bool erasable, uint8_t session, uint8_t status, uint8_t lastTrack) {
    std::vector<uint8_t> a(34);
    Be16(a, 0, 32);
    a[2] = static_cast<uint8_t>((erasable ? 0x10 : 0) | session << 2 | status);
    a[3] = 1;
    a[4] = 1;
    a[5] = lastTrack;
    a[6] = lastTrack;
    return a;
}

struct Track {
    uint32_t start = 0, nextWritable = 0, free = 0, size = 0, lastRecorded = 0;
    bool nwaValid = false, lraValid = false, blank = false;
};

std::vector<uint8_t> TrackInfo(const Track& t) {
    std::vector<uint8_t> a(36);
    Be16(a, 0, 34);
    a[2] = 1;
    a[3] = 1;
    a[5] = 0x04;
    a[6] = static_cast<uint8_t>((t.blank ? 0x40 : 0) | 0x01);
    a[7] = static_cast<uint8_t>((t.lraValid ? 2 : 0) | (t.nwaValid ? 1 : 0));
    Be32(a, 8, t.start);
    Be32(a, 12, t.nextWritable);
    Be32(a, 16, t.free);
    Be32(a, 24, t.size);
    Be32(a, 28, t.lastRecorded);
    return a;
}

std::vector<uint8_t> FormatCapacities(uint32_t current, uint32_t formattable) {
    std::vector<uint8_t> a(4 + 16);
    a[3] = formattable ? 16 : 8;
    Be32(a, 4, current);
    a[8] = 0x02;
    Be16(a, 10, 2048);
    Be32(a, 12, formattable);
    a[16] = 0x26 << 2;
    return a;
}

class QueriesTest : public ::testing::Test {
  protected:
    test::ScopedSimHost sim; // the drive's "becoming ready" waits take virtual time
    test::DirectTransport transport;
    ScriptedDrive drive;
    RecHandle* h = transport.open(drive);

    void SetUp() override {
        drive.good(0x00);
        drive.good(0xB6);
    }

    // Disc structure answers: one layer or two, data start and end (or layer 0 end).
    void physical(uint8_t layers, uint32_t start, uint32_t end, uint8_t protection = 0) {
        drive.on(0xAD, [=](const test::ReceivedCommand& c) {
            std::vector<uint8_t> a(20);
            if (c.cdb[7] == 0) {
                a[6] = static_cast<uint8_t>((layers - 1) << 5);
                Be32(a, 8, start);
                Be32(a, layers == 1 ? 12 : 16, end);
            } else {
                a[4] = protection;
            }
            return ScriptedReply::Data(a);
        });
    }

    void dvdPlusRw(bool fileSystem, bool block16Readable = true) {
        drive.answer(0x46, Profiles(0x001A, {0x001A, 0x001B, 0x0011}));
        drive.answer(0x51, DiscInfo(true, 3, 2, 1)); // formatted: complete
        drive.answer(0x52, TrackInfo({0, 0, 0, kDvdBlocks, kDvdBlocks - 1, false, true}));
        drive.answer(0x23, FormatCapacities(kDvdBlocks, kDvdBlocks - 16));
        drive.on(0x28, [=](const test::ReceivedCommand& c) {
            const uint32_t lba =
                uint32_t{c.cdb[2]} << 24 | c.cdb[3] << 16 | c.cdb[4] << 8 | c.cdb[5];
            if (lba == 16 && !block16Readable) return ScriptedReply::Sense(0x03, 0x11, 0x00);
            std::vector<uint8_t> block(2048);
            if (fileSystem && lba == 17) std::memcpy(block.data() + 1, "BEA01", 5);
            return ScriptedReply::Data(block);
        });
        physical(1, 0x30000, 0x30000 + kDvdBlocks - 1);
    }
};

TEST_F(QueriesTest, BlankDvdR) {
    drive.answer(0x46, Profiles(0x0011, {0x0011, 0x001B}));
    drive.answer(0x51, DiscInfo(false, 0, 0, 1));
    drive.answer(0x52, TrackInfo({0, 0, kDvdBlocks, kDvdBlocks, 0, true, false, true}));
    physical(1, 0x30000, 0x30000 + kDvdBlocks - 1, 0);
    TVX_DiscInfo info;
    std::memset(&info, 0xAB, sizeof info);
    ASSERT_EQ(TVX_GetDiscInfo(h, &info), TVX_OK);
    EXPECT_EQ(info.mediaType, 0x0020u);
    EXPECT_EQ(info.blank, 1u);
    EXPECT_EQ(info.canErase, 0u);
    EXPECT_EQ(info.appendable, 1u);
    EXPECT_EQ(info.usedBlocks, 0u);
    EXPECT_EQ(info.freeBlocks, kDvdBlocks);
    EXPECT_EQ(info.capacityBlocks, kDvdBlocks);
    EXPECT_EQ(info.blockSize, 2048u);
    EXPECT_EQ(info.protectionSystem, 0);
    EXPECT_EQ(info.reserved[0] | info.reserved[1] | info.reserved[2], 0);
    // Track number asked for: the last track in the last session.
    EXPECT_EQ(drive.receivedOf(0x52).at(0).cdb[5], 1);
}

TEST_F(QueriesTest, FinalisedDvdR) {
    drive.answer(0x46, Profiles(0x0011, {0x0011}));
    drive.answer(0x51, DiscInfo(false, 3, 2, 1));
    drive.answer(0x52, TrackInfo({0, 0, 0, 120000, 119999, false, true}));
    physical(1, 0x30000, 0x30000 + 119999, 1);
    TVX_DiscInfo info;
    ASSERT_EQ(TVX_GetDiscInfo(h, &info), TVX_OK);
    EXPECT_EQ(info.blank, 0u);
    EXPECT_EQ(info.appendable, 0u);
    EXPECT_EQ(info.canErase, 0u);
    EXPECT_EQ(info.usedBlocks, 120000u);
    EXPECT_EQ(info.freeBlocks, 0u);
    EXPECT_EQ(info.capacityBlocks, 120000u);
    EXPECT_EQ(info.protectionSystem, 1);
}

TEST_F(QueriesTest, TrackStartingInThePregapCountsFromItsSignedAddress) {
    // CDEmu reports a CD's first track from its pregap: start -150, size 150 blocks more.
    drive.answer(0x46, Profiles(0x0008, {0x0008}));
    drive.answer(0x51, DiscInfo(false, 3, 2, 1));
    drive.answer(0x52, TrackInfo({0xFFFFFF6Au, 0, 0, 475 + 150, 0, false, false}));
    drive.fail(0xAD, 0x05, 0x24, 0x00);
    TVX_DiscInfo info;
    ASSERT_EQ(TVX_GetDiscInfo(h, &info), TVX_OK);
    EXPECT_EQ(info.usedBlocks, 475u);
    EXPECT_EQ(info.capacityBlocks, 475u);
}

TEST_F(QueriesTest, FinalisedDiscOnADriveWithoutTrackInformationUsesItsCapacity) {
    // A read-only drive that refuses READ TRACK INFORMATION (and reports data start 0).
    drive.answer(0x46, Profiles(0x0010, {0x0010, 0x0008}));
    drive.answer(0x51, DiscInfo(false, 3, 2, 1));
    drive.fail(0x52, 0x05, 0x20, 0x00);
    drive.answer(0x25, {0x00, 0x06, 0x1A, 0x7F, 0x00, 0x00, 0x08, 0x00}); // last LBA 399999
    physical(1, 0, 399999);
    TVX_DiscInfo info;
    ASSERT_EQ(TVX_GetDiscInfo(h, &info), TVX_OK);
    EXPECT_EQ(info.mediaType, 0x0010u);
    EXPECT_EQ(info.usedBlocks, 400000u);
    EXPECT_EQ(info.freeBlocks, 0u);
    EXPECT_EQ(info.capacityBlocks, 400000u);

    // An open disc gets no such estimate: its free space is unknown.
    drive.answer(0x51, DiscInfo(false, 1, 1, 1));
    ASSERT_EQ(TVX_GetDiscInfo(h, &info), TVX_OK);
    EXPECT_EQ(info.usedBlocks, 0u);
}

TEST_F(QueriesTest, EmptyDvdPlusRwIsBlankWhateverTheDriveSays) {
    dvdPlusRw(false);
    TVX_DiscInfo info;
    ASSERT_EQ(TVX_GetDiscInfo(h, &info), TVX_OK);
    EXPECT_EQ(info.mediaType, 0x0200u);
    EXPECT_EQ(info.blank, 1u);
    EXPECT_EQ(info.canErase, 0u);
    EXPECT_EQ(info.appendable, 1u);
    EXPECT_EQ(info.freeBlocks, kDvdBlocks - 16);
    EXPECT_EQ(info.usedBlocks, 0u);
    EXPECT_EQ(info.capacityBlocks, kDvdBlocks - 16);
    // Every block from 16 to 31 was looked at, one at a time.
    auto reads = drive.receivedOf(0x28);
    ASSERT_EQ(reads.size(), 16u);
    EXPECT_EQ(reads[0].cdb[5], 16);
    EXPECT_EQ(reads[15].cdb[5], 31);
    EXPECT_EQ(reads[0].cdb[8], 1);
    EXPECT_EQ(reads[0].byteCount, 2048u);
}

TEST_F(QueriesTest, DvdPlusRwWithAFileSystemIsAppendableOnlyInExtendedMode) {
    dvdPlusRw(true);
    const int32_t saved = ExtendedMode;
    for (int32_t mode : {0, 1}) {
        ExtendedMode = mode;
        TVX_DiscInfo info;
        ASSERT_EQ(TVX_GetDiscInfo(h, &info), TVX_OK);
        EXPECT_EQ(info.blank, 0u);
        EXPECT_EQ(info.canErase, 1u);
        EXPECT_EQ(info.appendable, static_cast<uint32_t>(mode));
        EXPECT_EQ(info.freeBlocks, 0u);
        EXPECT_EQ(info.usedBlocks, kDvdBlocks);
        EXPECT_EQ(info.capacityBlocks, kDvdBlocks);
    }
    ExtendedMode = saved;
    // The check ended at the first block with content.
    EXPECT_EQ(drive.receivedOf(0x28).size(), 4u);
}

TEST_F(QueriesTest, DvdPlusRwWhoseBlock16CannotBeReadCountsAsEmpty) {
    dvdPlusRw(true, false);
    TVX_DiscInfo info;
    ASSERT_EQ(TVX_GetDiscInfo(h, &info), TVX_OK);
    EXPECT_EQ(info.blank, 1u);
    EXPECT_EQ(drive.receivedOf(0x28).size(), 1u);
}

TEST_F(QueriesTest, DualLayerDiscWithoutTrackCapacityCountsTwiceItsLayerZero) {
    drive.answer(0x46, Profiles(0x002B, {0x002B}));
    drive.answer(0x51, DiscInfo(false, 0, 0, 1));
    drive.fail(0x52, 0x05, 0x24, 0x00);
    physical(2, 0x30000, 0x30000 + 2000 - 1);
    TVX_DiscInfo info;
    ASSERT_EQ(TVX_GetDiscInfo(h, &info), TVX_OK);
    EXPECT_EQ(info.mediaType, 0x0400u);
    EXPECT_EQ(info.freeBlocks, 0u);
    EXPECT_EQ(info.capacityBlocks, 4000u);
    // A failed track query is not recorded.
    EXPECT_EQ(h->lastError.location, 0);

    // Addresses that make no sense give no capacity.
    physical(1, 0x40000, 0x30000);
    ASSERT_EQ(TVX_GetDiscInfo(h, &info), TVX_OK);
    EXPECT_EQ(info.capacityBlocks, 0u);
}

TEST_F(QueriesTest, DvdRwIsLimitedByItsFormattableCapacity) {
    drive.answer(0x46, Profiles(0x0014, {0x0013, 0x0014}));
    drive.answer(0x51, DiscInfo(true, 0, 0, 1));
    drive.answer(0x52, TrackInfo({0, 0, 5000, 5000, 0, true, false, true}));
    drive.answer(0x23, FormatCapacities(5000, 4000));
    TVX_DiscInfo info;
    ASSERT_EQ(TVX_GetDiscInfo(h, &info), TVX_OK);
    EXPECT_EQ(info.mediaType, 0x0040u);
    EXPECT_EQ(info.capacityBlocks, 4000u);
    EXPECT_EQ(info.freeBlocks, 4000u);
    EXPECT_EQ(info.canErase, 0u);
}

TEST_F(QueriesTest, EmptyDriveLeavesTheRecordAlone) {
    drive.fail(0x00, 0x02, 0x3A, 0x00);
    TVX_DiscInfo info;
    std::memset(&info, 0x5A, sizeof info);
    TVX_DiscInfo before = info;
    EXPECT_EQ(TVX_GetDiscInfo(h, &info), TVX_ERR_NOT_READY);
    EXPECT_EQ(std::memcmp(&info, &before, sizeof info), 0);
    EXPECT_EQ(h->lastError.location, 0); // not recorded
    EXPECT_EQ(TVX_GetDiscInfo(h, nullptr), TVX_ERR_INVALID_ARG);
    EXPECT_EQ(TVX_TestReady(h), 0);
}

TEST_F(QueriesTest, FailedRequiredQueriesAreRecorded) {
    drive.fail(0x46, 0x05, 0x20, 0x00);
    TVX_DiscInfo info;
    EXPECT_EQ(TVX_GetDiscInfo(h, &info), TVX_ERR_COMMAND);
    EXPECT_EQ(h->lastError.location, 204);
    EXPECT_EQ(h->lastError.cdb[0], 0x46);

    drive.answer(0x46, Profiles(0x0011, {0x0011}));
    drive.fail(0x51, 0x02, 0x04, 0x01);
    EXPECT_EQ(TVX_GetDiscInfo(h, &info), TVX_ERR_COMMAND);
    EXPECT_EQ(h->lastError.location, 217);
    EXPECT_EQ(info.mediaType, 0x0020u);
    EXPECT_STREQ(h->lastError.description, "LOGICAL UNIT IS IN PROCESS OF BECOMING READY");

    drive.fail(0x46, 0x02, 0x3A, 0x00);
    uint32_t caps = 7;
    EXPECT_EQ(TVX_GetDriveCaps(h, &caps), TVX_ERR_COMMAND);
    EXPECT_EQ(caps, 0u);
    EXPECT_EQ(h->lastError.location, 95);
    EXPECT_EQ(TVX_GetDriveCaps(h, nullptr), TVX_ERR_INVALID_ARG);
}

TEST_F(QueriesTest, DriveCapsCollectTheProfileBits) {
    drive.answer(
        0x46, Profiles(0x0000, {0x0008, 0x0009, 0x0010, 0x0011, 0x0014, 0x0013, 0x001B, 0x001A}));
    uint32_t caps = 0;
    ASSERT_EQ(TVX_GetDriveCaps(h, &caps), TVX_OK);
    EXPECT_EQ(caps, 0x0373u);
    EXPECT_EQ(drive.received.back().cdb[3], 0x00); // the profile list feature
}

// A drive that offers the given write speeds and settles on the fastest one not above the
// request; it lists no write speed descriptors when `listed` is false.
class SpeedDrive {
  public:
    SpeedDrive(ScriptedDrive& drive, std::vector<uint32_t> offered, bool listed)
        : offered_(std::move(offered)), current_(offered_.front()) {
        drive.on(0xB6, [this](const test::ReceivedCommand& c) {
            const auto& d = c.dataOut;
            const uint32_t request = uint32_t{d[20]} << 24 | d[21] << 16 | d[22] << 8 | d[23];
            requests.push_back(request);
            current_ = offered_.back();
            for (uint32_t s : offered_)
                if (s <= request) {
                    current_ = s;
                    break;
                }
            return ScriptedReply::Data({});
        });
        drive.on(0xAC, [this, listed](const test::ReceivedCommand& c) {
            std::vector<uint8_t> a(24);
            if (c.cdb[10] == 0x03) {
                if (!listed) return ScriptedReply::Sense(0x05, 0x24, 0x00);
                a.resize(8 + 16 * offered_.size());
                Be32(a, 0, static_cast<uint32_t>(4 + 16 * offered_.size()));
                for (std::size_t i = 0; i < offered_.size(); ++i)
                    Be32(a, 20 + 16 * i, offered_[i]);
                return ScriptedReply::Data(a);
            }
            const bool write = c.cdb[1] & 0x04;
            Be32(a, 0, 20);
            Be32(a, 12, write ? current_ : 16 * 1385);
            Be32(a, 20, write ? current_ : 16 * 1385);
            return ScriptedReply::Data(a);
        });
    }
    std::vector<uint32_t> requests;

  private:
    std::vector<uint32_t> offered_;
    uint32_t current_;
};

class WriteSpeedTest : public QueriesTest {
  protected:
    void SetUp() override {
        QueriesTest::SetUp();
        drive.answer(0x46, Profiles(0x0011, {0x0011}));
        drive.answer(0x51, DiscInfo(false, 0, 0, 1));
        drive.answer(0x52, TrackInfo({0, 0, kDvdBlocks, kDvdBlocks, 0, true, false, true}));
    }
};

TEST_F(WriteSpeedTest, TheDrivesOwnList) {
    SpeedDrive speeds(drive, {16 * 1385, 8 * 1385, 4 * 1385}, true);
    uint32_t list[8];
    std::memset(list, 0xFF, sizeof list);
    ASSERT_EQ(TVX_GetWriteSpeedCaps(h, list, sizeof list), TVX_OK);
    EXPECT_EQ(std::vector<uint32_t>(list, list + 4),
              (std::vector<uint32_t>{16 * 1385, 8 * 1385, 4 * 1385, 0}));
    EXPECT_TRUE(speeds.requests.empty());
}

TEST_F(WriteSpeedTest, ProbeFindsTheSpeedsAndRestoresTheDrive) {
    SpeedDrive speeds(drive, {8 * 1385, 6 * 1385, 4 * 1385, 3324, 1385}, false);
    uint32_t list[8] = {};
    ASSERT_EQ(TVX_GetWriteSpeedCaps(h, list, sizeof list), TVX_OK);
    EXPECT_EQ(std::vector<uint32_t>(list, list + 6),
              (std::vector<uint32_t>{8 * 1385, 6 * 1385, 4 * 1385, 3324, 1385, 0}));
    ASSERT_FALSE(speeds.requests.empty());
    EXPECT_EQ(speeds.requests.front(), kSpeedFastest);
    EXPECT_EQ(speeds.requests.back(), 8u * 1385); // the write speed before the probe
}

TEST_F(WriteSpeedTest, ProbeWithNoRoomOnlyRestoresTheSpeeds) {
    SpeedDrive speeds(drive, {8 * 1385, 4 * 1385}, false);
    uint32_t list[1] = {99};
    ASSERT_EQ(TVX_GetWriteSpeedCaps(h, list, 0), TVX_OK);
    EXPECT_EQ(list[0], 99u);
    EXPECT_EQ(speeds.requests, (std::vector<uint32_t>{8 * 1385}));
}

TEST_F(WriteSpeedTest, RefusalsAndFailures) {
    uint32_t list[4];
    EXPECT_EQ(TVX_GetWriteSpeedCaps(h, nullptr, 16), TVX_ERR_INVALID_ARG);

    drive.answer(0x46, Profiles(0x0010, {0x0010})); // DVD-ROM
    EXPECT_EQ(TVX_GetWriteSpeedCaps(h, list, sizeof list), TVX_ERR_DISC_NOT_WRITABLE);

    drive.answer(0x46, Profiles(0x0011, {0x0011}));
    drive.fail(0xAC, 0x05, 0x20, 0x00);
    EXPECT_EQ(TVX_GetWriteSpeedCaps(h, list, sizeof list), TVX_ERR_COMMAND);
    EXPECT_EQ(h->lastError.location, 349);

    drive.fail(0x00, 0x02, 0x3A, 0x01);
    EXPECT_EQ(TVX_GetWriteSpeedCaps(h, list, sizeof list), TVX_ERR_NOT_READY);
}

std::vector<uint8_t> Event(uint8_t eventClass, uint8_t byte5, bool none = false) {
    return {0x00, 0x06, static_cast<uint8_t>((none ? 0x80 : 0) | eventClass), 0x52, 0x00, byte5,
            0x00, 0x00};
}

TEST_F(QueriesTest, DriveStatusOfAnOpenTrayWithoutDisc) {
    drive.answer(0x4A, Event(4, 0x01));
    uint32_t state = 0;
    ASSERT_EQ(TVX_GetDriveStatus(h, 3, &state), TVX_OK);
    EXPECT_EQ(state, 1u);
    auto polls = drive.receivedOf(0x4A);
    ASSERT_EQ(polls.size(), 1u);
    EXPECT_EQ(polls[0].cdb[4], 0x10); // media class
    EXPECT_TRUE(drive.receivedOf(0x00).empty());
}

TEST_F(QueriesTest, DriveStatusOfADriveSpinningUp) {
    drive.fail(0x00, 0x02, 0x04, 0x01);
    uint32_t state = 0;
    ASSERT_EQ(TVX_GetDriveStatus(h, 4, &state), TVX_OK);
    EXPECT_EQ(state, 4u);
    EXPECT_TRUE(drive.receivedOf(0x4A).empty());
}

TEST_F(QueriesTest, DriveStatusPollsClassByClass) {
    // Not ready for another reason: the operational class answers busy, then the media class.
    drive.fail(0x00, 0x02, 0x3A, 0x00);
    drive.on(0x4A, [](const test::ReceivedCommand& c) {
        return ScriptedReply::Data(c.cdb[4] == 0x02 ? Event(1, 0x01) : Event(4, 0x02));
    });
    uint32_t state = 0;
    ASSERT_EQ(TVX_GetDriveStatus(h, 7, &state), TVX_OK);
    EXPECT_EQ(state, 6u);
    EXPECT_EQ(drive.receivedOf(0x4A).size(), 2u);

    // No event to report ends the query with what was found.
    drive.answer(0x4A, Event(0, 0, true));
    state = 0;
    EXPECT_EQ(TVX_GetDriveStatus(h, 2, &state), TVX_OK);
    EXPECT_EQ(state, 0u);

    drive.fail(0x4A, 0x05, 0x20, 0x00);
    EXPECT_EQ(TVX_GetDriveStatus(h, 2, &state), TVX_ERR_NOT_READY);
}

TEST_F(QueriesTest, DriveStatusDoesNotHangOnADriveReportingOtherClasses) {
    drive.answer(0x4A, Event(2, 0x00));
    uint32_t state = 0;
    EXPECT_EQ(TVX_GetDriveStatus(h, 2, &state), TVX_OK);
    EXPECT_EQ(state, 0u);
    // Undefined request bits are not polled for.
    drive.received.clear();
    EXPECT_EQ(TVX_GetDriveStatus(h, 0x100, &state), TVX_OK);
    EXPECT_TRUE(drive.received.empty());
}

TEST_F(QueriesTest, EjectAndLoad) {
    drive.good(0x1E);
    drive.good(0x1B);
    EXPECT_EQ(TVX_EjectMedia(h), TVX_OK);
    EXPECT_EQ(drive.opcodes(), (std::vector<uint8_t>{0x1E, 0x1B}));
    EXPECT_EQ(drive.received[0].cdb[4], 0x00);
    EXPECT_EQ(drive.received[1].cdb[4], 0x02);
    EXPECT_EQ(drive.received[1].cdb[1], 0x00);
    drive.received.clear();
    EXPECT_EQ(TVX_LoadMedia(h), TVX_OK);
    EXPECT_EQ(drive.opcodes(), (std::vector<uint8_t>{0x1B}));
    EXPECT_EQ(drive.received[0].cdb[4], 0x03);

    drive.fail(0x1E, 0x05, 0x53, 0x02);
    drive.fail(0x1B, 0x02, 0x53, 0x02);
    EXPECT_EQ(TVX_EjectMedia(h), TVX_ERR_NOT_READY);
    EXPECT_EQ(TVX_LoadMedia(h), TVX_ERR_NOT_READY);
    EXPECT_EQ(TVX_TestReady(h), 1);
}

} // namespace
} // namespace tvx
