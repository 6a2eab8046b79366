#include "image/iso_names.h"
#include "image/plan.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace tvx {
namespace {

struct PlanDeleter {
    void operator()(VolumePlan* p) const { Plan_Free(p); }
};
using PlanPtr = std::unique_ptr<VolumePlan, PlanDeleter>;

PlanPtr NewPlan() {
    return PlanPtr(Plan_Create("UDF102"));
}

std::vector<std::string> Names(const FileNode* dir) {
    std::vector<std::string> out;
    for (const FileNode* c = dir->firstChild; c; c = c->nextSibling)
        out.push_back(c->name);
    return out;
}

std::string Iso(const FileNode* n) {
    return std::string(n->isoName, n->isoNameLength);
}

class PlanTree : public ::testing::Test {
  protected:
    void SetUp() override { sim->setTempDirectory(tmp.mkdir("log") + "/"); }
    std::string log() const { return test::ReadWholeFile(tmp.file("log/Torvexin.log")); }
    test::TempDir tmp;
    test::ScopedSimHost sim;
};

// A host on which listing one folder fails, as it does for a folder without read permission
// (which does not bind root, who runs the tests in CI).
class UnlistableFolderHost : public SimHost {
  public:
    explicit UnlistableFolderHost(std::string folder) : folder_(std::move(folder)) {}
    bool listFolder(const std::string& folder, const FolderVisitor& each,
                    std::vector<std::string>& skipped, bool openFiles) override {
        if (folder == folder_) {
            setLastError(EACCES);
            return false;
        }
        return SimHost::listFolder(folder, each, skipped, openFiles);
    }

  private:
    std::string folder_;
};

TEST_F(PlanTree, FileSetMakesParentsAndReplacesEntries) {
    PlanPtr plan = NewPlan();
    std::string src = tmp.write("c.txt", "hello");
    std::string other = tmp.write("d.txt", "bye!!!");
    ASSERT_TRUE(Plan_AddFileSetEntry(plan.get(), "\\A\\B\\c.txt", src.c_str()));
    EXPECT_EQ(plan->directoryCount, 3u);
    EXPECT_EQ(plan->fileCount, 1u);
    FileNode* c = Plan_FindNode(&plan->root, "/a/b/C.TXT");
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->sourcePath, src);
    EXPECT_EQ(c->size(), 5u);
    EXPECT_EQ(c->sectorCount, 1u);

    ASSERT_TRUE(Plan_AddFileSetEntry(plan.get(), "A/B/c.txt", other.c_str()));
    EXPECT_EQ(plan->fileCount, 1u);
    EXPECT_EQ(Plan_FindNode(&plan->root, "A/B/c.txt")->sourcePath, other);

    // A file replaces a whole directory, and the counts follow.
    ASSERT_TRUE(Plan_AddFileSetEntry(plan.get(), "A", src.c_str()));
    EXPECT_EQ(plan->directoryCount, 1u);
    EXPECT_EQ(plan->fileCount, 1u);
    EXPECT_EQ(Plan_CountEntries(&plan->root), 2u);
    EXPECT_EQ(Plan_CountDirectories(&plan->root), 1u);

    ASSERT_TRUE(Plan_AddFileSetEntry(plan.get(), "top.txt", src.c_str()));
    EXPECT_EQ(Plan_FindNode(&plan->root, "top.txt")->parent, &plan->root);
    ASSERT_TRUE(Plan_AddFileSetEntry(plan.get(), "\\x\\a:b?.txt", src.c_str()));
    EXPECT_NE(Plan_FindNode(&plan->root, "x/a_b_.txt"), nullptr);
}

