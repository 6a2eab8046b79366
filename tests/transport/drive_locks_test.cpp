// The drive's locks on the native host: the per-command DeviceMutex and the writing job's
// JobLock are locks of the drive's open device file (a stand-in regular file here), so that
// nothing another user plants or holds in a shared folder affects them.
#include "platform/posix/posix_host.h"
#include "support/temp_dir.h"
#include "transport/backends.h"
#include "transport/device_mutex.h"
#include "transport/job_lock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <sched.h>
#include <set>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace tvx::test {
namespace {

// Shared between forked processes: who is inside, and whether two ever were.
struct Shared {
    std::atomic<int> inside;
    std::atomic<int> overlaps;
    std::atomic<int> entries;
};

void Critical(DeviceMutex* mutex, Shared* shared, int rounds) {
    for (int i = 0; i < rounds; ++i) {
        DeviceMutex_Wait(mutex);
        if (shared->inside.fetch_add(1) != 0) shared->overlaps.fetch_add(1);
        for (int spin = 0; spin < 50; ++spin)
            sched_yield();
        shared->entries.fetch_add(1);
        shared->inside.fetch_sub(1);
        DeviceMutex_Release(mutex);
    }
}

// Names in a folder whose text contains one of the given parts.
std::set<std::string> Matching(const std::string& folder, const std::vector<std::string>& parts) {
    std::set<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        std::string name = entry.path().filename().string();
        for (const std::string& part : parts) {
            if (name.find(part) != std::string::npos) names.insert(name);
        }
    }
    return names;
}

class DriveLocksTest : public ::testing::Test {
  protected:
    TempDir devices; // holds the stand-in "sr0"
    TempDir temp;    // the run's temporary folder
    PosixHost posix;
    std::string savedTemp;
    // A drive name of this run only, so that the old lock file names are this test's own.
    std::string name = "LOCKTEST" + std::to_string(::getpid()) + ":";

    void SetUp() override {
        devices.write("sr0", "");
        posix.setDeviceFolder(devices.path());
        if (const char* t = std::getenv("TMPDIR")) savedTemp = t;
        ::setenv("TMPDIR", temp.path().c_str(), 1);
        setHost(&posix);
        alarm(60); // a lock that is never released fails the test instead of hanging it
    }
    void TearDown() override {
        alarm(0);
        setHost(nullptr);
        if (savedTemp.empty())
            ::unsetenv("TMPDIR");
        else
            ::setenv("TMPDIR", savedTemp.c_str(), 1);
    }
    HostHandle openDevice() { return posix.createDeviceFile("\\\\.\\D:", 0, 0, 0); }
};

// A drive reached through its own device file, as the pass-through backend opens it.
struct StandInDrive {
    Device device;
    RecHandle handle;
    StandInDrive(Host& host, HostHandle file, const std::string& identity = {}) {
        device.header.deviceFile = file;
        std::snprintf(device.header.identity, sizeof device.header.identity, "%s",
                      identity.empty() ? host.deviceIdentity(file).c_str() : identity.c_str());
        handle.device = &device;
    }
};

TEST_F(DriveLocksTest, TwoProcessesNeverHoldTheDriveMutexTogether) {
    void* memory =
        mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(memory, MAP_FAILED);
    auto* shared = new (memory) Shared{};
    constexpr int kRounds = 300;

    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        HostHandle file = openDevice();
        DeviceMutex* mutex = DeviceMutex_Open(name.c_str(), file);
        if (!file || !mutex) _exit(2);
        Critical(mutex, shared, kRounds);
        DeviceMutex_Close(mutex);
        _exit(0);
    }
    HostHandle file = openDevice();
    DeviceMutex* mutex = DeviceMutex_Open(name.c_str(), file);
    ASSERT_NE(mutex, nullptr);
    Critical(mutex, shared, kRounds);
    int status = 0;
    waitpid(child, &status, 0);
    DeviceMutex_Close(mutex);
    posix.closeDevice(file);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(shared->entries.load(), 2 * kRounds);
    EXPECT_EQ(shared->overlaps.load(), 0);
    munmap(memory, sizeof(Shared));
}

