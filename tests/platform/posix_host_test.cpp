#include "platform/posix/posix_host.h"
#include "platform/text.h"

#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>

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

TEST(TextTest, InvalidSequencesBecomeReplacementCharacters) {
    std::u16string wide;
    Utf8ToUtf16("a\xFF\xC3", wide);
    EXPECT_EQ(wide, std::u16string(u"a\uFFFD\uFFFD"));
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
    EXPECT_FALSE(host.fullPath("/" + std::string(300, 'x'), out));
}

TEST(PosixHostTest, FindListsAFolderAndMarksHiddenEntries) {
    test::TempDir dir;
    dir.write("f.txt", "hello");
    dir.write(".hidden", "");
    dir.mkdir("sub");
    PosixHost host;
    std::vector<FindResult> found;
    ASSERT_TRUE(host.findFiles(dir.path() + "/*.*", found));
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
    ASSERT_TRUE(host.findFiles(dir.file("f.txt"), one));
    EXPECT_EQ(one.at(0).name, "f.txt");
    std::vector<FindResult> none;
    EXPECT_FALSE(host.findFiles(dir.file("missing"), none));
    EXPECT_FALSE(host.findFiles(dir.file("sub") + "/*.*", none)); // empty folder
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