TEST_F(PlanTree, FileSetRefusals) {
    PlanPtr plan = NewPlan();
    std::string src = tmp.write("f.bin", "x");
    tmp.mkdir("folder");
    EXPECT_FALSE(Plan_AddFileSetEntry(plan.get(), nullptr, src.c_str()));
    EXPECT_FALSE(Plan_AddFileSetEntry(plan.get(), "a.txt", nullptr));
    EXPECT_FALSE(Plan_AddFileSetEntry(plan.get(), "\\", src.c_str()));
    EXPECT_FALSE(Plan_AddFileSetEntry(plan.get(), "a.txt", tmp.file("missing").c_str()));
    // A folder as a file's source would lose its contents.
    EXPECT_FALSE(Plan_AddFileSetEntry(plan.get(), "dir", tmp.file("folder").c_str()));
    ASSERT_TRUE(Plan_AddFileSetEntry(plan.get(), "file", src.c_str()));
    EXPECT_FALSE(Plan_AddFileSetEntry(plan.get(), "file/below.txt", src.c_str()));
    // A leaf that only its cleaning makes equal to an entry clashes; the entry stays.
    ASSERT_TRUE(Plan_AddFileSetEntry(plan.get(), "a_b", src.c_str()));
    EXPECT_FALSE(Plan_AddFileSetEntry(plan.get(), "a:b", tmp.file("folder").c_str()));
    EXPECT_FALSE(Plan_AddFileSetEntry(plan.get(), "/a:b", src.c_str()));
    EXPECT_NE(Plan_FindNode(&plan->root, "a_b"), nullptr);
    // A path in the volume holds 259 bytes as it is opened again ("/ddd/ppp...").
    PlanPtr fits = NewPlan();
    EXPECT_TRUE(
        Plan_AddFileSetEntry(fits.get(), ("ddd/" + std::string(254, 'p')).c_str(), src.c_str()));
    EXPECT_FALSE(
        Plan_AddFileSetEntry(plan.get(), ("dddd/" + std::string(254, 'p')).c_str(), src.c_str()));
    EXPECT_NE(plan->refusal.rule.find("260 bytes long, beyond the 259"), std::string::npos)
        << plan->refusal.rule;
    // A name whose recorded form exceeds 255 bytes: 128 characters outside Latin-1.
    std::string wide;
    for (int i = 0; i < 128; ++i)
        wide += "\xC4\x80";
    EXPECT_FALSE(Plan_AddFileSetEntry(plan.get(), wide.c_str(), src.c_str()));
    wide.resize(wide.size() - 2);
    EXPECT_TRUE(Plan_AddFileSetEntry(plan.get(), wide.c_str(), src.c_str()));
    EXPECT_EQ(Plan_FindNode(&plan->root, wide.c_str())->udfNameLength, 255u);
    EXPECT_EQ(plan->fileCount, 3u);
    EXPECT_EQ(plan->directoryCount, 1u);
}

// How file-set leaf names are recorded: UDF name (compressed d-characters) and ISO name, or
// refused (null).
TEST_F(PlanTree, NameCases) {
    struct Case {
        std::string leaf;
        const char* udf;
        const char* iso;
    } cases[] = {
        // Bytes that are no UTF-8 are the Latin-1 characters of their values, so names stay
        // apart and read back as Latin-1 readers show them.
        {"caf\xE9.txt",
         "\x08"
         "caf\xE9.txt",
         "CAF\xE9.TXT;1"},
        {"caf\xE8.txt",
         "\x08"
         "caf\xE8.txt",
         "CAF\xE8.TXT;1"},
        {"\xE6\x97", "\x08\xE6\x97", "\xE6\x97.;1"}, // a cut sequence: two characters
        {"\xC3\xA9t\xC3\xA9.txt", "\x08\xE9t\xE9.txt", "\xC3\xA9T\xC3\xA9.TXT;1"},
        // The UTF-8 spelling of a name already recorded from Latin-1 bytes.
        {"caf\xC3\xA9.txt", nullptr, nullptr},
        // "." and ".." are no names; no empty leaf either.
        {".", nullptr, nullptr},
        {"..", nullptr, nullptr},
        {"d/..", nullptr, nullptr},
        {"./x", nullptr, nullptr},
        {"", nullptr, nullptr},
        // An empty ISO base is fine beside an extension; a name of dots alone loses them.
        {".bashrc", "\x08.bashrc", ".BASHRC;1"},
        {".tar.gz", "\x08.tar.gz", ".GZ;1"},
        {"...", "\x08...", "_.;1"},
        {"..x.", "\x08..x.", "X.;1"},
        {"*?", "\x08__", "__.;1"}, // cleaned, not patterns
    };
    PlanPtr plan = NewPlan();
    std::string src = tmp.write("s", "1");
    for (const Case& c : cases) {
        uint32_t files = plan->fileCount;
        bool added = Plan_AddFileSetEntry(plan.get(), c.leaf.c_str(), src.c_str());
        if (!c.udf) {
            EXPECT_FALSE(added) << c.leaf;
            EXPECT_EQ(plan->fileCount, files);
            continue;
        }
        ASSERT_TRUE(added) << c.leaf;
        const FileNode* n = plan->root.firstChild; // the newest entry
        EXPECT_EQ(Node_UdfName(n), c.udf) << c.leaf;
        EXPECT_EQ(Iso(n), c.iso) << c.leaf;
    }
}

