// Windows: the owner's claim on an image is a lock on the owner's own file beside it, so a user
// who may only read the image has nothing to lock that keeps the owner out.
#include "platform/host.h"
#include "support/temp_dir.h"
#include "vdrive_fixture.h"

#include <windows.h>

namespace tvx::vdrive::test {
namespace {

TEST_F(DriveTest, AReaderLockingTheImageDoesNotKeepItsOwnerOut) {
    tvx::test::TempDir dir;
    const std::string image = dir.file("disc.img");
    ASSERT_TRUE(drive->insertRecorded(MediumKind::DvdPlusRw, 10, false, 100, image))
        << drive->lastError();
    drive->removeDisc();
    // Where the claim used to be: a byte of the image far beyond its data.
    HANDLE reader = ::CreateFileA(image.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    OVERLAPPED at{};
    at.OffsetHigh = static_cast<DWORD>(kDeviceLockImageOwner >> 32);
    ASSERT_TRUE(::LockFileEx(reader, LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at));
    EXPECT_TRUE(drive->openDisc(image)) << drive->lastError();
    drive->removeDisc();
    ::CloseHandle(reader);
}

} // namespace
} // namespace tvx::vdrive::test
