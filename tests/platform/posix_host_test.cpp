#include "platform/pass_through.h"
#include "platform/posix/posix_host.h"
#include "platform/text.h"

#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace tvx {
namespace {

TEST(TextTest, Utf8AndUtf16RoundTrip) {
    std::u16string wide;
    Utf8ToUtf16("A\xC3\xA9\xE6\x97\xA5\xF0\x9F\x8E\xAC", wide); // A, e-acute, a CJK sign, emoji
    ASSERT_EQ(wide.size(), 5u);
    EXPECT_EQ(wide[1], u'\u00E9');
    EXPECT_EQ(wide[2], u'\u65E5');
    EXPECT_EQ(wide[3], 0xD83C);
    std::string back;
    Utf16ToUtf8(wide, back);
    EXPECT_EQ(back, "A\xC3\xA9\xE6\x97\xA5\xF0\x9F\x8E\xAC");
}

TEST(TextTest, BytesOfNoSequenceAreLatin1Characters) {
    std::u16string wide;
    Utf8ToUtf16("a\xFF\xC3\xE9\xE6\x97", wide);
    EXPECT_EQ(wide, std::u16string(u"a\u00FF\u00C3\u00E9\u00E6\u0097"));
    EXPECT_EQ(Utf8SequenceLength("\xE6\x97\xA5", 3), 3u);
    EXPECT_EQ(Utf8SequenceLength("\xE6\x97", 2), 1u); // cut sequences are single bytes
    EXPECT_EQ(Utf8SequenceLength("x", 1), 1u);
}

TEST(PosixHostTest, FullPathNormalisesWithoutResolvingLinks) {
    PosixHost host;
    std::string out;
    ASSERT_TRUE(host.fullPath("/a/./b/../c//d/", out));
    EXPECT_EQ(out, "/a/c/d");
    ASSERT_TRUE(host.fullPath("/", out));
    EXPECT_EQ(out, "/");
    EXPECT_TRUE(host.fullPath("/" + std::string(300, 'x'), out));
    EXPECT_FALSE(host.fullPath("/" + std::string(5000, 'x'), out));
}

TEST(PosixHostTest, FindListsAFolderAndMarksHiddenEntries) {
    test::TempDir dir;
    dir.write("f.txt", "hello");
    dir.write(".hidden", "");
    dir.mkdir("sub");
    PosixHost host;
    std::vector<FindResult> found;
    std::vector<std::string> skipped;
    ASSERT_TRUE(host.findFiles(dir.path() + "/*.*", found, skipped));
    ASSERT_EQ(found.size(), 3u);
    std::sort(found.begin(), found.end(),
              [](const FindResult& a, const FindResult& b) { return a.name < b.name; });
    EXPECT_EQ(found[0].name, ".hidden");
    EXPECT_TRUE(found[0].attributes & kAttrHidden);
    EXPECT_EQ(found[1].name, "f.txt");
    EXPECT_EQ(found[1].size, 5u);
    EXPECT_FALSE(found[1].attributes & kAttrDirectory);
    EXPECT_TRUE(found[2].attributes & kAttrDirectory);

    std::vector<FindResult> one;
    ASSERT_TRUE(host.findFiles(dir.file("f.txt"), one, skipped));
    EXPECT_EQ(one.at(0).name, "f.txt");
    std::vector<FindResult> none;
    EXPECT_FALSE(host.findFiles(dir.file("missing"), none, skipped));
    EXPECT_TRUE(host.findFiles(dir.file("sub") + "/*.*", none, skipped)); // empty, yet listed
    EXPECT_TRUE(none.empty());
    EXPECT_TRUE(skipped.empty());
}

// Pipes, sockets, devices and dangling links are neither files nor folders: find-first names
// them as skipped, and no open waits on them.
TEST(PosixHostTest, OtherKindsAreSkippedAndNeverBlockAnOpen) {
    test::TempDir dir;
    dir.write("file", "x");
    const std::string fifo = dir.file("fifo"), link = dir.file("dangling");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ASSERT_EQ(::symlink("nowhere", link.c_str()), 0);
    ASSERT_EQ(::symlink("/dev/null", dir.file("device").c_str()), 0);
    int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string socketPath = dir.file("socket");
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size());
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);

    PosixHost host;
    std::vector<FindResult> found;
    std::vector<std::string> skipped;
    ASSERT_TRUE(host.findFiles(dir.path() + "/*.*", found, skipped));
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].name, "file");
    std::sort(skipped.begin(), skipped.end());
    EXPECT_EQ(skipped, (std::vector<std::string>{link, dir.file("device"), fifo, socketPath}));
    // A listing that opens what it finds opens the file only, and skips the same objects.
    std::vector<FindResult> opened;
    std::vector<std::string> skippedToo;
    ASSERT_TRUE(host.listFolder(
        dir.path(),
        [&opened](const FindResult& r) {
            opened.push_back(r);
            return true;
        },
        skippedToo, true));
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_TRUE(opened[0].opened);
    EXPECT_EQ(opened[0].size, 1u);
    std::sort(skippedToo.begin(), skippedToo.end());
    EXPECT_EQ(skippedToo, skipped);
    skipped.clear();
    EXPECT_FALSE(host.findFiles(fifo, found, skipped));
    EXPECT_EQ(skipped, std::vector<std::string>{fifo});

    // Nobody writes to or reads from the pipe: the opens answer at once.
    EXPECT_EQ(host.openFile(fifo, FileAccess::Read), nullptr);
    EXPECT_EQ(host.openFile("/dev/null", FileAccess::Read), nullptr);
    EXPECT_EQ(host.openFile(fifo, FileAccess::Write), nullptr);
    EXPECT_EQ(host.openFile(fifo, FileAccess::Append), nullptr);
    ::close(sock);
}