TEST_F(PlanTree, FindNodeTakesNamesLiterally) {
    PlanPtr plan = NewPlan();
    std::string src = tmp.write("s", "1");
    for (const char* p : {"D1/x.txt", "D2/y.txt", "D2/Readme", "other.TXT"}) {
        ASSERT_TRUE(Plan_AddFileSetEntry(plan.get(), p, src.c_str()));
    }
    EXPECT_EQ(Plan_FindNode(&plan->root, "d2\\README")->name, "Readme");
    EXPECT_EQ(Plan_FindNode(&plan->root, "D2/"), Plan_FindNode(&plan->root, "D2"));
    EXPECT_EQ(Plan_FindNode(&plan->root, "/"), &plan->root);
    EXPECT_EQ(Plan_FindNode(&plan->root, "D1/y.txt"), nullptr);
    EXPECT_EQ(Plan_FindNode(&plan->root, "other"), nullptr);
    // '*' and '?' are no wildcards: they name the entry whose cleaned name they give.
    for (const char* p : {"D*/y.txt", "*.txt", "D?", "*", "/*"})
        EXPECT_EQ(Plan_FindNode(&plan->root, p), nullptr) << p;
    ASSERT_TRUE(Plan_AddFileSetEntry(plan.get(), "/D2/report1.txt", src.c_str()));
    ASSERT_TRUE(Plan_AddFileSetEntry(plan.get(), "/D2/report?.txt", src.c_str()));
    ASSERT_TRUE(Plan_AddFileSetEntry(plan.get(), "/*", src.c_str()));
    EXPECT_NE(Plan_FindNode(&plan->root, "D2/report1.txt"), nullptr);
    EXPECT_EQ(Plan_FindNode(&plan->root, "D2/report?.txt")->name, "report_.txt");
    EXPECT_EQ(Plan_FindNode(&plan->root, "_")->name, "_");
    EXPECT_EQ(plan->fileCount, 7u);
    // A leading separator starts at the root whatever the start directory.
    FileNode* d1 = Plan_FindNode(&plan->root, "D1");
    EXPECT_EQ(Plan_FindNode(d1, "x.txt")->name, "x.txt");
    EXPECT_EQ(Plan_FindNode(d1, "/D2/y.txt")->name, "y.txt");
    EXPECT_EQ(Plan_FindNode(Plan_FindNode(d1, "x.txt"), "a"), nullptr); // not a directory
}

TEST_F(PlanTree, RemoveNodeKeepsCountsExact) {
    PlanPtr plan = NewPlan();
    std::string src = tmp.write("s", "1");
    for (const char* p : {"a/b/c/1", "a/b/2", "a/3", "4"}) {
        ASSERT_TRUE(Plan_AddFileSetEntry(plan.get(), p, src.c_str()));
    }
    EXPECT_EQ(plan->directoryCount, 4u);
    EXPECT_EQ(plan->fileCount, 4u);
    EXPECT_FALSE(Plan_RemoveNode(plan.get(), &plan->root, "a/b", false));
    EXPECT_FALSE(Plan_RemoveNode(plan.get(), &plan->root, "/", true));
    EXPECT_FALSE(Plan_RemoveNode(plan.get(), &plan->root, "nothing", true));
    EXPECT_TRUE(Plan_RemoveNode(plan.get(), &plan->root, "a/b", true));
    EXPECT_EQ(plan->directoryCount, 2u);
    EXPECT_EQ(plan->fileCount, 2u);
    EXPECT_EQ(Plan_CountDirectories(&plan->root), plan->directoryCount);
    EXPECT_EQ(Plan_CountEntries(&plan->root), plan->directoryCount + plan->fileCount);
    // The freed name can be used again.
    EXPECT_TRUE(Plan_AddFileSetEntry(plan.get(), "a/b", src.c_str()));
}

