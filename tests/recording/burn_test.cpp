// Complete burns of every source to every DVD medium kind: the drive receives the command
// sequence of its medium, the disc holds the planned volume byte for byte, and independent
// readers accept it.
#include "recording/engine.h"
#include "recording_fixture.h"
#include "volume_check.h"

#include <cstdlib>
#include <regex>
#include <sys/stat.h>

namespace tvx::test {
namespace {

using vdrive::MediumKind;

std::string SourceDir() {
    const char* dir = std::getenv("TVX_SOURCE_DIR");
    return dir ? dir : ".";
}

bool IsPlusR(MediumKind k) {
    return k == MediumKind::DvdPlusR || k == MediumKind::DvdPlusRDualLayer;
}

bool InPlace(MediumKind k) {
    return k == MediumKind::DvdPlusRw || k == MediumKind::DvdRam ||
           k == MediumKind::DvdRwRestricted;
}

// The blocks of the WRITEs in order: on media written in place, zeros over the old structures
// (those a reader starts from first), then the volume from block 272 on, its first 272 blocks
// but the descriptors, the volume descriptor sequences and the first descriptor last; elsewhere
// the volume in order.
void ExpectWriteOrder(MediumKind kind, const std::vector<vdrive::TraceEntry>& trace,
                      uint32_t volumeSize) {
    std::vector<uint32_t> lbas;
    for (const auto& e : trace)
        if (e.opcode() == 0x2A)
            lbas.push_back(uint32_t{e.cdb[2]} << 24 | e.cdb[3] << 16 | e.cdb[4] << 8 | e.cdb[5]);
    std::vector<uint32_t> expected;
    if (InPlace(kind)) {
        expected = {0, 32, 256};
        for (uint32_t lba = 64; lba < 256; lba += 32)
            expected.push_back(lba);
        for (uint32_t lba = 272; lba < volumeSize; lba += 32)
            expected.push_back(lba);
        expected.push_back(0);
        for (uint32_t lba = 64; lba < 272; lba += 32)
            expected.push_back(lba);
        expected.push_back(32);
        expected.push_back(16);
    } else {
        for (uint32_t lba = 0; lba < volumeSize; lba += 32)
            expected.push_back(lba);
    }
    EXPECT_EQ(lbas, expected);
}

// What the drive receives from the engine, from preparation to the eject.
std::string EngineSequence(MediumKind kind, bool verify) {
    std::string s = "TUR PREVENT1 START STREAM PERF PERF MSENSE (SELECT (MSENSE )?)?";
    // Written in place: the refused session-at-once page and reservation are passed over.
    if (kind == MediumKind::DvdRam)
        s += "RTI RTI ";
    else if (kind == MediumKind::DvdRwRestricted)
        s += "CONFIG RTI RESERVE CONFIG RTI ";
    else if (IsPlusR(kind))
        s += "RTI RTI ";
    else if (kind == MediumKind::DvdPlusRw)
        s += "RTI RTI RDI (RDI FORMAT (TUR SENSE )*TUR )?";
    else
        s += "RTI RESERVE RTI ";
    // Written in place: the old structures are zeroed, the descriptors first, with a flush after
    // each part; then all but the descriptors, flushed; the UDF sequences, flushed; the first
    // descriptor.
    if (InPlace(kind))
        s += "WRITE SYNCI (TUR )+(WRITE ){2}SYNCI (TUR )+(WRITE ){6}SYNCI (TUR )+(WRITE )+SYNCI "
             "(TUR )+WRITE SYNCI (TUR )+";
    s += "(WRITE )*SYNCI (TUR |TUR RCAP )*TUR RCAP ";
    if (IsPlusR(kind)) s += "CLOSE1/1 (RCAP )+CLOSE5/0 (RCAP )+";
    if (kind == MediumKind::DvdPlusRw) s += "CLOSE3/0 (RCAP SENSE )*RCAP ";
    if (verify) s += "((READ10|READ12) )+";
    s += "PREVENT0 (EJECTI TUR )+";
    return s;
}

struct Source {
    const char* name;
    const char* label; // null: the default label
    FillPlan fill;
    std::function<TVX_Result(RecHandle*, const TVX_BurnOptions*, TVX_ProgressCallback, int32_t)>
        burn;
    std::vector<std::string> paths; // as 7z lists them
};

class BurnTest : public RecordingTest, public ::testing::WithParamInterface<MediumKind> {
  protected:
    void SetUp() override {
        makeFile("data/readme.txt", 100);
        makeFile("data/empty.bin", 0);
        makeFile("data/chunk.bin", 65536 + 100);
        makeFile("data/docs/big.bin", 300000);
        makeFile("data/docs/deeper/note.txt", 2049);
        makeFile("set/a.bin", 5000);
        makeFile("set/b.bin", 70000);
    }