TEST(PosixHostTest, AFolderThatCannotBeListedFails) {
    test::TempDir dir;
    dir.write("file", "x");
    PosixHost host;
    std::vector<FindResult> found;
    std::vector<std::string> skipped;
    EXPECT_FALSE(host.findFiles(dir.file("file") + "/*.*", found, skipped));
    EXPECT_EQ(host.lastError(), static_cast<uint32_t>(ENOTDIR));
    if (::geteuid() == 0) return; // permissions do not bind root
    dir.write("locked/inside", "x");
    ASSERT_EQ(::chmod(dir.file("locked").c_str(), 0), 0);
    EXPECT_FALSE(host.findFiles(dir.file("locked") + "/*.*", found, skipped));
    EXPECT_EQ(host.lastError(), static_cast<uint32_t>(EACCES));
    EXPECT_TRUE(found.empty());
    ::chmod(dir.file("locked").c_str(), 0700);
}

TEST(PosixHostTest, FilesOpenReadWriteAndRefuseFolders) {
    test::TempDir dir;
    PosixHost host;
    auto out = host.openFile(dir.file("a.bin"), FileAccess::Write);
    ASSERT_TRUE(out);
    EXPECT_EQ(out->write("abcdef", 6), 6u);
    out.reset();
    auto in = host.openFile(dir.file("a.bin"), FileAccess::Read);
    ASSERT_TRUE(in);
    EXPECT_EQ(in->size(), 6u);
    char buf[8] = {};
    EXPECT_EQ(in->read(buf, 8), 6u);
    EXPECT_STREQ(buf, "abcdef");
    EXPECT_EQ(host.openFile(dir.path(), FileAccess::Read), nullptr);
    EXPECT_EQ(host.openFile(dir.file("missing"), FileAccess::Read), nullptr);

    // A file read for a burn answers the size it had when opened, so that growing meanwhile
    // never shifts what follows it; one being written follows its writes.
    in = host.openFile(dir.file("a.bin"), FileAccess::Read);
    in->willNeed(6);
    out = host.openFile(dir.file("a.bin"), FileAccess::ReadWrite);
    ASSERT_TRUE(out && out->seek(6));
    EXPECT_EQ(out->write("gh", 2), 2u);
    EXPECT_EQ(out->size(), 8u);
    EXPECT_EQ(in->size(), 6u);
}