TEST_F(PlanTree, IsoNames) {
    PlanPtr plan = NewPlan();
    std::string src = tmp.write("s", "1");
    auto add = [&](const std::string& path) {
        EXPECT_TRUE(Plan_AddFileSetEntry(plan.get(), path.c_str(), src.c_str())) << path;
        return Iso(Plan_FindNode(&plan->root, path.c_str()));
    };
    EXPECT_EQ(add("video_ts.ifo"), "VIDEO_TS.IFO;1");
    EXPECT_EQ(add("readme.txt"), "README.TXT;1");
    EXPECT_EQ(add("Readme.TXT "), "README.TXT ;1");
    // A file-set path that names an entry in another case replaces it.
    EXPECT_EQ(add("README.txt"), "README.TXT;1");
    EXPECT_EQ(add("noext"), "NOEXT.;1");
    // Nine names sharing their first eight characters.
    std::vector<std::string> nine;
    for (int i = 0; i < 9; ++i)
        nine.push_back(add("d/longname" + std::to_string(i) + ".dat"));
    EXPECT_EQ(nine[0], "LONGNAME.DAT;1");
    EXPECT_EQ(nine[1], "LONGNA~1.DAT;1");
    EXPECT_EQ(nine[8], "LONGNA~8.DAT;1");
    // Directories: no extension, no version.
    FileNode* menu = Plan_AddDirectory(plan.get(), &plan->root, "Menu Pictures");
    FileNode* menu2 = Plan_AddDirectory(plan.get(), &plan->root, "Menu Pictures 2");
    EXPECT_EQ(Iso(menu), "MENU PIC");
    EXPECT_EQ(Iso(menu2), "MENU P~1");
    // A directory never gets an empty identifier.
    EXPECT_EQ(Iso(Plan_AddDirectory(plan.get(), &plan->root, ".config")), "CONFIG");
    EXPECT_EQ(Iso(Plan_AddDirectory(plan.get(), &plan->root, "...")), "_");
    EXPECT_EQ(add(".BashRC"), ".BASHRC;1");
    EXPECT_EQ(add(".bashrc.x"), ".X;1");
    // An extension that would overflow 15 bytes is cut, and uniqueness holds on the cut form.
    EXPECT_EQ(add("abcdefgh.verylongA"), "ABCDEFGH.VERY;1");
    EXPECT_EQ(add("abcdefgh.verylongB"), "ABCDEF~1.VERY;1");
    EXPECT_EQ(add("ab.html"), "AB.HTML;1");
    // ';' would end the identifier early.
    EXPECT_EQ(add("a;b.txt"), "A_B.TXT;1");
    // Multi-byte characters are copied whole or not at all, and never upper-cased.
    EXPECT_EQ(Iso_NameCandidate("\xC3\xA9t\xC3\xA9_abcd.txt", false, 0),
              "\xC3\xA9T\xC3\xA9_AB.TXT;1");
    EXPECT_EQ(Iso_NameCandidate("abcdef\xE4\xB8\xADx", true, 0), "ABCDEF");
    for (const FileNode* c = plan->root.firstChild; c; c = c->nextSibling) {
        EXPECT_GT(c->isoNameLength, 0u);
        EXPECT_LE(c->isoNameLength, kIsoNameMax);
    }
}