TEST_F(DriveLocksTest, AHolderThatDiesReleasesTheMutex) {
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        DeviceMutex* mutex = DeviceMutex_Open(name.c_str(), openDevice());
        if (!mutex) _exit(2);
        DeviceMutex_Wait(mutex);
        _exit(0); // dies holding it
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    HostHandle file = openDevice();
    DeviceMutex* mutex = DeviceMutex_Open(name.c_str(), file);
    DeviceMutex_Wait(mutex); // would never return if the lock had outlived its holder
    DeviceMutex_Release(mutex);
    DeviceMutex_Close(mutex);
    posix.closeDevice(file);
}

TEST_F(DriveLocksTest, ThreadsSharingOneHandleOrUsingTwoAreSerialised) {
    Shared shared{};
    HostHandle fileOne = openDevice(), fileTwo = openDevice();
    DeviceMutex* one = DeviceMutex_Open(name.c_str(), fileOne);
    DeviceMutex* two = DeviceMutex_Open(name.c_str(), fileTwo);
    ASSERT_NE(one, nullptr);
    ASSERT_NE(two, nullptr);
    std::thread a([&] { Critical(one, &shared, 200); });
    std::thread b([&] { Critical(one, &shared, 200); });
    std::thread c([&] { Critical(two, &shared, 200); });
    a.join();
    b.join();
    c.join();
    EXPECT_EQ(shared.overlaps.load(), 0);
    EXPECT_EQ(shared.entries.load(), 600);
    DeviceMutex_Close(one);
    DeviceMutex_Close(two);
    posix.closeDevice(fileOne);
    posix.closeDevice(fileTwo);
}

// What another user could plant where the locks once were (a FIFO, a file only its owner may
// open) neither blocks nor splits them, and no lock leaves a file in a shared folder. The job
// lock is taken by whoever has the device: another open here, or another process.
TEST_F(DriveLocksTest, NothingPlantedInASharedFolderBlocksOrSplitsTheLocks) {
    HostHandle file = openDevice();
    ASSERT_NE(file, nullptr);
    const std::string identity = posix.deviceIdentity(file);
    const std::vector<std::string> oldNames = {"MERADIN_TORVEXIN_MUTEX_" + name,
                                               "TORVEXIN_JOB_" + identity};
    const std::vector<std::string> sharedFolders = {"/run/lock", temp.path()};
    std::vector<std::string> planted;
    for (const std::string& folder : sharedFolders) {
        if (::access(folder.c_str(), W_OK) != 0) continue;
        std::string fifo = folder + "/" + oldNames[0], file600 = folder + "/" + oldNames[1];
        ASSERT_EQ(::mkfifo(fifo.c_str(), 0666), 0) << fifo;
        int fd = ::open(file600.c_str(), O_CREAT | O_EXCL | O_WRONLY, 0600);
        ASSERT_GE(fd, 0) << file600;
        ::close(fd);
        planted.push_back(fifo);
        planted.push_back(file600);
    }
    std::vector<std::set<std::string>> before;
    for (const std::string& folder : sharedFolders)
        before.push_back(Matching(folder, {name, identity}));

    StandInDrive drive(posix, file);
    DeviceMutex* mutex = DeviceMutex_Open(name.c_str(), file);
    {
        JobLock job(&drive.handle);
        ASSERT_TRUE(job.held());
        // The job's own commands still go out: the command lock is another byte.
        DeviceMutex_Wait(mutex);
        DeviceMutex_Release(mutex);
        // Another open of the device, even under another name, finds the drive taken.
        HostHandle otherFile = openDevice();
        StandInDrive other(posix, otherFile, "another-name-of-the-same-drive");
        JobLock second(&other.handle);
        EXPECT_FALSE(second.held());
        EXPECT_STREQ(other.handle.lastError.description, kDriveInUseText);
        EXPECT_EQ(other.handle.lastError.location, 1010);
        posix.closeDevice(otherFile);
    }
    // Another process holding the drive's job byte refuses a job here until it lets go.
    int toChild[2], fromChild[2];
    ASSERT_EQ(::pipe(toChild), 0);
    ASSERT_EQ(::pipe(fromChild), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        HostHandle childFile = openDevice();
        char ready =
            childFile && posix.lockDevice(childFile, kDeviceLockJob, false) == LockAttempt::Acquired
                ? 'y'
                : 'n';
        char go;
        if (::write(fromChild[1], &ready, 1) != 1 || ::read(toChild[0], &go, 1) != 1) _exit(1);
        _exit(0);
    }
    char ready = 0;
    ASSERT_EQ(::read(fromChild[0], &ready, 1), 1);
    ASSERT_EQ(ready, 'y');
    {
        JobLock refused(&drive.handle);
        EXPECT_FALSE(refused.held());
        EXPECT_STREQ(drive.handle.lastError.description, kDriveInUseText);
    }
    char go = 'g';
    ASSERT_EQ(::write(toChild[1], &go, 1), 1);
    int status = 0;
    waitpid(child, &status, 0);
    for (int fd : {toChild[0], toChild[1], fromChild[0], fromChild[1]})
        ::close(fd);
    {
        JobLock after(&drive.handle);
        EXPECT_TRUE(after.held());
    }
    DeviceMutex_Close(mutex);
    posix.closeDevice(file);

    for (size_t i = 0; i < sharedFolders.size(); ++i)
        EXPECT_EQ(Matching(sharedFolders[i], {name, identity}), before[i])
            << "a lock made a file in " << sharedFolders[i];
    for (const std::string& path : planted)
        ::unlink(path.c_str());
}

