// Images built from real folders, checked by readers nobody here wrote: isovfy, isoinfo and
// bsdtar (libarchive) for the ISO 9660 view, udfinfo, 7z and libudfread for UDF (bsdtar and
// libudfread compare every file's bytes with its source), lsdvd (libdvdread) for DVD-Video. A
// missing tool fails the test with its name.
#include "image/image_file_sink.h"
#include "image/plan.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <sys/wait.h>

namespace fs = std::filesystem;

namespace tvx {
namespace {

struct PlanDeleter {
    void operator()(VolumePlan* p) const { Plan_Free(p); }
};
using PlanPtr = std::unique_ptr<VolumePlan, PlanDeleter>;

struct RunResult {
    int status = -1;
    std::string output;
};

RunResult RunTool(const std::string& command) {
    RunResult r;
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (!pipe) return r;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0)
        r.output.append(buf, n);
    int status = ::pclose(pipe);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

bool HaveTool(const std::string& tool) {
    return RunTool("command -v " + tool + " >/dev/null").status == 0;
}

#define REQUIRE_TOOL(tool)                                                                         \
    if (!HaveTool(tool)) {                                                                         \
        FAIL() << tool                                                                             \
               << " is not installed; scripts/setup.sh --tests installs the image checkers";       \
    }

std::string Quote(const std::string& s) {
    return "'" + s + "'";
}

uint64_t Fnv(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> buf(1 << 20);
    uint64_t h = 1469598103934665603ULL;
    while (in) {
        in.read(buf.data(), static_cast<std::streamsize>(buf.size()));
        for (std::streamsize i = 0; i < in.gcount(); ++i) {
            h ^= static_cast<uint8_t>(buf[static_cast<size_t>(i)]);
            h *= 1099511628211ULL;
        }
    }
    return h;
}

std::string FileLine(const std::string& path, const std::string& source) {
    char line[64];
    std::snprintf(line, sizeof line, " %llu %016llx",
                  static_cast<unsigned long long>(fs::file_size(source)),
                  static_cast<unsigned long long>(Fnv(source)));
    return "F " + path + line;
}

// The listing udf_check prints, computed from the host folder.
std::set<std::string> ExpectedListing(const std::string& root) {
    std::set<std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        std::string rel = "/" + fs::relative(e.path(), root).string();
        out.insert(e.is_directory() ? "D " + rel : FileLine(rel, e.path().string()));
    }
    return out;
}

// The same listing of the plan's ISO 9660 view, as libarchive names entries: without the
// version, and without the dot of an empty extension.
void IsoListing(const FileNode* dir, const std::string& path, std::set<std::string>& out) {
    for (const FileNode* n = dir->firstChild; n; n = n->nextSibling) {
        std::string name(n->isoName, n->isoNameLength);
        if (!n->isDirectory()) {
            name.erase(name.rfind(';'));
            if (name.back() == '.') name.pop_back();
        }
        std::string child = path + "/" + name;
        if (n->isDirectory()) {
            out.insert("D " + child);
            IsoListing(n, child, out);
        } else {
            out.insert(FileLine(child, Plan_SourcePath(n)));
        }
    }
}

std::set<std::string> Lines(const std::string& text, const std::string& prefixes) {
    std::set<std::string> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && prefixes.find(line[0]) != std::string::npos && line[1] == ' ') {
            out.insert(line);
        }
    }
    return out;
}

// isovfy reads the six zero System Use bytes as a broken Rock Ridge area and says so on every
// record; those notes are no errors. Real findings are marked with asterisks too.
std::string IsovfyErrors(const std::string& output) {
    auto strip = [](std::string& line, const std::string& open, char close) {
        for (size_t at; (at = line.find(open)) != std::string::npos;) {
            size_t end = line.find(close, at);
            line.erase(at, end == std::string::npos ? std::string::npos : end - at + 1);
        }
    };
    std::string errors;
    std::istringstream in(output);
    std::string line;
    while (std::getline(in, line)) {
        std::string rest = line;
        strip(rest, "[**BAD SUSP", ']');
        strip(rest, "**BAD RRVERSION (", ')');
        if (rest.find("**") != std::string::npos || rest.find("Improper") != std::string::npos ||
            rest.find("rror") != std::string::npos) {
            errors += line + "\n";
        }
    }
    return errors;
}

class ImageReaders : public ::testing::Test {
  protected:
    // Builds the image of a plan into the temporary folder.
    std::string Build(VolumePlan* plan, const std::string& name) {
        EXPECT_TRUE(Plan_Layout(plan));
        std::string image = tmp.file(name);
        ImageFileSink sink(image);
        EXPECT_TRUE(sink.ok());
        EXPECT_TRUE(Plan_Stream(plan, sink));
        EXPECT_TRUE(sink.finish());
        EXPECT_EQ(fs::file_size(image), uint64_t{Plan_VolumeSize(plan)} * 2048);
        return image;
    }