// The indexed search must give exactly what the linear rule gives: the first candidate that no
// entry already in the directory uses, entries being added one at a time.
TEST_F(PlanTree, IsoNameIndexMatchesLinearRule) {
    PlanPtr plan = NewPlan();
    std::mt19937 rng(7);
    const char* stems[] = {"abcdefgh", "ABCDEFGH", "abcdef~1", "abcdefghij", "ab", "abcdef~12"};
    const char* exts[] = {".txt", ".TXT", "", ".verylongext", ".t"};
    std::vector<std::string> isoSoFar;
    std::set<std::string> names; // upper-cased: lookups ignore case
    std::vector<std::string> removed;
    auto upper = [](std::string s) {
        for (char& ch : s)
            ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        return s;
    };
    for (int i = 0; i < 400; ++i) {
        std::string name =
            std::string(stems[rng() % 6]) + std::to_string(rng() % 3) + exts[rng() % 5];
        if (!names.insert(upper(name)).second) continue;
        bool dir = rng() % 2;
        std::string expected;
        for (uint32_t k = 0;; ++k) {
            expected = Iso_NameCandidate(name, dir, k);
            bool used = false;
            for (const std::string& s : isoSoFar)
                used = used || s == expected;
            if (!used) break;
        }
        FileNode* n;
        if (dir) {
            n = Plan_AddDirectory(plan.get(), &plan->root, name.c_str());
        } else {
            std::string src = tmp.write("src", "x");
            ASSERT_TRUE(Plan_AddFileSetEntry(plan.get(), name.c_str(), src.c_str()));
            n = Plan_FindNode(&plan->root, name.c_str());
        }
        ASSERT_NE(n, nullptr);
        EXPECT_EQ(Iso(n), expected) << name;
        isoSoFar.push_back(expected);
        if (i % 50 == 49) {
            // A removal frees a name; the next search must find it again.
            std::string victim = plan->root.firstChild->nextSibling->name;
            std::string victimIso = Iso(plan->root.firstChild->nextSibling);
            ASSERT_TRUE(Plan_RemoveNode(plan.get(), &plan->root, victim.c_str(), true));
            names.erase(upper(victim));
            removed.push_back(victim);
            isoSoFar.erase(std::find(isoSoFar.begin(), isoSoFar.end(), victimIso));
        }
    }
    // Past growths and removals, the index finds every entry (in either case) and no removed one.
    for (FileNode* c = plan->root.firstChild; c; c = c->nextSibling)
        EXPECT_EQ(Plan_FindNode(&plan->root, upper(c->name).c_str()), c) << c->name;
    for (const std::string& gone : removed) {
        if (!names.count(upper(gone))) {
            EXPECT_EQ(Plan_FindNode(&plan->root, gone.c_str()), nullptr) << gone;
        }
    }
}

TEST_F(PlanTree, DvdVideoSortOrder) {
    PlanPtr plan = NewPlan();
    std::string src = tmp.write("s", "1");
    std::vector<std::string> order = {"VIDEO_TS.IFO", "VIDEO_TS.VOB", "VIDEO_TS.BUP",
                                      "VTS_01_0.IFO", "VTS_01_0.VOB", "VTS_01_1.VOB",
                                      "VTS_01_9.VOB", "VTS_01_0.BUP", "VTS_02_0.IFO",
                                      "VTS_02_1.VOB", "VTS_02_0.BUP"};
    std::vector<std::string> shuffled = order;
    std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(3));
    for (const std::string& n : shuffled) {
        ASSERT_TRUE(Plan_AddFileSetEntry(plan.get(), ("VIDEO_TS/" + n).c_str(), src.c_str()));
    }
    Plan_AddDirectory(plan.get(), &plan->root, "AUDIO_TS");
    Plan_AddDirectory(plan.get(), &plan->root, "a_b");
    Plan_AddDirectory(plan.get(), &plan->root, "aa");
    Plan_SortTree(plan.get());
    EXPECT_EQ(Names(Plan_FindNode(&plan->root, "VIDEO_TS")), order);
    EXPECT_EQ(Names(&plan->root), (std::vector<std::string>{"a_b", "aa", "AUDIO_TS", "VIDEO_TS"}));
}