    std::vector<Source> sources() {
        videoTs = SourceDir() + "/examples/sample-dvd/VIDEO_TS";
        dvd = SourceDir() + "/examples/sample-dvd";
        data = dir.file("data");
        setA = dir.file("set/a.bin");
        setB = dir.file("set/b.bin");
        entries[0] = {"/movies/a.bin", setA.c_str()};
        entries[1] = {"movies\\b.bin", setB.c_str()};
        entries[2] = {"top.bin", setA.c_str()};
        const std::vector<std::string> videoPaths = {"VIDEO_TS/VIDEO_TS.IFO",
                                                     "VIDEO_TS/VTS_01_1.VOB", "AUDIO_TS"};
        return {
            {"video_ts", "MYDVD",
             [this](VolumePlan* p) { return Plan_AddVideoTsFolder(p, videoTs.c_str()) != 0; },
             [this](RecHandle* h, const TVX_BurnOptions* o, TVX_ProgressCallback c, int32_t u) {
                 return TVX_BurnVideoTsFolder(h, o, videoTs.c_str(), "MYDVD", c, u);
             },
             videoPaths},
            {"dvd_video", nullptr,
             [this](VolumePlan* p) { return Plan_AddDvdVideoFolder(p, dvd.c_str()) != 0; },
             [this](RecHandle* h, const TVX_BurnOptions* o, TVX_ProgressCallback c, int32_t u) {
                 return TVX_BurnDVDVIDEO(h, o, dvd.c_str(), nullptr, c, u);
             },
             videoPaths},
            {"data",
             "DATA",
             [this](VolumePlan* p) { return Plan_AddFolderContents(p, data.c_str()) != 0; },
             [this](RecHandle* h, const TVX_BurnOptions* o, TVX_ProgressCallback c, int32_t u) {
                 return TVX_BurnVolumeData(h, o, data.c_str(), "DATA", c, u);
             },
             {"readme.txt", "empty.bin", "chunk.bin", "docs/big.bin", "docs/deeper/note.txt"}},
            {"file_set",
             "SET",
             [this](VolumePlan* p) {
                 for (const auto& e : entries)
                     if (!Plan_AddFileSetEntry(p, e.volumePath, e.sourcePath)) return false;
                 return true;
             },
             [this](RecHandle* h, const TVX_BurnOptions* o, TVX_ProgressCallback c, int32_t u) {
                 return TVX_BurnFileSet(h, o, entries, 3, "SET", c, u);
             },
             {"movies/a.bin", "movies/b.bin", "top.bin"}},
        };
    }

    std::string videoTs, dvd, data, setA, setB;
    TVX_FileSetEntry entries[3] = {};

