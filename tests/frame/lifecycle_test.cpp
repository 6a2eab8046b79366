#include "torvexin.h"

#include "frame/library_state.h"
#include "support/temp_dir.h"
#include "transport/rec_handle.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

namespace tvx {
namespace {

class LifecycleTest : public ::testing::Test {
  protected:
    test::TempDir dir;
    test::ScopedSimHost sim;
    void SetUp() override { sim->setTempDirectory(dir.path() + "/"); }
    void TearDown() override { TVX_Terminate(); }
    std::string log() { return test::ReadWholeFile(dir.file("Torvexin.log")); }
};

TEST_F(LifecycleTest, WithoutAnyTransportInitialisationFailsAndLogsBothProbes) {
    EXPECT_EQ(TVX_Initialize(), 0);
    EXPECT_EQ(TVX_GetDriveCount(), 0);
    EXPECT_EQ(TVX_OpenRecHandle(0), nullptr);
    EXPECT_EQ(TVX_Initialize(), 0);
    // Two traces, one after the other: the log is only ever appended to.
    EXPECT_EQ(log(), "fail: SPTI\nfail: ASPI\nfail: SPTI\nfail: ASPI\n");
}

TEST_F(LifecycleTest, ExtendedModeFollowsTheLastInitialisationEvenOnFailure) {
    int32_t plain = TVX_Initialize();
    EXPECT_EQ(ExtendedMode, 0);
    EXPECT_EQ(TVX_InitializeEx(), plain);
    EXPECT_EQ(ExtendedMode, 1);
    TVX_Terminate();
    EXPECT_EQ(ExtendedMode, 1); // kept across termination
    TVX_Initialize();
    EXPECT_EQ(ExtendedMode, 0);
}

TEST_F(LifecycleTest, UnwritableTemporaryDirectoryChangesNoResult) {
    std::string blocker = dir.write("plain-file", "x");
    sim->setTempDirectory(blocker + "/");
    EXPECT_EQ(TVX_Initialize(), 0);
    EXPECT_EQ(TVX_GetVersion(nullptr), 0x00010003u);
    EXPECT_FALSE(std::filesystem::exists(dir.file("Torvexin.log")));
}

TEST(VersionTest, ReportsTheFileVersion) {
    uint32_t low = 0xDEADBEEF;
    EXPECT_EQ(TVX_GetVersion(&low), 0x00010003u);
    EXPECT_EQ(low, 0x00000051u);
    EXPECT_EQ(TVX_GetVersion(nullptr), 0x00010003u);
}

TEST(LastErrorTest, FreshRecordIsAllZeroAndNullsAreRefused) {
    TvxRecHandle handle;
    TVX_LastError record;
    std::memset(&record, 0xAB, sizeof record);
    EXPECT_EQ(TVX_GetLastError(&handle, &record), TVX_OK);
    TVX_LastError zero;
    std::memset(&zero, 0, sizeof zero);
    EXPECT_EQ(std::memcmp(&record, &zero, sizeof record), 0);
    EXPECT_EQ(TVX_GetLastError(&handle, nullptr), TVX_ERR_INVALID_ARG);
    EXPECT_EQ(TVX_GetLastError(nullptr, &record), TVX_ERR_INVALID_ARG);
}

TEST(ResultCodeTest, CodesAreNegativeAndSkipNineAndC) {
    const TVX_Result codes[] = {TVX_ERR_NOT_READY, TVX_ERR_DISC_NOT_WRITABLE,
                                TVX_ERR_NO_SPACE,  TVX_ERR_NO_DRIVE,
                                TVX_ERR_SOURCE,    TVX_ERR_DISC_KIND,
                                TVX_ERR_COMMAND,   TVX_ERR_INVALID_ARG,
                                TVX_ERR_CANCELLED, TVX_ERR_MODE,
                                TVX_ERR_VERIFY};
    for (TVX_Result code : codes) {
        EXPECT_LT(code, 0);
        uint32_t last = static_cast<uint32_t>(code) & 0xF;
        EXPECT_NE(last, 0x9u);
        EXPECT_NE(last, 0xCu);
        EXPECT_EQ(static_cast<uint32_t>(code) & 0xFFFFFFF0u, 0xE0000000u);
    }
    EXPECT_EQ(static_cast<uint32_t>(TVX_ERR_VERIFY), 0xE000000Du);
}

} // namespace
} // namespace tvx