// The order of names that share long beginnings, differ only past their first eight differing
// bytes, only in case, or where one is the start of another: exactly the order of whole keys
// (lower case), then of exact bytes.
TEST_F(PlanTree, EntryOrderOfNamesAlikeForLong) {
    const std::string p = "Photographs of the summer holiday, picture ";
    const std::vector<std::vector<std::string>> sets = {
        {p + "00000001b.jpeg", p + "00000001a.jpeg", p + "0000000", p + "00000001",
         p + "0000000100", p + "00000001A.jpeg"},
        {"b", "B", "a", "ab", "Ab", "aB", "abcdefghij", "abcdefghiJ", "abcdefghi"},
        {"same", "same"},
        {"x"},
        {}};
    for (const auto& names : sets) {
        std::vector<std::string_view> views(names.begin(), names.end());
        std::vector<uint32_t> order;
        Plan_EntryOrder(views, order);
        std::vector<std::string> got;
        for (uint32_t i : order)
            got.push_back(names.at(i));
        std::vector<std::string> want = names;
        auto lower = [](std::string s) {
            for (char& c : s)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            return s;
        };
        std::stable_sort(want.begin(), want.end(), [&](const std::string& a, const std::string& b) {
            return std::make_pair(lower(a), a) < std::make_pair(lower(b), b);
        });
        EXPECT_EQ(got, want);
    }
}

TEST_F(PlanTree, FolderScans) {
    tmp.write("data/sub/deep/file.bin", "abc");
    tmp.write("data/.hidden", "");
    tmp.mkdir("data/.hiddendir");
    tmp.mkdir("empty");
    PlanPtr plan = NewPlan();
    EXPECT_EQ(Plan_AddFolder(plan.get(), tmp.file("data/").c_str()), 6u);
    EXPECT_EQ(plan->directoryCount, 5u);
    EXPECT_EQ(plan->fileCount, 2u);
    FileNode* data = Plan_FindNode(&plan->root, "data");
    ASSERT_NE(data, nullptr);
    FileNode* hidden = Plan_FindNode(data, ".hidden");
    ASSERT_NE(hidden, nullptr);
    EXPECT_TRUE(hidden->attributes & kNodeHidden);
    EXPECT_EQ(Iso(Plan_FindNode(data, ".hiddendir")), "HIDDENDI");
    EXPECT_EQ(Plan_SourcePath(Plan_FindNode(data, "sub/deep/file.bin")),
              std::filesystem::canonical(tmp.file("data/sub/deep/file.bin")).string());

    // Two host names that differ only in case.
    tmp.write("cases/readme.txt", "1");
    tmp.write("cases/Readme.txt", "2");
    PlanPtr cases = NewPlan();
    ASSERT_EQ(Plan_AddFolderContents(cases.get(), tmp.file("cases").c_str()), 2u);
    std::set<std::string> caseIso;
    for (const FileNode* c = cases->root.firstChild; c; c = c->nextSibling)
        caseIso.insert(Iso(c));
    EXPECT_EQ(caseIso, (std::set<std::string>{"README.TXT;1", "README~1.TXT;1"}));

    PlanPtr empty = NewPlan();
    EXPECT_EQ(Plan_AddFolder(empty.get(), tmp.file("empty").c_str()), 1u);
    PlanPtr contents = NewPlan();
    EXPECT_EQ(Plan_AddFolderContents(contents.get(), tmp.file("empty").c_str()), 0u);
    EXPECT_EQ(Plan_AddFolder(contents.get(), tmp.file("missing").c_str()), 0u);
}

TEST_F(PlanTree, VideoTsFolderGetsAudioTs) {
    tmp.write("disc/VIDEO_TS/VIDEO_TS.IFO", "i");
    tmp.write("disc/OTHER/VIDEO_TS.IFO", "i");
    for (const char* path : {"disc/VIDEO_TS", "disc/VIDEO_TS/", "disc/VIDEO_TS//"}) {
        PlanPtr plan = NewPlan();
        ASSERT_TRUE(Plan_AddVideoTsFolder(plan.get(), tmp.file(path).c_str())) << path;
        Plan_SortTree(plan.get());
        EXPECT_EQ(Names(&plan->root), (std::vector<std::string>{"AUDIO_TS", "VIDEO_TS"}));
        EXPECT_EQ(plan->directoryCount, 3u);
    }
    PlanPtr other = NewPlan();
    ASSERT_TRUE(Plan_AddVideoTsFolder(other.get(), tmp.file("disc/OTHER").c_str()));
    EXPECT_EQ(Names(&other->root), (std::vector<std::string>{"OTHER"}));
}