    void CheckIso(const std::string& image, size_t expectedRecords) {
        REQUIRE_TOOL("isovfy");
        RunResult v = RunTool("isovfy " + Quote(image));
        EXPECT_EQ(v.status, 0) << v.output;
        EXPECT_EQ(IsovfyErrors(v.output), "");
        REQUIRE_TOOL("isoinfo");
        RunResult l = RunTool("isoinfo -l -i " + Quote(image));
        EXPECT_EQ(l.status, 0) << l.output;
        // Every entry listed once in its directory (besides "." and "..").
        size_t records = 0;
        std::istringstream in(l.output);
        std::string line;
        while (std::getline(in, line)) {
            if (line.size() > 60 && (line[0] == 'd' || line[0] == '-') &&
                line.substr(line.size() - 3) != " . " && line.substr(line.size() - 4) != " .. ") {
                ++records;
            }
        }
        EXPECT_EQ(records, expectedRecords) << l.output.substr(0, 4000);
    }

    void CheckUdf(const std::string& image, const std::string& source, uint32_t files,
                  uint32_t directories) {
        REQUIRE_TOOL("udfinfo");
        RunResult info = RunTool("udfinfo " + Quote(image));
        EXPECT_EQ(info.status, 0) << info.output;
        EXPECT_NE(info.output.find("numfiles=" + std::to_string(files) + "\n"), std::string::npos)
            << info.output;
        EXPECT_NE(info.output.find("numdirs=" + std::to_string(directories) + "\n"),
                  std::string::npos)
            << info.output;
        EXPECT_NE(info.output.find("integrity=closed"), std::string::npos);

        std::string checker = TVX_UDF_CHECK;
        if (checker.empty()) FAIL() << "libudfread-dev is not installed (scripts/setup.sh --tests)";
        RunResult udf = RunTool(Quote(checker) + " " + Quote(image));
        EXPECT_EQ(udf.status, 0) << udf.output.substr(0, 4000);
        std::set<std::string> expected = ExpectedListing(source);
        std::set<std::string> actual = Lines(udf.output, "DF");
        EXPECT_EQ(actual, expected);

        REQUIRE_TOOL("7z");
        RunResult sz = RunTool("LC_ALL=C.UTF-8 7z l -slt " + Quote(image));
        EXPECT_EQ(sz.status, 0) << sz.output.substr(0, 4000);
        size_t paths = 0;
        for (size_t at = sz.output.find("\nPath = "); at != std::string::npos;
             at = sz.output.find("\nPath = ", at + 1)) {
            ++paths;
        }
        EXPECT_EQ(paths, 1 + expected.size()); // the archive itself, then every entry
    }

    // libarchive's ISO 9660 reader: extracts the whole volume, which must match the plan's
    // tree file by file.
    void CheckBsdtar(const std::string& image, const VolumePlan& plan) {
        REQUIRE_TOOL("bsdtar");
        std::string out = tmp.mkdir("bsdtar-" + fs::path(image).stem().string());
        RunResult x = RunTool("bsdtar -xf " + Quote(image) + " -C " + Quote(out));
        EXPECT_EQ(x.status, 0) << x.output.substr(0, 4000);
        std::set<std::string> expected;
        IsoListing(&plan.root, "", expected);
        EXPECT_EQ(ExpectedListing(out), expected);
        fs::remove_all(out);
    }

    test::TempDir tmp;
};

TEST_F(ImageReaders, DataFolder) {
    std::string root = tmp.mkdir("data");
    tmp.write("data/nested/a/b/c/deep.txt", "deep inside\n");
    tmp.write("data/nested/a/sibling.txt", "x");
    tmp.write("data/.hidden_file", "secret");
    tmp.write("data/.hidden_dir/inside.txt", "in hidden");
    tmp.write("data/\xE4\xB8\xAD\xE6\x96\x87\xE5\x90\x8D.txt", "wide name");
    tmp.write("data/\xC3\x9Cn\xC3\xAF\x63\xC3\xB6\x64\xC3\xA9.txt", "latin-1 name");
    tmp.write("data/\xE6\x97\xA5\xE6\x9C\xAC/\xE3\x83\x95\xE3\x82\xA1.bin", "in a wide folder");
    tmp.write("data/empty.bin", "");
    tmp.mkdir("data/empty_dir");
    tmp.write("data/Readme.TXT", "upper");
    tmp.write("data/readme.txt", "lower");
    // Over 1 GiB, sparse: two extents, with bytes around the cut.
    std::string sparse = tmp.write("data/sparse.bin", "HEAD");
    const uint64_t sparseSize = (1ull << 30) + 12345;
    fs::resize_file(sparse, sparseSize);
    {
        std::fstream f(sparse, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(0x3FFFF800 - 3);
        f.write("ACROSS", 6);
        f.seekp(static_cast<std::streamoff>(sparseSize - 4));
        f.write("TAIL", 4);
    }
    for (int i = 0; i < 2000; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "data/many/file_%04d.dat", i);
        tmp.write(name, "content " + std::to_string(i * 7919));
    }

    PlanPtr plan(Plan_Create("DATA VOLUME"));
    uint32_t added = Plan_AddFolderContents(plan.get(), root.c_str());
    ASSERT_EQ(added, plan->directoryCount - 1 + plan->fileCount);
    uint32_t files = plan->fileCount, dirs = plan->directoryCount;
    std::string image = Build(plan.get(), "data.iso");
    CheckIso(image, files + dirs - 1); // every entry but the root; sparse.bin has one record
    CheckUdf(image, root, files, dirs);
    CheckBsdtar(image, *plan);
}