TEST(PosixHostTest, FilesOpenByNameInAnOpenFolderAsByPath) {
    test::TempDir dir;
    dir.write("d/a.bin", "abc");
    dir.mkdir("d/sub");
    ASSERT_EQ(::mkfifo(dir.file("d/pipe").c_str(), 0600), 0);
    PosixHost host;
    EXPECT_EQ(host.openFolder(dir.file("missing")), nullptr);
    EXPECT_EQ(host.openFolder(dir.file("d/a.bin")), nullptr);
    HostHandle folder = host.openFolder(dir.file("d"));
    ASSERT_NE(folder, nullptr);
    auto in = host.openFileIn(folder, "a.bin");
    ASSERT_TRUE(in);
    EXPECT_EQ(in->size(), 3u);
    char buf[4] = {};
    EXPECT_EQ(in->read(buf, 4), 3u);
    EXPECT_STREQ(buf, "abc");
    // What openFile refuses for reading, and no path beyond the folder.
    for (const char* name : {"sub", "pipe", "missing", "", "sub/../a.bin"})
        EXPECT_EQ(host.openFileIn(folder, name), nullptr) << name;
    EXPECT_EQ(host.openFileIn(nullptr, "a.bin"), nullptr);
    host.closeFolder(folder);
}

// Drive locks are byte locks of the open device file: two opens conflict in one process as in
// two, distinct bytes do not, and closing a device file ends its locks. A stand-in regular file
// takes the place of the device node.
TEST(PosixHostTest, DeviceLocksBelongToTheOpenDeviceFile) {
    test::TempDir dir;
    dir.write("sr0", "");
    PosixHost host;
    host.setDeviceFolder(dir.path());
    ASSERT_EQ(host.driveType("D:\\"), DRIVE_CDROM);
    HostHandle first = host.createDeviceFile("\\\\.\\D:", 0, 0, 0);
    HostHandle second = host.createDeviceFile("\\\\.\\D:", 0, 0, 0);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(host.lockDevice(first, kDeviceLockJob, false), LockAttempt::Acquired);
    EXPECT_EQ(host.lockDevice(second, kDeviceLockJob, false), LockAttempt::Busy);
    EXPECT_EQ(host.lockDevice(second, kDeviceLockCommand, false), LockAttempt::Acquired);
    host.unlockDevice(second, kDeviceLockCommand);
    // Another process that locks the byte (a classic record lock) holds the drive as well.
    int toChild[2], fromChild[2];
    ASSERT_EQ(::pipe(toChild), 0);
    ASSERT_EQ(::pipe(fromChild), 0);
    host.unlockDevice(first, kDeviceLockJob);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        int fd = ::open(dir.file("sr0").c_str(), O_RDWR);
        struct flock range {};
        range.l_type = F_WRLCK;
        range.l_whence = SEEK_SET;
        range.l_start = static_cast<off_t>(kDeviceLockJob);
        range.l_len = 1;
        char ready = ::fcntl(fd, F_SETLK, &range) == 0 ? 'y' : 'n';
        char go;
        if (::write(fromChild[1], &ready, 1) != 1 || ::read(toChild[0], &go, 1) != 1) _exit(1);
        _exit(0);
    }
    char ready = 0;
    ASSERT_EQ(::read(fromChild[0], &ready, 1), 1);
    EXPECT_EQ(ready, 'y');
    EXPECT_EQ(host.lockDevice(first, kDeviceLockJob, false), LockAttempt::Busy);
    char go = 'g';
    ASSERT_EQ(::write(toChild[1], &go, 1), 1);
    int status = 0;
    ::waitpid(child, &status, 0);
    for (int fd : {toChild[0], toChild[1], fromChild[0], fromChild[1]})
        ::close(fd);
    EXPECT_EQ(host.lockDevice(first, kDeviceLockJob, true), LockAttempt::Acquired);
    host.closeDevice(first); // its locks end with it
    EXPECT_EQ(host.lockDevice(second, kDeviceLockJob, false), LockAttempt::Acquired);
    host.closeDevice(second);
    // No file was made for any of it.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                            std::filesystem::directory_iterator()),
              1);
}