TEST_F(PlanTree, DvdVideoFolder) {
    tmp.write("a/VIDEO_TS/VIDEO_TS.IFO", "i");
    // An old, read-only VIDEO_TS: the added AUDIO_TS copies its attributes and times.
    std::filesystem::last_write_time(tmp.file("a/VIDEO_TS"),
                                     std::filesystem::file_time_type::clock::now() -
                                         std::chrono::hours(24 * 400));
    ASSERT_EQ(::chmod(tmp.file("a/VIDEO_TS").c_str(), 0555), 0);
    tmp.write("b/VIDEO_TS/VIDEO_TS.IFO", "i");
    tmp.mkdir("b/audio_ts");
    tmp.write("c/video_ts/VIDEO_TS.IFO", "i");
    PlanPtr a = NewPlan();
    ASSERT_TRUE(Plan_AddDvdVideoFolder(a.get(), tmp.file("a/").c_str()));
    FileNode* audio = Plan_FindNode(&a->root, "AUDIO_TS");
    const FileNode* video = Plan_FindNode(&a->root, "VIDEO_TS");
    ASSERT_NE(audio, nullptr);
    EXPECT_EQ(audio->attributes, video->attributes);
    EXPECT_NE(audio->attributes, kNodeDirectory);
    EXPECT_EQ(audio->writeTime, video->writeTime);
    EXPECT_EQ(audio->accessTime, video->accessTime);
    EXPECT_EQ(audio->creationTime, video->creationTime);
    EXPECT_TRUE(audio->sourcePath.empty());
    EXPECT_EQ(audio->firstChild, nullptr);
    EXPECT_EQ(a->directoryCount, 3u);

    // A lower-case "audio_ts" holds the ISO name AUDIO_TS already.
    PlanPtr b = NewPlan();
    ASSERT_TRUE(Plan_AddDvdVideoFolder(b.get(), tmp.file("b").c_str()));
    std::set<std::string> isoNames;
    for (const FileNode* c = b->root.firstChild; c; c = c->nextSibling) {
        EXPECT_TRUE(isoNames.insert(Iso(c)).second) << Iso(c);
    }
    EXPECT_EQ(isoNames.size(), 3u);
    EXPECT_EQ(b->directoryCount, 4u);

    PlanPtr c = NewPlan();
    EXPECT_FALSE(Plan_AddDvdVideoFolder(c.get(), tmp.file("c").c_str()));
}

