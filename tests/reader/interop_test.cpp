// Discs recorded by other systems (genisoimage, mkudffs) and read back through the virtual
// recorder, as a pressed DVD-ROM and as a recorded DVD+RW: every file equals its source.
#include "common/byte_order.h"
#include "image/image_file_sink.h"
#include "image/plan.h"
#include "image/udf_tag.h"
#include "support/direct_transport.h"
#include "support/temp_dir.h"
#include "test_udf_image.h"
#include "torvexin.h"
#include "vdrive/virtual_recorder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace tvx::test {
namespace {

namespace fs = std::filesystem;
using vdrive::MediumKind;

std::vector<uint8_t> ReadImage(const std::string& path) {
    std::vector<uint8_t> image(fs::file_size(path));
    std::ifstream in(path, std::ios::binary);
    in.read(reinterpret_cast<char*>(image.data()), static_cast<std::streamsize>(image.size()));
    return image;
}

void WriteImage(const std::string& path, const std::vector<uint8_t>& image) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(image.data()),
              static_cast<std::streamsize>(image.size()));
}

bool RunTool(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// Adds files to the root directory of an empty mkudffs volume, in the entry form (File Entry or
// Extended File Entry) and directory form (embedded or short_ad) the volume already uses.
class UdfPatcher {
  public:
    explicit UdfPatcher(std::vector<uint8_t>& image) : image_(image) {
        const uint8_t* anchor = sector(256);
        const uint32_t vds = GetLe32(anchor + 20);
        for (uint32_t s = vds;; ++s) {
            const uint8_t* d = sector(s);
            const uint16_t id = GetLe16(d);
            if (id == kTagPartition) {
                partStart_ = GetLe32(d + 188);
                partLength_ = GetLe32(d + 192);
            }
            if (id == kTagLogicalVolume) fsdBlock_ = GetLe32(d + 252);
            if (id == kTagTerminating || id == 0) break;
        }
        rootBlock_ = GetLe32(block(fsdBlock_) + 404);
        nextFree_ = partLength_ / 2;
    }

    void addFile(const std::string& name, const std::string& data) {
        uint8_t* root = block(rootBlock_);
        const bool efe = GetLe16(root) == kTagExtendedFileEntry;
        const size_t header = efe ? 216 : 176;
        const uint32_t ea = GetLe32(root + header - 8);
        uint32_t ad = GetLe32(root + header - 4);
        const bool embedded = (GetLe16(root + 34) & 7) == 3;

        // The file: one short_ad extent.
        const uint32_t feBlock = nextFree_++;
        const uint32_t dataBlock = nextFree_;
        nextFree_ += static_cast<uint32_t>((data.size() + 2047) / 2048) + 1;
        std::memcpy(block(dataBlock), data.data(), data.size());
        uint8_t* fe = block(feBlock);
        std::memset(fe, 0, 2048);
        PutLe16(fe + 20, 4);
        PutLe16(fe + 24, 1);
        fe[27] = 5;
        PutLe16(fe + 48, 1);
        PutLe64(fe + 56, data.size());
        if (efe) PutLe64(fe + 64, data.size());
        PutLe64(fe + (efe ? 200 : 160), 100 + feBlock);
        PutLe32(fe + header - 4, 8);
        PutLe32(fe + header, static_cast<uint32_t>(data.size()));
        PutLe32(fe + header + 4, data.empty() ? 0 : dataBlock);
        UDF_MakeTag(fe, efe ? kTagExtendedFileEntry : kTagFileEntry, feBlock,
                    static_cast<uint32_t>(header + 8));

        // Its File Identifier at the end of the root directory.
        uint8_t* dir = nullptr;
        uint32_t dirBlock = rootBlock_;
        uint64_t length = GetLe64(root + 56);
        if (embedded) {
            dir = root + header + ea;
        } else {
            dirBlock = GetLe32(root + header + ea + 4);
            dir = block(dirBlock);
        }
        const size_t fidLength = (38 + 1 + name.size() + 3) & ~size_t{3};
        uint8_t* fid = dir + length;
        std::memset(fid, 0, fidLength);
        PutLe16(fid + 16, 1);
        fid[19] = static_cast<uint8_t>(1 + name.size());
        PutLe32(fid + 20, 2048);
        PutLe32(fid + 24, feBlock);
        fid[38] = 8;
        std::memcpy(fid + 39, name.data(), name.size());
        UDF_MakeTag(fid, kTagFileIdent, dirBlock, static_cast<uint32_t>(fidLength));
        length += fidLength;
        PutLe64(root + 56, length);
        if (efe) PutLe64(root + 64, length);
        if (embedded) {
            ad = static_cast<uint32_t>(length);
            PutLe32(root + header - 4, ad);
        } else {
            PutLe32(root + header + ea, static_cast<uint32_t>(length));
        }
        UDF_MakeTag(root, GetLe16(root), rootBlock_, static_cast<uint32_t>(header + ea + ad));
    }

  private:
    uint8_t* sector(uint32_t lba) { return image_.data() + static_cast<size_t>(lba) * 2048; }
    uint8_t* block(uint32_t b) { return sector(partStart_ + b); }

    std::vector<uint8_t>& image_;
    uint32_t partStart_ = 0;
    uint32_t partLength_ = 0;
    uint32_t fsdBlock_ = 0;
    uint32_t rootBlock_ = 0;
    uint32_t nextFree_ = 0;
};

class InteropTest : public ::testing::TestWithParam<MediumKind> {
  protected:
    // Loads the image into a virtual recorder and checks that every file under source reads
    // back equal, through paths with either separator.
    void expectSameTree(const std::string& image, const std::string& source) {
        vdrive::VirtualRecorder drive(host_->virtualClock());
        ASSERT_TRUE(drive.loadImage(image, GetParam()));
        RecHandle* handle = transport_.open(drive);
        size_t files = 0;
        for (const auto& item : fs::recursive_directory_iterator(source)) {
            std::string path = "/" + fs::relative(item.path(), source).generic_string();
            std::string expected;
            if (item.is_directory()) {
                path += "/";
            } else {
                expected = ReadWholeFile(item.path().string()); // empty files included
            }
            if (files % 2) std::replace(path.begin(), path.end(), '/', '\\');
            TVX_DiscFile f = TVX_OpenFile(handle, path.c_str());
            ASSERT_NE(f, nullptr) << path;
            EXPECT_EQ(TVX_GetFileSize(f), expected.size()) << path;
            std::string got;
            std::string buffer(100000, '\0');
            uint32_t n = 0;
            while (TVX_ReadFile(f, buffer.data(), static_cast<uint32_t>(buffer.size()), &n) && n) {
                got.append(buffer, 0, n);
            }
            EXPECT_TRUE(got == expected) << path;
            TVX_CloseFile(f);
            ++files;
        }
        EXPECT_GT(files, 0u);
    }

    ScopedSimHost host_;
    DirectTransport transport_;
    TempDir temp_;
};

TEST_P(InteropTest, GenisoimageUdf) {
    temp_.write("src/README.TXT", "hello");
    temp_.write("src/Long file name with spaces.data", TestPattern(100001, 1));
    temp_.write("src/empty", "");
    temp_.write("src/a/b/c/deep.bin", TestPattern(2048 * 3, 2));
    temp_.write("src/a/odd.bin", TestPattern(2047, 3));
    temp_.write("src/big/BIG.BIN", TestPattern(3 * 1024 * 1024 + 5, 4));
    temp_.mkdir("src/emptydir");
    const std::string image = temp_.file("g.iso");
    ASSERT_TRUE(
        RunTool("genisoimage -quiet -udf -R -J -o '" + image + "' '" + temp_.file("src") + "'"));
    expectSameTree(image, temp_.file("src"));
}

TEST_P(InteropTest, GenisoimageDvdVideo) {
    const char* root = std::getenv("TVX_SOURCE_DIR");
    ASSERT_NE(root, nullptr);
    const std::string dvd = temp_.file("dvd");
    fs::create_directories(dvd + "/AUDIO_TS");
    fs::copy(std::string(root) + "/examples/sample-dvd/VIDEO_TS", dvd + "/VIDEO_TS");
    const std::string image = temp_.file("v.iso");
    ASSERT_TRUE(RunTool("genisoimage -quiet -dvd-video -udf -o '" + image + "' '" + dvd + "'"));
    expectSameTree(image, dvd);
}

TEST_P(InteropTest, MkudffsRevisions) {
    for (const char* options :
         {"-r 1.02 --ad=short", "-r 1.02 --ad=inicb", "-r 1.50", "-r 2.01 --ad=short", "-r 2.01"}) {
        SCOPED_TRACE(options);
        const std::string image = temp_.file("m.img");
        fs::remove(image);
        ASSERT_TRUE(
            RunTool(std::string("mkudffs -b 2048 -m hd ") + options + " '" + image + "' 8192"));
        std::vector<uint8_t> bytes = ReadImage(image);
        const std::string source = temp_.file("m");
        fs::remove_all(source);
        UdfPatcher patcher(bytes);
        const std::pair<const char*, std::string> files[] = {{"ONE.TXT", "one"},
                                                             {"two.bin", TestPattern(5000, 5)},
                                                             {"three", TestPattern(70000, 6)},
                                                             {"nothing", ""}};
        for (const auto& [name, data] : files) {
            patcher.addFile(name, data);
            temp_.write(std::string("m/") + name, data);
        }
        WriteImage(image, bytes);
        expectSameTree(image, source);
    }
}

// What this library's own image builder records reads back byte for byte.
TEST_P(InteropTest, OwnImageBuilder) {
    temp_.write("src/VIDEO_TS/VIDEO_TS.IFO", TestPattern(6144, 1));
    temp_.write("src/VIDEO_TS/VTS_01_1.VOB", TestPattern(1000000, 2));
    temp_.write("src/DATA/Notes.txt", "notes");
    temp_.write("src/DATA/deeper/odd.bin", TestPattern(4097, 3));
    temp_.write("src/empty.dat", "");
    temp_.write("src/DATA/caf\xE9.txt", "latin-1 e acute"); // names that are no UTF-8
    temp_.write("src/DATA/caf\xE8.txt", "latin-1 e grave");
    struct PlanFree {
        void operator()(VolumePlan* p) const { Plan_Free(p); }
    };
    std::unique_ptr<VolumePlan, PlanFree> plan(Plan_Create("READBACK"));
    ASSERT_GT(Plan_AddFolderContents(plan.get(), temp_.file("src").c_str()), 0u);
    ASSERT_TRUE(Plan_Layout(plan.get()));
    const std::string image = temp_.file("own.img");
    {
        ImageFileSink sink(image);
        ASSERT_TRUE(sink.ok());
        ASSERT_TRUE(Plan_Stream(plan.get(), sink));
        ASSERT_TRUE(sink.finish());
    }
    expectSameTree(image, temp_.file("src"));
}

// A file longer than one extent (0x3FFFF800 bytes) is recorded as two; a read across the
// boundary delivers both sides in order.
TEST(InteropLargeFileTest, ReadAcrossTheFirstExtentBoundary) {
    ScopedSimHost host;
    DirectTransport transport;
    TempDir temp;
    const uint64_t boundary = 0x3FFFF800;
    const std::string source = temp.file("src/BIG.VOB");
    temp.write("src/BIG.VOB", "");
    const std::string around = TestPattern(8000, 11);
    {
        std::fstream f(source, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(static_cast<std::streamoff>(boundary - 3000));
        f.write(around.data(), static_cast<std::streamsize>(around.size()));
    }
    struct PlanFree {
        void operator()(VolumePlan* p) const { Plan_Free(p); }
    };
    std::unique_ptr<VolumePlan, PlanFree> plan(Plan_Create("BIG"));
    ASSERT_GT(Plan_AddFolderContents(plan.get(), temp.file("src").c_str()), 0u);
    ASSERT_TRUE(Plan_Layout(plan.get()));
    const std::string image = temp.file("big.img");
    {
        ImageFileSink sink(image);
        ASSERT_TRUE(Plan_Stream(plan.get(), sink));
        ASSERT_TRUE(sink.finish());
    }
    vdrive::VirtualRecorder drive(host->virtualClock());
    ASSERT_TRUE(drive.loadImage(image, MediumKind::DvdRom));
    TVX_DiscFile f = TVX_OpenFile(transport.open(drive), "/BIG.VOB");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(TVX_GetFileSize(f), boundary + 5000);
    const uint64_t at = boundary - 3000;
    EXPECT_EQ(TVX_SeekFile(f, static_cast<uint32_t>(at), 0, TVX_SEEK_SET), at);
    std::string got(8000, '\0');
    uint32_t n = 0;
    EXPECT_EQ(TVX_ReadFile(f, got.data(), 8000, &n), 1);
    EXPECT_EQ(n, 8000u);
    EXPECT_TRUE(got == around);
    TVX_CloseFile(f);
}

INSTANTIATE_TEST_SUITE_P(Media, InteropTest,
                         ::testing::Values(MediumKind::DvdRom, MediumKind::DvdPlusRw),
                         [](const auto& info) {
                             return info.param == MediumKind::DvdRom ? "DvdRom" : "DvdPlusRw";
                         });

// Whatever the test volume builder lays out reads back byte for byte from a file on the
// virtual recorder as well.
TEST(InteropBuilderTest, TestVolumeFromAnImageFile) {
    ScopedSimHost host;
    DirectTransport transport;
    TempDir temp;
    TestNode root =
        TestNode::Dir("", {TestNode::Dir("D", {TestNode::File("X", TestPattern(99999, 9))})});
    WriteImage(temp.file("t.img"), BuildTestVolume(root).image);
    vdrive::VirtualRecorder drive(host->virtualClock());
    ASSERT_TRUE(drive.loadImage(temp.file("t.img"), MediumKind::DvdRom));
    TVX_DiscFile f = TVX_OpenFile(transport.open(drive), "/D/X");
    ASSERT_NE(f, nullptr);
    std::string got(99999, '\0');
    uint32_t n = 0;
    EXPECT_EQ(TVX_ReadFile(f, got.data(), 99999, &n), 1);
    EXPECT_EQ(got, TestPattern(99999, 9));
    TVX_CloseFile(f);
}

} // namespace
} // namespace tvx::test
