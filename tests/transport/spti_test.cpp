#include "mmc/execute.h"
#include "transport/backends.h"
#include "transport/spti_device.h"
#include "transport/transport_detail.h"
#include "transport/transport_fixture.h"

#include <cstring>
#include <string>

namespace tvx::test {
namespace {

const char kMounted[] = "\\??\\IDE#CdRomTVX#5&1&0&0.0.0#{53f5630d-b6bf-11d0-94f2-00a0c91efb8b}";

using SptiTest = TransportTest;

TEST_F(SptiTest, OnlyFloppyLettersNeverPassTheProbe) {
    sim->addDrive('A', DRIVE_CDROM, &driveD);
    sim->addDrive('B', DRIVE_CDROM, &driveE);
    EXPECT_EQ(ProbeSpti(), 0);
    EXPECT_EQ(TVX_Initialize(), 0);
    EXPECT_EQ(log(), "fail: SPTI\nfail: ASPI\n");
    EXPECT_EQ(sim->controlCodes().size(), 0u);
}

TEST_F(SptiTest, EnumerationSkipsOtherDrivesAndLogsEachStep) {
    sim->addDrive('C', DRIVE_FIXED);
    SimDrive& d = sim->addDrive('D', DRIVE_CDROM, &driveD);
    d.address = {sizeof(ScsiAddress), 1, 0, 2, 0};
    d.storageBus = kStorageBusUsb;
    ScriptedTarget disk;
    disk.peripheralType = 0;
    sim->addDrive('F', DRIVE_CDROM, &disk);

    ASSERT_EQ(TVX_Initialize(), 1);
    const std::string opens = "Try: OpenByDeviceFile(C:)\n"
                              "Fail: GetDriveType(C:\\) != DRIVE_CDROM\n"
                              "Try: OpenByDeviceFile(D:)\n"
                              "Success: OpenByDeviceFile(D:)\n";
#if defined(_WIN32)
    // Any drive letter that opens makes the pass-through the transport.
    const std::string probe = "";
#else
    // A device node may be anything: the probe opens each drive as enumeration does and
    // chooses the pass-through once one answers through it.
    const std::string probe = opens + "Answers: D: through the pass-through\n";
#endif
    EXPECT_EQ(log(), probe + "Use: SPTI\n" + opens +
                         "FOUND [D:](1,2,0)[TVXTEST ][DVD-RW SIM      ][1.00]\n"
                         "Try: OpenByDeviceFile(F:)\n"
                         "Fail: _SetupDeviceInfo() == FALSE\n");
    ASSERT_EQ(TVX_GetDriveCount(), 1);
    TVX_DriveInfo info;
    ASSERT_EQ(TVX_GetDriveInfo(0, &info), TVX_OK);
    EXPECT_EQ(info.driveLetter, 'D');
    EXPECT_EQ(info.busKind, 4u);
    EXPECT_EQ(info.hostAdapter, 1);
    EXPECT_EQ(info.target, 2);
    EXPECT_STREQ(info.vendor, "TVXTEST");
    EXPECT_STREQ(info.product, "DVD-RW SIM");
    EXPECT_STREQ(info.revision, "1.00");
    EXPECT_EQ(sim->openDeviceCount(), 0u);
}

TEST_F(SptiTest, AllBlankIdentificationBecomesEmptyAndUnknownBusIsOther) {
    driveD.vendor = "        ";
    SimDrive& d = sim->addDrive('D', DRIVE_CDROM, &driveD);
    d.storageBus.reset();
    d.addressAnswers = false;
    Device* device = OpenByDeviceFile("D:");
    ASSERT_NE(device, nullptr);
    EXPECT_STREQ(device->header.vendor, "");
    EXPECT_EQ(device->header.busKind, kBusOther);
    EXPECT_EQ(device->header.hostAdapter, 0);
    SptiTransport.Close(device);
}

std::string ProxyOpenLines() {
    return "Try: OpenByDeviceFile(D:)\n"
           "Retry: CreateFile(\\\\.\\D:) with CDRBLK\n"
           "Fail: CreateFile(\\\\.\\CDRBLK:) == INVALID_HANDLE_VALUE\n"
           "Try: original "
           "mbBuf=IDE\\CdRomTVX\\5&1&0&0.0.0\\{53f5630d-b6bf-11d0-94f2-00a0c91efb8b}\n"
           "Try: modified mbBuf=IDE\\CdRomTVX\\5&1&0&0.0.0\n"
           "Try: System\\CurrentControlSet\\Services\\CdRom\\Enum, Count=2\n"
           "Try: stricmp\nIDE\\CdRomTVX\\5&1&0&0.0.0\nSCSI\\CdRomOther\\1\n"
           "Try: stricmp\nIDE\\CdRomTVX\\5&1&0&0.0.0\nide\\cdromtvx\\5&1&0&0.0.0\n"
           "Fail: _CreateDeviceFile(\\\\.\\D:) == NULL\n"
           "Success: OpenByDeviceFile(D:)\n";
}

TEST_F(SptiTest, DriveReachedOnlyThroughTheProxyWorksButCannotBeLocked) {
    SimDrive& d = sim->addDrive('D', DRIVE_CDROM, &driveD);
    d.deviceFileOpens = false;
    d.classDeviceNumber = 1;
    sim->setProxyDevice(true);
    sim->setMountedDevice('D', kMounted);
    sim->setClassDevice(0, "SCSI\\CdRomOther\\1");
    sim->setClassDevice(1, "ide\\cdromtvx\\5&1&0&0.0.0");

    ASSERT_EQ(TVX_Initialize(), 1);
#if defined(_WIN32)
    // The probe first tries the device file itself, then the whole open by name.
    std::string expected = "Retry: CreateFile(\\\\.\\D:) with CDRBLK\n"
                           "Fail: CreateFile(\\\\.\\CDRBLK:) == INVALID_HANDLE_VALUE\n" +
                           ProxyOpenLines() + "Use: SPTI\n" + ProxyOpenLines() +
#else
    // The probe opens the drive by name and asks it through the proxy.
    std::string expected = ProxyOpenLines() + "Answers: D: through the pass-through\n" +
                           "Use: SPTI\n" + ProxyOpenLines() +
#endif
                           "FOUND [D:](0,0,0)[TVXTEST ][DVD-RW SIM      ][1.00]\n";
    EXPECT_EQ(log(), expected);

    TVX_RecHandle handle = TVX_OpenRecHandle(0);
    ASSERT_NE(handle, nullptr);
    // Both exclusive-access requests fail on the missing drive handle and are logged.
    expected += ProxyOpenLines() + "Bad file descriptor.\n\n" + "Bad file descriptor.\n\n";
    EXPECT_EQ(log(), expected);
    EXPECT_FALSE(sim->exclusiveHeld('D'));

    sim->clearControlCodes();
    driveD.requests.clear();
    CommandRecord unitReady;
    unitReady.cdbLength = 6;
    EXPECT_EQ(Mmc_Execute(handle, &unitReady, nullptr, 0), 1);
    ASSERT_EQ(driveD.requests.size(), 1u);
    EXPECT_EQ(sim->controlCodes(), std::vector<uint32_t>{IOCTL_PROXY_DEVICE_CONTROL});
}

TEST_F(SptiTest, ProxyPathFailuresAreLogged) {
    SimDrive& d = sim->addDrive('D', DRIVE_CDROM, &driveD);
    d.deviceFileOpens = false;
    d.classDeviceNumber = 0;
    sim->setMountedDevice('D', kMounted);
    sim->setClassDevice(0, "IDE\\CdRomTVX\\5&1&0&0.0.0");

    // Class device found, but no proxy device.
    EXPECT_EQ(OpenByDeviceFile("D:"), nullptr);
    std::string text = log();
    EXPECT_NE(text.find("Fail: _CreateDeviceFile(\\\\.\\D:) == NULL\n"
                        "Fail: CDRBlock_Open(\\\\.\\D:) == NULL\n"),
              std::string::npos);

    // No class device carries the drive.
    sim->setClassDevice(0, "IDE\\CdRomOther\\1");
    sim->setProxyDevice(true);
    EXPECT_EQ(OpenByDeviceFile("D:"), nullptr);
    text = log();
    const std::string tail = "Fail: unmatch\nFail: _CorrectDriveNumber(D:) == -1\n";
    ASSERT_GE(text.size(), tail.size());
    EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
    EXPECT_EQ(sim->openDeviceCount(), 0u);
}

TEST_F(SptiTest, MountedDeviceTextsUpToThirtyNineCharactersAreComparedUncut) {
    sim->setMountedDevice('D', "\\??\\SHORT#DEV");
    std::string exactly39 = "\\??\\" + std::string(35, 'x');
    sim->setMountedDevice('E', exactly39);
    sim->setClassDevice(0, "unrelated");
    sim->setClassDevice(1, "short\\dev");
    sim->setClassDevice(2, std::string(35, 'X'));
    EXPECT_EQ(_CorrectDriveNumber('D'), 1);
    EXPECT_NE(log().find("Try: modified mbBuf=SHORT\\DEV\n"), std::string::npos);
    EXPECT_EQ(_CorrectDriveNumber('E'), 2);
    // A missing value gives -1 without any line.
    std::string before = log();
    EXPECT_EQ(_CorrectDriveNumber('F'), -1);
    EXPECT_EQ(log(), before);
}

TEST_F(SptiTest, ExecuteFillsThePassThroughRequestAndKeepsTheAnswer) {
    sim->addDrive('D', DRIVE_CDROM, &driveD);
    Device* device = OpenByDeviceFile("D:");
    ASSERT_NE(device, nullptr);
    driveD.requests.clear();

    // Direction "from the drive" without a buffer has no data phase; timeout 0 means 20 s.
    CommandRecord command;
    command.direction = kDirectionIn;
    command.cdbLength = 10;
    command.cdb[0] = 0x46;
    EXPECT_EQ(SptiTransport.Execute(device, &command, nullptr, 64), 1);
    uint8_t buffer[16];
    command.direction = 7; // unknown: read as no data
    EXPECT_EQ(SptiTransport.Execute(device, &command, buffer, sizeof buffer), 1);
    command.direction = kDirectionIn;
    command.timeout = 3;
    EXPECT_EQ(SptiTransport.Execute(device, &command, buffer, sizeof buffer), 1);
    ASSERT_EQ(driveD.requests.size(), 3u);
    EXPECT_EQ(driveD.requests[0].direction, DataDirection::None);
    EXPECT_EQ(driveD.requests[0].timeoutSeconds, 20u);
    EXPECT_EQ(driveD.requests[1].direction, DataDirection::None);
    EXPECT_EQ(driveD.requests[2].direction, DataDirection::FromDevice);
    EXPECT_EQ(driveD.requests[2].data, buffer);
    EXPECT_EQ(driveD.requests[2].byteCount, sizeof buffer);
    EXPECT_EQ(driveD.requests[2].timeoutSeconds, 3u);
    // What the path said of each command, for drive reports.
    auto detail = [&] {
        TransportDetail d;
        Spti_Detail(device, d);
        EXPECT_EQ(d.path, TransportPath::PassThrough);
        EXPECT_FALSE(d.hasSystemFields); // virtual drives have no system beneath them
        return d;
    };
    TransportDetail good = detail();
    EXPECT_TRUE(good.requestDone);
    EXPECT_EQ(good.dataTransferLength, driveD.requests[2].byteCount);
    EXPECT_EQ(good.senseInfoLength, 0);

    // A check condition fails the command; the getters describe it.
    driveD.failSense = {0x70, 0, 0x02, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x3A, 0x00};
    command.cdbLength = 6;
    std::memset(command.cdb, 0, sizeof command.cdb);
    command.cdb[0] = 0x1B;
    EXPECT_EQ(SptiTransport.Execute(device, &command, nullptr, 0), 0);
    EXPECT_EQ(SptiTransport.GetStatus(device), kScsiStatusCheckCondition);
    EXPECT_EQ(SptiTransport.GetSenseLength(device), 32u);
    EXPECT_EQ(SptiTransport.GetCdbLength(device), 6u);
    EXPECT_EQ(SptiTransport.GetCdb(device)[0], 0x1B);
    EXPECT_EQ(SptiTransport.GetSense(device)[2], 0x02);
    EXPECT_EQ(SptiTransport.GetSense(device)[12], 0x3A);
    TransportDetail checked = detail();
    EXPECT_TRUE(checked.requestDone);
    EXPECT_EQ(checked.senseInfoLength, driveD.failSense.size());

    // A request that never reaches the drive fails and leaves no stale sense behind.
    sim->drive('D').target = nullptr;
    EXPECT_EQ(SptiTransport.Execute(device, &command, nullptr, 0), 0);
    EXPECT_EQ(SptiTransport.GetSense(device)[12], 0);
    TransportDetail lost = detail();
    EXPECT_FALSE(lost.requestDone);
    EXPECT_NE(lost.systemError, 0u);
    SptiTransport.Close(device);
    EXPECT_EQ(sim->openDeviceCount(), 0u);
}

TEST_F(SptiTest, RecorderHandleHoldsExclusiveAccessForItsLife) {
    sim->addDrive('D', DRIVE_CDROM, &driveD);
    ASSERT_EQ(TVX_Initialize(), 1);
    std::string before = log();
    TVX_RecHandle handle = TVX_OpenRecHandle(0);
    ASSERT_NE(handle, nullptr);
    EXPECT_TRUE(sim->exclusiveHeld('D'));
    // A second opener of the same drive cannot take it.
    Device* other = SptiTransport.OpenByName("D:");
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(SptiTransport.SetExclusive(other, 1), 0);
    SptiTransport.Close(other);
    TVX_CloseRecHandle(handle);
    EXPECT_FALSE(sim->exclusiveHeld('D'));
    EXPECT_EQ(sim->openDeviceCount(), 0u);
}

} // namespace
} // namespace tvx::test