TEST_F(ImageReaders, DvdVideoFolder) {
    const char* sourceDir = std::getenv("TVX_SOURCE_DIR");
    ASSERT_NE(sourceDir, nullptr) << "TVX_SOURCE_DIR is set by ctest";
    std::string sample = std::string(sourceDir) + "/examples/sample-dvd";
    ASSERT_TRUE(fs::exists(sample + "/VIDEO_TS/VIDEO_TS.IFO")) << sample;
    std::string disc = tmp.mkdir("disc");
    fs::copy(sample, disc, fs::copy_options::recursive);

    PlanPtr plan(Plan_Create("SAMPLE_DVD"));
    ASSERT_TRUE(Plan_AddDvdVideoFolder(plan.get(), disc.c_str()));
    std::string image = Build(plan.get(), "dvd.iso");
    // The video manager's backup starts on a 16-sector boundary.
    FileNode* bup = Plan_FindNode(&plan->root, "VIDEO_TS/VIDEO_TS.BUP");
    EXPECT_EQ((Plan_PartitionStart(plan.get()) + bup->dataBlock) % 16, 0u);

    REQUIRE_TOOL("lsdvd");
    RunResult dvd = RunTool("lsdvd " + Quote(image));
    EXPECT_EQ(dvd.status, 0) << dvd.output;
    EXPECT_NE(dvd.output.find("Disc Title: SAMPLE_DVD"), std::string::npos) << dvd.output;
    size_t title = dvd.output.find("Title: 01, Length: 00:00:0");
    ASSERT_NE(title, std::string::npos) << dvd.output;
    char seconds = dvd.output[title + 26];
    EXPECT_TRUE(seconds >= '1' && seconds <= '9') << dvd.output;

    fs::create_directory(disc + "/AUDIO_TS"); // what the volume holds
    CheckIso(image, plan->fileCount + plan->directoryCount - 1);
    CheckUdf(image, disc, plan->fileCount, plan->directoryCount);
    CheckBsdtar(image, *plan);
}

TEST_F(ImageReaders, FileSet) {
    std::string a = tmp.write("src/a.txt", "first");
    std::string b = tmp.write("src/b.bin", std::string(5000, 'b'));
    std::string c = tmp.write("src/c", "");
    PlanPtr plan(Plan_Create("FILE SET"));
    ASSERT_TRUE(Plan_AddFileSetEntry(plan.get(), "/docs/a.txt", a.c_str()));
    ASSERT_TRUE(Plan_AddFileSetEntry(plan.get(), "\\docs\\deeper\\b.bin", b.c_str()));
    ASSERT_TRUE(Plan_AddFileSetEntry(plan.get(), "top", c.c_str()));
    ASSERT_TRUE(Plan_AddFileSetEntry(plan.get(), "/docs/a.txt", b.c_str())); // replaces
    std::string image = Build(plan.get(), "set.iso");
    std::string tree = tmp.mkdir("tree");
    tmp.write("tree/docs/a.txt", std::string(5000, 'b'));
    tmp.write("tree/docs/deeper/b.bin", std::string(5000, 'b'));
    tmp.write("tree/top", "");
    CheckIso(image, 5);
    CheckUdf(image, tree, 3, 3);
    CheckBsdtar(image, *plan);
}

TEST_F(ImageReaders, VideoTsFolderWithTrailingSeparator) {
    const char* sourceDir = std::getenv("TVX_SOURCE_DIR");
    ASSERT_NE(sourceDir, nullptr);
    std::string disc = tmp.mkdir("disc");
    fs::copy(std::string(sourceDir) + "/examples/sample-dvd/VIDEO_TS", disc + "/VIDEO_TS",
             fs::copy_options::recursive);
    PlanPtr plan(Plan_Create("SAMPLE_DVD"));
    ASSERT_TRUE(Plan_AddVideoTsFolder(plan.get(), (disc + "/VIDEO_TS/").c_str()));
    std::string image = Build(plan.get(), "vts.iso");
    REQUIRE_TOOL("lsdvd");
    RunResult dvd = RunTool("lsdvd " + Quote(image));
    EXPECT_EQ(dvd.status, 0) << dvd.output;
    fs::create_directory(disc + "/AUDIO_TS");
    CheckIso(image, plan->fileCount + plan->directoryCount - 1);
    CheckUdf(image, disc, plan->fileCount, plan->directoryCount);
}

} // namespace
} // namespace tvx
