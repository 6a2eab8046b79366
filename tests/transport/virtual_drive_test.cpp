// The whole path from the C interface through the pass-through backend and the simulation
// host's device files to virtual recorders.
#include "mmc/commands.h"
#include "support/temp_dir.h"
#include "torvexin.h"
#include "vdrive/virtual_recorder.h"

#include <gtest/gtest.h>

#include <memory>

namespace tvx::test {
namespace {

using vdrive::DriveModel;
using vdrive::FaultRule;
using vdrive::MediumKind;
using vdrive::VirtualRecorder;

class VirtualDriveTest : public ::testing::Test {
  protected:
    TempDir dir;
    ScopedSimHost sim;
    std::unique_ptr<VirtualRecorder> d;
    std::unique_ptr<VirtualRecorder> e;

    void SetUp() override {
        sim->setTempDirectory(dir.path() + "/");
#if defined(_WIN32)
        sim->setMutexDirectory(dir.path()); // the named mutexes of this run only
#endif
        d = std::make_unique<VirtualRecorder>(sim->virtualClock());
        e = std::make_unique<VirtualRecorder>(sim->virtualClock(), DriveModel::SonyDvdRw());
        sim->addDrive('D', DRIVE_CDROM, d.get());
        sim->addDrive('E', DRIVE_CDROM, e.get());
    }
    void TearDown() override {
        TVX_Terminate();
    }
};

TEST_F(VirtualDriveTest, DrivesAreFoundIdentifiedAndAnswerThroughTheirHandles) {
    ASSERT_EQ(TVX_Initialize(), 1);
    ASSERT_EQ(TVX_GetDriveCount(), 2);
    TVX_DriveInfo info;
    ASSERT_EQ(TVX_GetDriveInfo(1, &info), TVX_OK);
    EXPECT_EQ(info.driveLetter, 'E');
    EXPECT_STREQ(info.vendor, "SONY");
    EXPECT_STREQ(info.product, "DVD RW DRU-810A");
    uint32_t expected = 0;
    for (MediumKind kind : e->model().media)
        expected |= Media_FromProfile(vdrive::ProfileOf(kind));
    EXPECT_EQ(info.capabilities, expected);

    ASSERT_TRUE(e->insertBlank(MediumKind::DvdR, 4096));
    TVX_RecHandle handle = TVX_OpenRecHandle(1);
    ASSERT_NE(handle, nullptr);
    uint32_t caps = 0;
    EXPECT_EQ(TVX_GetDriveCaps(handle, &caps), TVX_OK);
    EXPECT_EQ(caps, expected);
    EXPECT_EQ(TVX_TestReady(handle), 1);
}

TEST_F(VirtualDriveTest, AFailedQueryCarriesTheDrivesSenseIntoTheLastError) {
    ASSERT_EQ(TVX_Initialize(), 1);
    TVX_RecHandle handle = TVX_OpenRecHandle(0);
    ASSERT_NE(handle, nullptr);
    d->addFault(FaultRule::SenseOn(0x46, 0x02, 0x04, 0x01));
    uint32_t caps = 0;
    EXPECT_EQ(TVX_GetDriveCaps(handle, &caps), TVX_ERR_COMMAND);
    TVX_LastError error;
    ASSERT_EQ(TVX_GetLastError(handle, &error), TVX_OK);
    EXPECT_EQ(error.status, 0x02);
    EXPECT_EQ(error.senseKey, 0x02);
    EXPECT_EQ(error.asc, 0x04);
    EXPECT_EQ(error.ascq, 0x01);
    EXPECT_EQ(error.cdb[0], 0x46);
    EXPECT_STREQ(error.description, "LOGICAL UNIT IS IN PROCESS OF BECOMING READY");
    EXPECT_EQ(error.location, 95);
}

} // namespace
} // namespace tvx::test