    // Burns, then checks the sequence, the events, the disc's content and the readers.
    void burnAndCheck(const Source& source, int32_t mode, const std::string& expectedImage,
                      uint32_t volumeSize,
                      const std::function<TVX_Result(const TVX_BurnOptions*)>& burn) {
        SCOPED_TRACE(source.name);
        insertBlank(GetParam(), 8192, true);
        drive->clearTrace();
        log.events.clear();
        TVX_BurnOptions options = {mode, -1};
        ASSERT_EQ(burn(&options), TVX_OK) << drive->formatTrace();

        std::vector<std::string> tokens = traceTokens();
        auto first = std::find(tokens.begin(), tokens.end(), "PREVENT1");
        ASSERT_NE(first, tokens.end());
        std::string engine;
        for (auto it = first - 1; it != tokens.end(); ++it)
            engine += *it + " ";
        EXPECT_TRUE(std::regex_match(engine, std::regex(EngineSequence(GetParam(), mode == 3))))
            << engine;
        for (const auto& e : drive->trace())
            if (e.opcode() == 0x2A) {
                EXPECT_LE(e.cdb[7] << 8 | e.cdb[8], 32);
            }
        EXPECT_TRUE(removalAllowedAtEnd());
        EXPECT_TRUE(drive->trayOpen());

        ExpectWriteOrder(GetParam(), drive->trace(), volumeSize);
        // One type 4 event per chunk, counting the volume's blocks written before it.
        uint32_t expectedValue = 0;
        for (const auto& e : log.events) {
            if (e.type != 4) continue;
            if (InPlace(GetParam())) {
                EXPECT_GE(e.value, expectedValue);
                EXPECT_LT(e.value, volumeSize);
                expectedValue = e.value;
                continue;
            }
            EXPECT_EQ(e.value, expectedValue);
            expectedValue += 32;
        }
        if (!InPlace(GetParam())) {
            EXPECT_EQ(log.count(4), static_cast<int>((volumeSize + 31) / 32));
        }
        EXPECT_EQ(log.events.front().type, 0);
        EXPECT_EQ(log.count(1), 1);

        ASSERT_TRUE(drive->flush());
        EXPECT_EQ(CompareImages(backingFile(), expectedImage), "");
        drive->removeDisc();
    }
};

TEST_P(BurnTest, EverySourceGivesTheVolumeByteForByte) {
    int i = 0;
    for (const Source& source : sources()) {
        std::string image = dir.file(std::string(source.name) + ".iso");
        uint32_t size =
            StreamPlanToFile(source.label ? source.label : "UDF102", source.fill, image);
        ASSERT_GT(size, 0u);
        // Every second source with verification, so both paths see every medium.
        int32_t mode = (i++ % 2) ? TVX_MODE_WRITE_VERIFY : TVX_MODE_WRITE;
        burnAndCheck(source, mode, image, size, [&](const TVX_BurnOptions* o) {
            return source.burn(handle, o, callback(), logData());
        });
        if (GetParam() == MediumKind::DvdPlusR) {
            const bool video = source.paths.front().rfind("VIDEO_TS", 0) == 0;
            EXPECT_EQ(
                ReadersAccept(image, source.label ? source.label : "UDF102", source.paths, video),
                "");
        }
    }
}

TEST_P(BurnTest, ImageFileIsWrittenUnchanged) {
    Source data = sources()[2];
    std::string image = dir.file("volume.iso");
    uint32_t size = StreamPlanToFile("DATA", data.fill, image);
    ASSERT_GT(size, 0u);
    for (int32_t mode : {TVX_MODE_WRITE, TVX_MODE_WRITE_VERIFY}) {
        burnAndCheck(data, mode, image, size, [&](const TVX_BurnOptions* o) {
            return TVX_BurnVolumeImage(handle, o, image.c_str(), callback(), logData());
        });
    }
}

INSTANTIATE_TEST_SUITE_P(AllDvdKinds, BurnTest,
                         ::testing::Values(MediumKind::DvdR, MediumKind::DvdRwSequential,
                                           MediumKind::DvdRwRestricted, MediumKind::DvdRam,
                                           MediumKind::DvdPlusR, MediumKind::DvdPlusRw,
                                           MediumKind::DvdPlusRDualLayer,
                                           MediumKind::DvdRDualLayer),
                         [](const ::testing::TestParamInfo<MediumKind>& info) {
                             std::string name = vdrive::MediumName(info.param);
                             for (char& c : name)
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             return name + "_" + std::to_string(info.index);
                         });

// Nobody writes to these pipes: opening one to read would wait for ever, with the track half
// written. A folder burns without its pipe; a pipe given as a file is refused with nothing
// written.
class PipeSourceTest : public RecordingTest {};

TEST_F(PipeSourceTest, PipesNeverHoldABurn) {
    makeFile("data/one.bin", 5000);
    const std::string pipe = dir.file("data/pipe");
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    insertBlank(MediumKind::DvdPlusRw);
    TVX_BurnOptions options = {TVX_MODE_WRITE, -1};
    TVX_FileSetEntry entries[1] = {{"pipe.bin", pipe.c_str()}};
    drive->clearTrace();
    EXPECT_EQ(TVX_BurnFileSet(handle, &options, entries, 1, nullptr, nullptr, 0), TVX_ERR_SOURCE);
    EXPECT_TRUE(drive->trace().empty()) << drive->formatTrace();
    // The image burn reads the disc first, then refuses the pipe without a wait or a WRITE.
    EXPECT_EQ(TVX_BurnVolumeImage(handle, &options, pipe.c_str(), nullptr, 0), TVX_ERR_SOURCE);
    for (const auto& e : drive->trace())
        EXPECT_NE(e.opcode(), 0x2A) << drive->formatTrace();
    EXPECT_EQ(TVX_BurnVolumeData(handle, &options, dir.file("data").c_str(), "DATA", nullptr, 0),
              TVX_OK);
}

} // namespace
} // namespace tvx::test