TEST(EventTest, AutomaticResetEventsWakeOneWaitAndManualOnesStaySet) {
    PosixHost posix;
    HostHandle automatic = posix.createEvent(false, true);
    EXPECT_TRUE(posix.waitEvent(automatic, 0));
    EXPECT_FALSE(posix.waitEvent(automatic, 0));
    HostHandle manual = posix.createEvent(true, false);
    EXPECT_FALSE(posix.waitEvent(manual, 0));
    std::thread setter([&] { posix.setEvent(manual); });
    EXPECT_TRUE(posix.waitEvent(manual, 0xFFFFFFFFu));
    setter.join();
    EXPECT_TRUE(posix.waitEvent(manual, 0));
    posix.resetEvent(manual);
    EXPECT_FALSE(posix.waitEvent(manual, 0));
    posix.closeEvent(automatic);
    posix.closeEvent(manual);
}

TEST(EventTest, SimulatedWaitsAdvanceVirtualTimeInsteadOfSleeping) {
    SimHost sim;
    HostHandle event = sim.createEvent(true, false);
    uint64_t before = sim.virtualClock().nowMs();
    EXPECT_FALSE(sim.waitEvent(event, 30 * 60 * 1000));
    EXPECT_EQ(sim.virtualClock().nowMs() - before, 30u * 60 * 1000);
    sim.closeEvent(event);
}

// A device node that opens but carries no pass-through request is no drive: it does not make
// the pass-through path the library's choice, so the other paths (the virtual drives among them)
// are still tried.
TEST_F(DriveLocksTest, NodesThatAreNoWorkingDriveDoNotWinTheProbe) {
    const std::string node = devices.file("sr0");
    const std::vector<std::pair<const char*, std::function<int()>>> nodes = {
        {"a regular file", [&] { return ::close(::open(node.c_str(), O_CREAT | O_WRONLY, 0644)); }},
        {"/dev/null", [&] { return ::symlink("/dev/null", node.c_str()); }},
        {"a FIFO", [&] { return ::mkfifo(node.c_str(), 0644); }},
    };
    for (const auto& [what, plant] : nodes) {
        SCOPED_TRACE(what);
        std::remove(node.c_str());
        ASSERT_EQ(plant(), 0);
        EXPECT_EQ(ProbeSpti(), 0);
    }
}

} // namespace
} // namespace tvx::test
