#include "frame/log.h"

#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>

#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

namespace tvx {
namespace {

class LogTest : public ::testing::Test {
  protected:
    test::TempDir dir;
    test::ScopedSimHost sim;
    void SetUp() override { sim->setTempDirectory(dir.path() + "/"); }
    // Line ends as written on POSIX; Windows writes the log in text mode (CR LF).
    std::string log() {
        std::string text = test::ReadWholeFile(dir.file("Torvexin.log"));
        std::erase(text, '\r');
        return text;
    }
};

TEST_F(LogTest, LinesAppendAndAreNeverTruncated) {
    dir.write("Torvexin.log", "earlier line\n");
    LogWrite("Try: OpenByDeviceFile(%s)\n", "D:");
    LogWrite("%s", "");
    LogWrite("FOUND [%s](%d,%d,%d)[%-8s][%-16s][%-4s]\n", "D:", 1, 0, 0, "SONY", "DVD RW", "1.0");
    EXPECT_EQ(log(), "earlier line\nTry: OpenByDeviceFile(D:)\n"
                     "FOUND [D:](1,0,0)[SONY    ][DVD RW          ][1.0 ]\n");
}

TEST_F(LogTest, MessagesAreCutAt511Characters) {
    std::string longText(700, 'x');
    LogWrite("%s\n", longText.c_str());
    EXPECT_EQ(log(), std::string(511, 'x'));
}

TEST_F(LogTest, SystemErrorTexts) {
    LogSystemError(0);
    LogSystemError(0x7FFFFFF0u); // no system text for this number
    std::string text = log();
    EXPECT_EQ(text.rfind("The operation completed successfully.\n\n", 0), 0u) << text;
    EXPECT_NE(text.find("Format message failed.  Error: "), std::string::npos) << text;
}

// A system text of 80 characters or more does not fit the request's buffer: the line carries
// the error of that failed request, whatever error the host had before.
class LongTextHost : public SimHost {
  public:
    bool systemErrorText(uint32_t, std::string& text) override {
        text = std::string(79, 'x') + "\n";
        return true;
    }
    uint32_t lastError() override { return 5; }
};

TEST_F(LogTest, SystemTextTooLongForTheBuffer) {
    LongTextHost longText;
    longText.setTempDirectory(dir.path() + "/");
    setHost(&longText);
    LogSystemError(2);
    setHost(&*sim);
    EXPECT_EQ(log(), "Format message failed.  Error: 122\n");
}

TEST_F(LogTest, UnwritableTemporaryDirectoryLosesTheLineQuietly) {
    // A temporary "directory" below a plain file cannot hold the log, even for root.
    std::string blocker = dir.write("plain-file", "x");
    sim->setTempDirectory(blocker + "/sub/");
    LogWrite("lost line\n");
    EXPECT_FALSE(std::filesystem::exists(blocker + "/sub/Torvexin.log"));
    EXPECT_EQ(test::ReadWholeFile(blocker), "x");
}

#if !defined(_WIN32)
TEST_F(LogTest, OnlyTheCallersOwnRegularFileIsWritten) {
    const std::string logPath = dir.file("Torvexin.log");
    // A new log is private to its user.
    LogWrite("first\n");
    struct stat st {};
    ASSERT_EQ(::stat(logPath.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    std::filesystem::remove(logPath);

    // A link planted in its place is not followed, whether its target exists or not.
    std::string victim = dir.write("victim.txt", "precious\n");
    std::filesystem::create_symlink(victim, logPath);
    LogWrite("planted\n");
    EXPECT_EQ(test::ReadWholeFile(victim), "precious\n");
    std::filesystem::remove(logPath);
    std::filesystem::create_symlink(dir.file("created-by-link"), logPath);
    LogWrite("planted\n");
    EXPECT_FALSE(std::filesystem::exists(dir.file("created-by-link")));
    std::filesystem::remove(logPath);

    // A FIFO without a reader neither blocks nor receives the line.
    ASSERT_EQ(::mkfifo(logPath.c_str(), 0600), 0);
    LogWrite("into the pipe\n");
    std::filesystem::remove(logPath);

    // Another user's file is left alone (needs the right to give a file away).
    dir.write("Torvexin.log", "theirs\n");
    if (::chown(logPath.c_str(), 65534, 65534) == 0) {
        LogWrite("mine\n");
        EXPECT_EQ(test::ReadWholeFile(logPath), "theirs\n");
    }
}
#endif

} // namespace
} // namespace tvx