TEST_F(PlanTree, ScanRefusesLoopsLongPathsAndUnrecordableNames) {
    tmp.write("loop/a/file", "1");
    ASSERT_EQ(::symlink("..", tmp.file("loop/a/up").c_str()), 0);
    PlanPtr loop = NewPlan();
    EXPECT_EQ(Plan_AddFolder(loop.get(), tmp.file("loop").c_str()), 0u);
    EXPECT_EQ(Plan_CountEntries(&loop->root), loop->directoryCount + loop->fileCount);

    // A link to a sibling is no loop.
    tmp.write("links/real/file", "1");
    ASSERT_EQ(::symlink("real", tmp.file("links/alias").c_str()), 0);
    PlanPtr links = NewPlan();
    EXPECT_EQ(Plan_AddFolder(links.get(), tmp.file("links").c_str()), 5u);

    // Folders nested beyond the system's path limit, made (and removed) one step at a time: the
    // volume's 259 bytes end first, then (below the deepest nameable folder) the system's.
    const std::string step(200, 'd');
    std::string deepest = tmp.file("deep");
    std::vector<int> chain{::open(tmp.mkdir("deep").c_str(), O_RDONLY | O_DIRECTORY)};
    for (size_t length = deepest.size(); chain.back() >= 0; length += step.size() + 1) {
        ASSERT_EQ(::mkdirat(chain.back(), step.c_str(), 0700), 0);
        if (length + step.size() + 1 >= kMaxHostPath) break;
        chain.push_back(::openat(chain.back(), step.c_str(), O_RDONLY | O_DIRECTORY));
        deepest += "/" + step;
    }
    ASSERT_GE(chain.back(), 0);
    PlanPtr longVolumePaths = NewPlan();
    EXPECT_EQ(Plan_AddFolder(longVolumePaths.get(), tmp.file("deep").c_str()), 0u);
    EXPECT_EQ(longVolumePaths->refusal.path, tmp.file("deep/" + step + "/" + step));
    EXPECT_NE(longVolumePaths->refusal.rule.find("408 bytes long, beyond the 259"),
              std::string::npos)
        << longVolumePaths->refusal.rule;
    PlanPtr longPaths = NewPlan();
    EXPECT_EQ(Plan_AddFolderContents(longPaths.get(), deepest.c_str()), 0u);
    ::unlinkat(chain.back(), step.c_str(), AT_REMOVEDIR);
    for (size_t i = chain.size() - 1; i > 0; --i) {
        ::close(chain[i]);
        ::unlinkat(chain[i - 1], step.c_str(), AT_REMOVEDIR);
    }
    ::close(chain[0]);
    EXPECT_NE(longPaths->refusal.rule.find("beyond the 4095 that this system's paths may have"),
              std::string::npos)
        << longPaths->refusal.rule;

    // One character outside Latin-1 makes every character take two bytes: 128 characters
    // need 257 bytes, beyond a File Identifier.
    tmp.write("names/\xE4\xB8\xAD" + std::string(127, 'n'), "1");
    PlanPtr names = NewPlan();
    EXPECT_EQ(Plan_AddFolder(names.get(), tmp.file("names").c_str()), 0u);
    tmp.write("names2/\xE4\xB8\xAD" + std::string(126, 'n'), "1");
    PlanPtr names2 = NewPlan();
    EXPECT_EQ(Plan_AddFolder(names2.get(), tmp.file("names2").c_str()), 2u);

    // One name in UTF-8 and in Latin-1: one recorded name for two files.
    tmp.write("spellings/caf\xC3\xA9", "utf-8");
    tmp.write("spellings/caf\xE9", "latin-1");
    PlanPtr spellings = NewPlan();
    EXPECT_EQ(Plan_AddFolderContents(spellings.get(), tmp.file("spellings").c_str()), 0u);
    EXPECT_NE(log().find("is recorded like another entry of its folder"), std::string::npos);
    EXPECT_NE(spellings->refusal.rule.find("recorded like that of another entry"),
              std::string::npos);
}

// A pipe would block the burn for ever: it is left out, as sockets and devices are, each with a
// log line; as a file-set source it is refused. A folder that cannot be listed refuses the scan
// instead of being recorded empty, and the log names it.
TEST_F(PlanTree, SourcesThatAreNoFilesOrFolders) {
    std::string file = tmp.write("src/sub/file.txt", "x");
    const std::string pipe = tmp.file("src/pipe"), device = tmp.file("src/sub/null");
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    ASSERT_EQ(::symlink("/dev/null", device.c_str()), 0);
    PlanPtr plan = NewPlan();
    EXPECT_EQ(Plan_AddFolderContents(plan.get(), tmp.file("src").c_str()), 2u);
    EXPECT_EQ(plan->fileCount, 1u);
    EXPECT_NE(log().find("Skip: " + pipe + " is neither a file nor a folder\n"), std::string::npos)
        << log();
    EXPECT_NE(log().find("Skip: " + device + " "), std::string::npos) << log();
    EXPECT_FALSE(Plan_AddFileSetEntry(plan.get(), "p", pipe.c_str()));
    EXPECT_EQ(Plan_FindNode(&plan->root, "p"), nullptr);

    UnlistableFolderHost unlistable(tmp.file("src/sub"));
    unlistable.setTempDirectory(tmp.file("log/"));
    setHost(&unlistable);
    PlanPtr refused = NewPlan();
    EXPECT_EQ(Plan_AddFolder(refused.get(), tmp.file("src").c_str()), 0u);
    PlanPtr alone = NewPlan();
    EXPECT_EQ(Plan_AddFolder(alone.get(), tmp.file("src/sub").c_str()), 0u);
    setHost(&*sim);
    EXPECT_NE(log().find("Fail: FindFirstFile(" + tmp.file("src/sub") + "/*.*)\n"),
              std::string::npos)
        << log();
}

} // namespace
} // namespace tvx
