#include "platform/posix/posix_host.h"
#include "support/temp_dir.h"
#include "transport/device_mutex.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <sched.h>
#include <sys/mman.h>
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

void Critical(Host& h, HostHandle mutex, Shared* shared, int rounds) {
    for (int i = 0; i < rounds; ++i) {
        h.waitMutex(mutex);
        if (shared->inside.fetch_add(1) != 0) shared->overlaps.fetch_add(1);
        for (int spin = 0; spin < 50; ++spin)
            sched_yield();
        shared->entries.fetch_add(1);
        shared->inside.fetch_sub(1);
        h.releaseMutex(mutex);
    }
}

class DeviceMutexTest : public ::testing::Test {
  protected:
    TempDir dir;
    PosixHost posix;
    void SetUp() override {
        posix.setMutexDirectory(dir.path());
        setHost(&posix);
        alarm(60); // a lock that is never released fails the test instead of hanging it
    }
    void TearDown() override {
        alarm(0);
        setHost(nullptr);
    }
};

TEST_F(DeviceMutexTest, TwoProcessesNeverHoldTheDriveMutexTogether) {
    void* memory =
        mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(memory, MAP_FAILED);
    auto* shared = new (memory) Shared{};
    constexpr int kRounds = 300;

    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        HostHandle mutex = DeviceMutex_Open("D:");
        if (!mutex) _exit(2);
        Critical(posix, mutex, shared, kRounds);
        DeviceMutex_Close(mutex);
        _exit(0);
    }
    HostHandle mutex = DeviceMutex_Open("D:");
    ASSERT_NE(mutex, nullptr);
    Critical(posix, mutex, shared, kRounds);
    int status = 0;
    waitpid(child, &status, 0);
    DeviceMutex_Close(mutex);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(shared->entries.load(), 2 * kRounds);
    EXPECT_EQ(shared->overlaps.load(), 0);
    EXPECT_TRUE(std::filesystem::exists(dir.file("MERADIN_TORVEXIN_MUTEX_D:")));
    munmap(memory, sizeof(Shared));
}

TEST_F(DeviceMutexTest, AHolderThatDiesReleasesTheMutex) {
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        HostHandle mutex = DeviceMutex_Open("E:");
        if (!mutex) _exit(2);
        posix.waitMutex(mutex);
        _exit(0); // dies holding it
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    HostHandle mutex = DeviceMutex_Open("E:");
    ASSERT_NE(mutex, nullptr);
    posix.waitMutex(mutex); // would never return if the lock had outlived its holder
    posix.releaseMutex(mutex);
    DeviceMutex_Close(mutex);
}

TEST_F(DeviceMutexTest, ThreadsSharingOneHandleOrUsingTwoAreSerialised) {
    Shared shared{};
    HostHandle one = DeviceMutex_Open("F:");
    HostHandle two = DeviceMutex_Open("F:");
    ASSERT_NE(one, nullptr);
    ASSERT_NE(two, nullptr);
    std::thread a([&] { Critical(posix, one, &shared, 200); });
    std::thread b([&] { Critical(posix, one, &shared, 200); });
    std::thread c([&] { Critical(posix, two, &shared, 200); });
    a.join();
    b.join();
    c.join();
    EXPECT_EQ(shared.overlaps.load(), 0);
    EXPECT_EQ(shared.entries.load(), 600);
    DeviceMutex_Close(one);
    DeviceMutex_Close(two);
}

TEST_F(DeviceMutexTest, OpeningFailsOnlyWhereNoLockFileCanBeMade) {
    EXPECT_EQ(posix.openMutex("never-created"), nullptr);
    posix.setMutexDirectory(dir.file("missing-folder"));
    EXPECT_EQ(DeviceMutex_Open("G:"), nullptr);
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

} // namespace
} // namespace tvx::test
