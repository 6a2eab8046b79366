// One image has one owner of its state: drives of a process share its disc, another process is
// kept out, and nothing another user plants beside the image is followed or waited on.
#include "support/temp_dir.h"
#include "vdrive_fixture.h"

#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <sys/stat.h>
#include <sys/wait.h>
#include <tuple>
#include <unistd.h>

namespace tvx::vdrive::test {
namespace {

using tvx::test::ReadWholeFile;
using tvx::test::TempDir;

// Another process, forked before the test attaches anything so that it shares none of this
// one's attachments. It runs check when run() is called and is killed after a few seconds, so a
// hang fails rather than stalls the suite.
class OtherProcess {
  public:
    explicit OtherProcess(const std::function<bool()>& check) {
        if (::pipe(go_) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            char c = 0;
            if (::read(go_[0], &c, 1) != 1) ::_exit(3);
            ::alarm(5);
            ::_exit(check() ? 0 : 1);
        }
        ::close(go_[0]);
    }
    ~OtherProcess() { run(); }
    // True when check returned true.
    bool run() {
        if (pid_ <= 0) return false;
        (void)!::write(go_[1], "g", 1);
        ::close(go_[1]);
        int status = 0;
        bool done = ::waitpid(pid_, &status, 0) == pid_;
        pid_ = 0;
        return done && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }

  private:
    int go_[2] = {-1, -1};
    pid_t pid_ = 0;
};

class Ownership : public DriveTest {
  protected:
    TempDir dir;
    std::string image = dir.file("disc.img");
};

TEST_F(Ownership, DrivesOfOneProcessShareTheDiscWhicheverDetachesFirst) {
    for (bool burnedFirst : {true, false}) {
        SCOPED_TRACE(burnedFirst ? "burning drive detaches first" : "other drive detaches first");
        ASSERT_TRUE(drive->insertBlank(MediumKind::DvdPlusR, 1000, image)) << drive->lastError();
        // The second attachment names the image by another path: it is still the same image.
        std::string link = dir.file(burnedFirst ? "a.lnk" : "b.lnk");
        ASSERT_EQ(::symlink(image.c_str(), link.c_str()), 0);
        auto other = std::make_unique<VirtualRecorder>(clock);
        ASSERT_TRUE(other->openDisc(link)) << other->lastError();
        // A blank disc may not replace an image other drives hold.
        VirtualRecorder third(clock);
        EXPECT_FALSE(third.insertBlank(MediumKind::DvdPlusR, 1000, image));
        EXPECT_NE(third.lastError().find("already attached"), std::string::npos);

        ASSERT_TRUE(write10(0, 16).good());
        ASSERT_TRUE(closeTrackSession(1, 1).good());
        pollUntilGood([&] { return readCapacity(); });
        EXPECT_EQ(other->disc().tracks.size(), 2u) << "the other drive sees the burned track";

        if (burnedFirst) {
            drive.reset();
            other.reset();
        } else {
            other.reset();
            drive.reset();
        }
        drive = std::make_unique<VirtualRecorder>(clock);
        ASSERT_TRUE(drive->openDisc(image)) << drive->lastError();
        DiscView v = drive->disc();
        ASSERT_GE(v.tracks.size(), 1u);
        EXPECT_TRUE(v.tracks[0].closed);
        EXPECT_EQ(v.tracks[0].recordedBlocks, 16u);
        drive->removeDisc();
    }
}

TEST_F(Ownership, AnotherProcessIsRefusedWhileTheImageIsAttached) {
    OtherProcess intruder([&] {
        VirtualRecorder other(clock);
        bool blankRefused = !other.insertBlank(MediumKind::DvdR, 10, image) &&
                            other.lastError() == image + " is in use by another process";
        return blankRefused && !other.openDisc(image) &&
               !other.loadImage(image, MediumKind::DvdRom);
    });
    OtherProcess successor([&] {
        VirtualRecorder other(clock);
        return other.openDisc(image);
    });
    ASSERT_TRUE(drive->insertRecorded(MediumKind::DvdPlusRw, 10, false, 1000, image));
    ASSERT_TRUE(write10(0, 1, 0x5A).good());
    ASSERT_TRUE(drive->flush());
    EXPECT_TRUE(intruder.run());
    EXPECT_EQ(read10(0, 1).data.at(100), 0x5A) << "the refused blank disc emptied the image";
    drive->removeDisc();
    EXPECT_TRUE(successor.run()) << "a detached image is free again";
}

TEST_F(Ownership, PlantedNamesAreNeitherFollowedNorWaitedOn) {
    std::string victim = dir.file("victim");
    std::string state = image + ".state";
    struct Case {
        const char* what;
        std::function<void()> plant;
        std::function<bool()> attempt; // true when the drive behaved
    };
    auto attachAndSave = [&] {
        return drive->insertBlank(MediumKind::DvdR, 100, image) && drive->flush();
    };
    const Case cases[] = {
        {"a link at the old fixed temporary name",
         [&] { ASSERT_EQ(::symlink(victim.c_str(), (state + ".tmp").c_str()), 0); }, attachAndSave},
        {"a FIFO at the old fixed temporary name",
         [&] { ASSERT_EQ(::mkfifo((state + ".tmp").c_str(), 0666), 0); }, attachAndSave},
        {"a FIFO as the state file",
         [&] {
             ASSERT_EQ(::close(::open(image.c_str(), O_CREAT | O_WRONLY, 0644)), 0);
             ASSERT_EQ(::mkfifo(state.c_str(), 0666), 0);
         },
         [&] { return !drive->openDisc(image); }},
        {"a link to the victim as the state file",
         [&] {
             ASSERT_EQ(::close(::open(image.c_str(), O_CREAT | O_WRONLY, 0644)), 0);
             ASSERT_EQ(::symlink(victim.c_str(), state.c_str()), 0);
         },
         [&] { return !drive->openDisc(image); }},
        {"a dangling link as a new image",
         [&] { ASSERT_EQ(::symlink(dir.file("elsewhere").c_str(), image.c_str()), 0); },
         [&] {
             return !drive->insertBlank(MediumKind::DvdR, 100, image) &&
                    drive->lastError().find("symbolic link") != std::string::npos &&
                    ::access(dir.file("elsewhere").c_str(), F_OK) != 0;
         }},
        {"a state file before its new image",
         [&] { dir.write("disc.img.state", "kind=DVD-R\ncapacity=100\n"); },
         [&] {
             return !drive->insertBlank(MediumKind::DvdR, 100, image) &&
                    drive->lastError().find(state) != std::string::npos &&
                    ::access(image.c_str(), F_OK) != 0;
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (const std::string& planted : {image, state, state + ".tmp"})
            std::remove(planted.c_str());
        dir.write("victim", "precious");
        OtherProcess attempt(c.attempt);
        c.plant();
        EXPECT_TRUE(attempt.run());
        EXPECT_EQ(ReadWholeFile(victim), "precious");
    }
}

// What another user leaves in a folder both may write to: a link (refused as the kernel's
// protected_symlinks would, whatever the machine's setting), an image anybody may write.
TEST_F(Ownership, AnotherUsersLinkOrWorldWritableImageIsRefused) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs to give files to another user";
    // A link (else an image of mode 0666), its owner, a sticky folder, the refusal (null: used).
    const std::tuple<bool, uid_t, bool, const char*> cases[] = {
        {true, 65534, true, "symbolic link of another user"},
        {true, 0, true, nullptr},
        {true, 65534, false, nullptr},
        {false, 65534, true, "every user may write"}};
    for (auto [link, owner, sticky, refusal] : cases) {
        ASSERT_EQ(::chmod(dir.path().c_str(), sticky ? 01777 : 0700), 0);
        std::remove(image.c_str());
        const std::string victim = dir.write("victim", std::string(2048, 'v'));
        ASSERT_EQ(link ? ::symlink(victim.c_str(), image.c_str())
                       : ::chmod(dir.write("disc.img", victim).c_str(), 0666),
                  0);
        ASSERT_EQ(::lchown(image.c_str(), owner, owner), 0);
        EXPECT_EQ(drive->loadImage(image, MediumKind::DvdPlusRw), refusal == nullptr);
        EXPECT_NE(drive->lastError().find(refusal ? refusal : ""), std::string::npos);
        drive->removeDisc();
    }
    ASSERT_EQ(::chmod(dir.path().c_str(), 0700), 0);
}

// Whatever a user who may only read the image locks of it, its owner still attaches it.
TEST_F(Ownership, AReaderOfTheImageCannotKeepItsOwnerOut) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs to act as another user";
    ASSERT_TRUE(drive->insertRecorded(MediumKind::DvdPlusRw, 10, false, 100, image));
    drive->removeDisc();
    ASSERT_EQ(::chmod(image.c_str(), 0644), 0);
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    ASSERT_EQ(::seteuid(65534), 0);
    const int reader = ::open(image.c_str(), O_RDONLY);
    const int lockFile = ::open((image + ".lock").c_str(), O_RDONLY);
    struct flock all {};
    all.l_type = F_RDLCK;
    all.l_whence = SEEK_SET;
    const bool locked = reader >= 0 && ::fcntl(reader, F_OFD_SETLK, &all) == 0;
    ASSERT_EQ(::seteuid(0), 0);
    EXPECT_TRUE(locked);
    EXPECT_LT(lockFile, 0) << "the owner's lock file is the owner's alone";
    EXPECT_TRUE(drive->openDisc(image)) << drive->lastError();
    ::close(reader);
    ASSERT_EQ(::chmod(dir.path().c_str(), 0700), 0);
}

TEST_F(Ownership, StateFileTakesTheImagesPermissionsAndNoTemporaryIsLeft) {
    const mode_t mask = ::umask(022);
    ASSERT_TRUE(drive->insertBlank(MediumKind::DvdR, 100, image));
    ::umask(mask);
    struct stat made {};
    ASSERT_EQ(::stat(image.c_str(), &made), 0);
    EXPECT_EQ(made.st_mode & 0777, 0600u) << "a new image is its owner's alone";
    ASSERT_EQ(::chmod(image.c_str(), 0640), 0);
    drive->removeDisc();
    ASSERT_TRUE(drive->openDisc(image));
    ASSERT_TRUE(drive->flush());
    struct stat st {};
    ASSERT_EQ(::stat((image + ".state").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    size_t entries = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path()))
        ++entries;
    EXPECT_EQ(entries, 3u) << "the image, its state and its lock only";
}

TEST(Trace, IsOffUntilAskedForAndThenKeepsTheLatestCommands) {
    VirtualClock clock;
    VirtualRecorder drive(clock);
    uint8_t unitReady[6] = {0x00};
    uint8_t inquiry[6] = {0x12, 0, 0, 0, 36, 0};
    uint8_t data[36];
    ScsiRequest ready{};
    ready.cdb = unitReady;
    ready.cdbLength = 6;
    for (int i = 0; i < 100; ++i)
        drive.execute(ready);
    EXPECT_TRUE(drive.trace().empty());

    drive.setTraceEnabled(true);
    for (size_t i = 0; i < 3 * kTraceLimit; ++i)
        drive.execute(ready);
    ScsiRequest last = ready;
    last.cdb = inquiry;
    last.direction = DataDirection::FromDevice;
    last.data = data;
    last.byteCount = sizeof data;
    drive.execute(last);
    EXPECT_LE(drive.trace().size(), kTraceLimit);
    EXPECT_GE(drive.trace().size(), kTraceLimit / 2);
    EXPECT_EQ(drive.trace().back().opcode(), 0x12);
}

} // namespace
} // namespace tvx::vdrive::test
