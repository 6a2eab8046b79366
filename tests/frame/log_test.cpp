#include "frame/log.h"

#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace tvx {
namespace {

class LogTest : public ::testing::Test {
  protected:
    test::TempDir dir;
    test::ScopedSimHost sim;
    void SetUp() override { sim->setTempDirectory(dir.path() + "/"); }
    std::string log() { return test::ReadWholeFile(dir.file("Torvexin.log")); }
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

} // namespace
} // namespace tvx
