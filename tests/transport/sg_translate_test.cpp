#include "platform/posix/posix_host.h"
#include "platform/posix/sg_translate.h"
#include "support/temp_dir.h"
#include "transport/backends.h"
#include "transport/spti.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

namespace tvx {
namespace {

PassThroughRequest ReadRequest(void* data, uint32_t length) {
    PassThroughRequest r = {};
    r.sptd.length = sizeof r.sptd;
    r.sptd.cdbLength = 10;
    r.sptd.cdb[0] = 0x28;
    r.sptd.cdb[8] = 1;
    r.sptd.senseInfoLength = kPassThroughSenseBytes;
    r.sptd.senseInfoOffset = offsetof(PassThroughRequest, sense);
    r.sptd.dataIn = SCSI_IOCTL_DATA_IN;
    r.sptd.dataBuffer = data;
    r.sptd.dataTransferLength = length;
    r.sptd.timeOutValue = 20;
    return r;
}

TEST(SgTranslateTest, RequestKeepsCdbDirectionBufferTimeoutAndSenseArea) {
    uint8_t data[2048];
    PassThroughRequest r = ReadRequest(data, sizeof data);
    sg_io_hdr_t hdr;
    ASSERT_TRUE(SgIoFromPassThrough(&r, sizeof r, hdr));
    EXPECT_EQ(hdr.interface_id, 'S');
    EXPECT_EQ(hdr.cmd_len, 10);
    EXPECT_EQ(hdr.cmdp, r.sptd.cdb);
    EXPECT_EQ(hdr.dxfer_direction, SG_DXFER_FROM_DEV);
    EXPECT_EQ(hdr.dxferp, data);
    EXPECT_EQ(hdr.dxfer_len, sizeof data);
    EXPECT_EQ(hdr.timeout, 20000u);
    EXPECT_EQ(hdr.sbp, r.sense);
    EXPECT_EQ(hdr.mx_sb_len, 32);

    r.sptd.dataIn = SCSI_IOCTL_DATA_OUT;
    ASSERT_TRUE(SgIoFromPassThrough(&r, sizeof r, hdr));
    EXPECT_EQ(hdr.dxfer_direction, SG_DXFER_TO_DEV);
    r.sptd.dataIn = SCSI_IOCTL_DATA_UNSPECIFIED;
    ASSERT_TRUE(SgIoFromPassThrough(&r, sizeof r, hdr));
    EXPECT_EQ(hdr.dxfer_direction, SG_DXFER_NONE);
    EXPECT_EQ(hdr.dxfer_len, 0u);
    r.sptd.dataIn = SCSI_IOCTL_DATA_IN;
    r.sptd.dataBuffer = nullptr;
    ASSERT_TRUE(SgIoFromPassThrough(&r, sizeof r, hdr));
    EXPECT_EQ(hdr.dxfer_direction, SG_DXFER_NONE);
    r.sptd.timeOutValue = 0xFFFFFFFFu;
    ASSERT_TRUE(SgIoFromPassThrough(&r, sizeof r, hdr));
    EXPECT_EQ(hdr.timeout, 0xFFFFFFFFu); // saturated, not wrapped
}

TEST(SgTranslateTest, MalformedRequestsAreRefused) {
    PassThroughRequest r = ReadRequest(nullptr, 0);
    sg_io_hdr_t hdr;
    EXPECT_FALSE(SgIoFromPassThrough(&r, sizeof r.sptd - 1, hdr));
    r.sptd.cdbLength = 17;
    EXPECT_FALSE(SgIoFromPassThrough(&r, sizeof r, hdr));
    r.sptd.cdbLength = 0;
    EXPECT_FALSE(SgIoFromPassThrough(&r, sizeof r, hdr));
    r.sptd.cdbLength = 6;
    r.sptd.senseInfoOffset = sizeof r - 8; // 32 sense bytes would run past the buffer
    EXPECT_FALSE(SgIoFromPassThrough(&r, sizeof r, hdr));
}

TEST(SgTranslateTest, AnswerGivesStatusAndBytesMovedOrAFailure) {
    PassThroughRequest r = ReadRequest(nullptr, 0);
    sg_io_hdr_t hdr = {};
    hdr.dxfer_len = 2048;
    hdr.resid = 48;
    hdr.status = 0x02;
    uint32_t error = 1;
    ASSERT_TRUE(PassThroughFromSgIo(hdr, r.sptd, error));
    EXPECT_EQ(r.sptd.scsiStatus, 0x02);
    EXPECT_EQ(r.sptd.dataTransferLength, 2000u);
    EXPECT_EQ(error, 0u);

    hdr = {};
    r.sptd.senseInfoLength = kPassThroughSenseBytes;
    hdr.driver_status = 0x08; // sense delivered through the driver status only
    hdr.sb_len_wr = 18;
    ASSERT_TRUE(PassThroughFromSgIo(hdr, r.sptd, error));
    EXPECT_EQ(r.sptd.scsiStatus, 0x02);
    EXPECT_EQ(r.sptd.senseInfoLength, 18); // what came back, as a port driver tells it

    hdr = {};
    hdr.host_status = 0x03;
    EXPECT_FALSE(PassThroughFromSgIo(hdr, r.sptd, error));
    EXPECT_EQ(error, static_cast<uint32_t>(ETIMEDOUT));
    hdr.host_status = 0x01;
    EXPECT_FALSE(PassThroughFromSgIo(hdr, r.sptd, error));
    EXPECT_EQ(error, static_cast<uint32_t>(EIO));
}

TEST(SgTranslateTest, BusTypeFollowsTheOutermostAdapter) {
    EXPECT_EQ(StorageBusFromSysfsPath("/sys/devices/pci0000:00/0000:00:1f.2/ata2/host1/"
                                      "target1:0:0/1:0:0:0/block/sr0"),
              kStorageBusAtapi);
    EXPECT_EQ(StorageBusFromSysfsPath("/sys/devices/pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/"
                                      "host6/target6:0:0/6:0:0:0/block/sr1"),
              kStorageBusUsb);
    EXPECT_EQ(StorageBusFromSysfsPath("/sys/devices/pci0000:00/0000:00:1e.0/fw0/fw0.0/host3/"
                                      "target3:0:0/3:0:0:0/block/sr2"),
              kStorageBus1394);
    EXPECT_EQ(StorageBusFromSysfsPath("/sys/devices/pci0000:00/0000:00:03.0/virtio0/host0/"
                                      "target0:0:1/0:0:1:0/block/sr0"),
              kStorageBusScsi);
    EXPECT_EQ(StorageBusFromSysfsPath("/sys/devices/virtual/block/sr9"), kStorageBusUnknown);
    EXPECT_EQ(StorageBusFromSysfsPath("/sys/devices/data/usbx/hostile/sr0"), kStorageBusUnknown);
}

// The native host with the log in a folder of the test's own.
class LoggingElsewhere : public PosixHost {
  public:
    std::string tempDirectory() override { return dir.path() + "/"; }
    test::TempDir dir;
};

// Runs only where the machine has an optical drive the test may open.
TEST(RealDriveTest, FirstOpticalDriveAnswersInquiryThroughSgIo) {
    LoggingElsewhere posix;
    setHost(&posix);
    struct Restore {
        ~Restore() { setHost(nullptr); }
    } restore;
    if (!(posix.logicalDrives() & (1u << ('D' - 'A')))) GTEST_SKIP() << "no optical drive";
    EXPECT_EQ(posix.driveType("D:\\"), DRIVE_CDROM);
    HostHandle handle = posix.createDeviceFile("\\\\.\\D:", GENERIC_READ | GENERIC_WRITE,
                                               FILE_SHARE_READ | FILE_SHARE_WRITE, 0);
    if (!handle) GTEST_SKIP() << "the optical drive cannot be opened read-write here";
    posix.closeDevice(handle);

    Device* device = OpenByDeviceFile("D:");
    ASSERT_NE(device, nullptr);
    EXPECT_NE(device->header.vendor[0], 0);
    CommandRecord unitReady; // no data phase; any status is a real answer
    unitReady.cdbLength = 6;
    SptiTransport.Execute(device, &unitReady, nullptr, 0);
    EXPECT_EQ(SptiTransport.GetCdbLength(device), 6u);
    SptiTransport.Close(device);
}

} // namespace
} // namespace tvx
