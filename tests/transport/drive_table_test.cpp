#include "mmc/execute.h"
#include "transport/backends.h"
#include "transport/drive_table.h"
#include "transport/transport_fixture.h"

#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

namespace tvx::test {
namespace {

using DriveTableTest = TransportTest;

TEST_F(DriveTableTest, CountingAgainClosesHandlesAndKeepsTheCount) {
    sim->addDrive('D', DRIVE_CDROM, &driveD);
    sim->addDrive('E', DRIVE_CDROM, &driveE);
    ASSERT_EQ(TVX_Initialize(), 1);
    ASSERT_EQ(TVX_GetDriveCount(), 2);
    TVX_RecHandle first = TVX_OpenRecHandle(0);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(TVX_OpenRecHandle(0), first); // no second open
    EXPECT_EQ(sim->openDeviceCount(), 1u);
    ASSERT_NE(TVX_OpenRecHandle(1), nullptr);
    EXPECT_EQ(sim->openDeviceCount(), 2u);

    EXPECT_EQ(TVX_GetDriveCount(), 2);
    EXPECT_EQ(sim->openDeviceCount(), 0u);
    EXPECT_FALSE(sim->exclusiveHeld('D'));
    EXPECT_FALSE(sim->exclusiveHeld('E'));

    TVX_DriveInfo info;
    ASSERT_EQ(TVX_GetDriveInfo(1, &info), TVX_OK);
    EXPECT_EQ(info.driveLetter, 'E');
    EXPECT_EQ(TVX_GetDriveInfo(-1, &info), TVX_ERR_NO_DRIVE);
    EXPECT_EQ(TVX_GetDriveInfo(2, &info), TVX_ERR_NO_DRIVE);
}

TEST_F(DriveTableTest, OneCloseClosesAHandleOpenedTwiceAndReopenWorks) {
    sim->addDrive('D', DRIVE_CDROM, &driveD);
    ASSERT_EQ(TVX_Initialize(), 1);
    TVX_RecHandle handle = TVX_OpenRecHandle(0);
    ASSERT_EQ(TVX_OpenRecHandle(0), handle);
    TVX_CloseRecHandle(handle);
    EXPECT_EQ(sim->openDeviceCount(), 0u);
    TVX_CloseRecHandle(handle); // already closed: nothing happens
    EXPECT_EQ(TVX_OpenRecHandle(0), handle);
    EXPECT_TRUE(sim->exclusiveHeld('D'));
    TVX_Terminate(); // closes what is open
    EXPECT_EQ(sim->openDeviceCount(), 0u);
    EXPECT_EQ(TVX_GetDriveCount(), 0);
    EXPECT_EQ(TVX_OpenRecHandle(0), nullptr);
}

TEST_F(DriveTableTest, BadIndexesAndNullRecordAreRefusedOnAnEmptyTable) {
    TVX_DriveInfo info;
    EXPECT_EQ(TVX_GetDriveInfo(0, nullptr), TVX_ERR_INVALID_ARG);
    EXPECT_EQ(TVX_GetDriveInfo(0, &info), TVX_ERR_NO_DRIVE);
    EXPECT_EQ(TVX_OpenRecHandle(-1), nullptr);
}

TEST_F(DriveTableTest, CapabilitiesAreTheUnionOfTheFirstSixteenProfiles) {
    driveD.profiles = {0x0011, 0x001A};
    // Sixteen CD profiles, then a BD-RE that must not count.
    driveE.profiles.assign(16, 0x0009);
    driveE.profiles.push_back(0x0043);
    sim->addDrive('D', DRIVE_CDROM, &driveD);
    sim->addDrive('E', DRIVE_CDROM, &driveE);
    ScriptedTarget refusing;
    refusing.failGetConfiguration = true;
    sim->addDrive('F', DRIVE_CDROM, &refusing);
    ASSERT_EQ(TVX_Initialize(), 1);
    ASSERT_EQ(TVX_GetDriveCount(), 3);
    TVX_DriveInfo info;
    ASSERT_EQ(TVX_GetDriveInfo(0, &info), TVX_OK);
    EXPECT_EQ(info.capabilities, 0x0020u | 0x0200u); // DVD-R, DVD+RW
    ASSERT_EQ(TVX_GetDriveInfo(1, &info), TVX_OK);
    EXPECT_EQ(info.capabilities, 0x0002u); // CD-R only
    ASSERT_EQ(TVX_GetDriveInfo(2, &info), TVX_OK);
    EXPECT_EQ(info.capabilities, 0u); // listed all the same
    EXPECT_EQ(info.driveLetter, 'F');
    // Enumeration records no error anywhere.
    TVX_RecHandle handle = TVX_OpenRecHandle(2);
    TVX_LastError error;
    TVX_GetLastError(handle, &error);
    EXPECT_EQ(error.location, 0);
}

// Every command of a recorder handle runs under the command lock of the drive's device file,
// which another opener of the same drive finds taken meanwhile. No lock file is made.
TEST_F(DriveTableTest, CommandsOfARecorderHandleRunUnderTheDriveLock) {
    struct Observing : ScsiTarget {
        ScsiTarget* inner = nullptr;
        Host* host = nullptr;
        HostHandle otherOpener = nullptr;
        int commands = 0, whileFree = 0;
        ScsiResult execute(const ScsiRequest& request) override {
            ++commands;
            if (host->lockDevice(otherOpener, kDeviceLockCommand, false) == LockAttempt::Acquired) {
                ++whileFree;
                host->unlockDevice(otherOpener, kDeviceLockCommand);
            }
            return inner->execute(request);
        }
    } observing;
    observing.inner = &driveD;
    observing.host = &*sim;
    sim->addDrive('D', DRIVE_CDROM, &observing);
    ASSERT_EQ(TVX_Initialize(), 1);
    ASSERT_EQ(TVX_GetDriveCount(), 1);
    TVX_RecHandle handle = TVX_OpenRecHandle(0);
    ASSERT_NE(handle, nullptr);
    EXPECT_NE(handle->device->header.deviceMutex, nullptr);
    observing.otherOpener = sim->createDeviceFile("\\\\.\\D:", 0, 0, 0);
    ASSERT_NE(observing.otherOpener, nullptr);
    observing.commands = 0;
    TVX_TestReady(handle);
    uint32_t caps = 0;
    TVX_GetDriveCaps(handle, &caps);
    EXPECT_GT(observing.commands, 0);
    EXPECT_EQ(observing.whileFree, 0);
    sim->closeDevice(observing.otherOpener);
    TVX_CloseRecHandle(handle);
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        EXPECT_EQ(entry.path().filename().string().find("TORVEXIN"), std::string::npos);
}

// A transport that reports more drives than the table holds.
struct ManyDrives {
    static int enumerate(EnumerateCallback callback, void* context) {
        for (int i = 0; i < 30; ++i) {
            auto* device = new Device;
            device->header.driveLetter = 0;
            device->header.target = static_cast<uint8_t>(i);
            callback(context, i, device);
        }
        return 30;
    }
    static void close(Device* device) {
        --open;
        delete device;
    }
    static int execute(Device*, const CommandRecord*, void*, uint32_t) { return 0; }
    // These Devices are bare: the answer fields of a real backend's Device are not there.
    static uint8_t status(Device*) { return 0; }
    static uint32_t none(Device*) { return 0; }
    static const uint8_t* noBytes(Device*) { return nullptr; }
    static inline int open = 30;
};

TEST_F(DriveTableTest, MoreDrivesThanEntriesDoNotOverrunTheTable) {
    Transport many = SptiTransport;
    many.Enumerate = ManyDrives::enumerate;
    many.Close = ManyDrives::close;
    many.Execute = ManyDrives::execute;
    many.GetStatus = ManyDrives::status;
    many.GetSenseLength = ManyDrives::none;
    many.GetCdbLength = ManyDrives::none;
    many.GetSense = ManyDrives::noBytes;
    many.GetCdb = ManyDrives::noBytes;
    const Transport* previous = ActiveTransport;
    ActiveTransport = &many;
    EXPECT_EQ(DriveTable_Fill(), 26);
    EXPECT_EQ(ManyDrives::open, 0); // every Device closed, stored or not
    TVX_DriveInfo info;
    ASSERT_EQ(TVX_GetDriveInfo(25, &info), TVX_OK);
    EXPECT_EQ(info.target, 25);
    EXPECT_EQ(TVX_GetDriveInfo(26, &info), TVX_ERR_NO_DRIVE);
    DriveTable_Empty();
    ActiveTransport = previous;
}

} // namespace
} // namespace tvx::test