// Exclusive access is the kernel's exclusive open of the device: while it is held, no other
// exclusive opener (a mount among them) gets in, and one that was first makes it fail. Needs a
// block device: a loop device stands in for the optical one.
TEST(PosixHostTest, ExclusiveAccessIsTheKernelsExclusiveOpen) {
    const char* loop = "/dev/loop7";
    int probe = ::open(loop, O_RDONLY | O_NONBLOCK | O_EXCL | O_CLOEXEC);
    if (probe < 0)
        GTEST_SKIP() << loop << " cannot be opened exclusively here: " << std::strerror(errno);
    ::close(probe);
    test::TempDir dir;
    ASSERT_EQ(::symlink(loop, dir.file("sr0").c_str()), 0);
    PosixHost host;
    host.setDeviceFolder(dir.path());
    HostHandle device = host.createDeviceFile("\\\\.\\D:", 0, 0, 0);
    ASSERT_NE(device, nullptr);
    CdromExclusiveLock lock = {};
    CdromExclusiveLockState state = {};
    auto request = [&](uint32_t type) {
        lock.requestType = type;
        return host.deviceIoControl(device, IOCTL_CDROM_EXCLUSIVE_ACCESS, &lock, sizeof lock,
                                    &state, sizeof state, nullptr);
    };
    ASSERT_TRUE(request(kExclusiveAccessLockDevice));
    EXPECT_TRUE(request(kExclusiveAccessQueryState));
    EXPECT_EQ(state.lockState, 1u);
    int other = ::open(loop, O_RDONLY | O_NONBLOCK | O_EXCL | O_CLOEXEC);
    EXPECT_LT(other, 0);
    EXPECT_EQ(errno, EBUSY);
    if (other >= 0) ::close(other);
    // Plain opens, such as enumeration's, are not refused.
    int plain = ::open(loop, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    EXPECT_GE(plain, 0);
    if (plain >= 0) ::close(plain);
    ASSERT_TRUE(request(kExclusiveAccessUnlockDevice));
    other = ::open(loop, O_RDONLY | O_NONBLOCK | O_EXCL | O_CLOEXEC);
    ASSERT_GE(other, 0);
    EXPECT_FALSE(request(kExclusiveAccessLockDevice)) << "another exclusive opener came first";
    EXPECT_EQ(host.lastError(), static_cast<uint32_t>(EBUSY));
    ::close(other);
    host.closeDevice(device);
}

TEST(PosixHostTest, OpenFilesNameWhatTheyReach) {
    test::TempDir dir;
    // Every path to one file or device is one identity.
    std::string file = dir.write("image", "x");
    ASSERT_EQ(::link(file.c_str(), dir.file("alias").c_str()), 0);
    std::string other = dir.write("other", "x");
    int a = ::open(file.c_str(), O_RDONLY), b = ::open(dir.file("alias").c_str(), O_RDONLY);
    int c = ::open(other.c_str(), O_RDONLY), d = ::open("/dev/null", O_RDONLY);
    EXPECT_EQ(IdentityOfOpenFile(a), IdentityOfOpenFile(b));
    EXPECT_NE(IdentityOfOpenFile(a), IdentityOfOpenFile(c));
    EXPECT_EQ(IdentityOfOpenFile(d).rfind("dev-", 0), 0u);
    for (int fd : {a, b, c, d})
        ::close(fd);
}

TEST(PosixHostTest, FileTimesConvertFromUnixTime) {
    EXPECT_EQ(FileTimeFromUnix(0, 0), 116444736000000000ULL);
    EXPECT_EQ(UnixSecondsFromFileTime(116444736000000000ULL + 10000000ULL), 1);
}

TEST(PosixHostTest, TemporaryDirectoryEndsWithSeparator) {
    PosixHost host;
    std::string dir = host.tempDirectory();
    ASSERT_FALSE(dir.empty());
    EXPECT_EQ(dir.back(), '/');
    uint32_t high = 0, low = 0;
    ASSERT_TRUE(host.moduleFileVersion(high, low));
    EXPECT_EQ(high, 0x00010003u);
    EXPECT_EQ(low, 0x00000051u);
}

} // namespace
} // namespace tvx
