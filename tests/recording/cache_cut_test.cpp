// A burn over an old volume on a drive whose write cache loses what it holds when the power
// fails, cut after every command; of the WRITEs still held every subset (a seeded sample where
// there are many) reaches the disc. Each state reads as the old volume whole, none, or the new
// one whole, to our reader and to 7z, bsdtar, isoinfo and udfinfo.
#include "recording_fixture.h"
#include "vdrive/write_cache.h"
#include "volume_check.h"

#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string_view>

namespace tvx::test {
namespace {

namespace fs = std::filesystem;
using vdrive::HeldWrite;
using vdrive::kBlockSize;
using vdrive::MediumKind;
using Files = std::vector<std::pair<std::string, std::string>>; // lower-case name, bytes

constexpr uint32_t kCapacity = 4096;
constexpr uint32_t kCacheBytes = 10 * 65536; // ten WRITEs: the new volume fills it up
constexpr size_t kAllSubsetsUpTo = 6;        // held WRITEs; beyond, a seeded sample:
constexpr size_t kFullSample = 200;          // of this many in one old volume's row per cut,
constexpr size_t kLightSample = 20;          // of this many in the others

std::string Q(const std::string& s) {
    return "'" + s + "'";
}

// After each command: the disc (an index into the discs seen) and the WRITEs held.
class Recorder final : public ScsiTarget {
  public:
    Recorder(vdrive::VirtualRecorder& drive, vdrive::WriteCache& cache, uint32_t capacity)
        : drive_(drive), cache_(cache), capacity_(capacity) {}
    std::vector<std::string> discs;
    std::vector<std::pair<size_t, std::vector<HeldWrite>>> moments;
    ScsiResult execute(const ScsiRequest& request) override {
        ScsiResult r = drive_.execute(request);
        std::string disc(size_t{capacity_} * kBlockSize, '\0');
        cache_.disc().read(0, capacity_, reinterpret_cast<uint8_t*>(disc.data()));
        if (discs.empty() || discs.back() != disc) discs.push_back(std::move(disc));
        moments.push_back({discs.size() - 1, cache_.held()});
        return r;
    }

  private:
    vdrive::VirtualRecorder& drive_;
    vdrive::WriteCache& cache_;
    uint32_t capacity_;
};

// Old volumes: made by a tool into %I from the folder %O (%P a FAT image, %S the sources), or
// burnt by us. Each holds the old files (the hybrid's partition also counts as old).
constexpr std::pair<const char*, const char*> kOldVolumes[] = {
    {"ours", nullptr},
    {"genisoimage -udf", "genisoimage -quiet -udf -V OLDVOL -o %I %O"},
    {"mkudffs with files", "%S/tests/support/udf_with_files.sh %I 8192 %O OLDVOL"},
    {"xorriso hybrid", "xorriso -as mkisofs -quiet -V OLDVOL --protective-msdos-label "
                       "-append_partition 2 0x0c %P -o %I %O"},
};

class CacheCutTest : public RecordingTest {
  protected:
    std::map<std::string, std::string> sources[2]; // old, new: name -> bytes
    std::string partition; // the hybrid's FAT partition: found alone, an old volume too
    std::set<std::string> found;
    uint32_t capacity = kCapacity; // blocks of the disc: room for the largest old volume

    // "old", "new", "none", or what is wrong; files without bytes are only listed.
    std::string judge(const Files& files, bool withBytes) {
        std::set<std::string> of[2];
        for (const auto& [name, bytes] : files) {
            const int which = sources[1].count(name) ? 1 : sources[0].count(name) ? 0 : -1;
            if (!withBytes || (which >= 0 && sources[which][name] == bytes)) {
                if (which >= 0) of[which].insert(name);
            } else if (!partition.empty() && bytes == partition) {
                of[0].insert(name);
            } else {
                return name + " differs";
            }
        }
        if (!of[0].empty() && !of[1].empty()) return "old and new together";
        for (int which : {1, 0})
            if (!of[which].empty())
                return of[which].size() == sources[which].size() ||
                               (which == 0 && of[0].size() == 1 &&
                                !sources[0].count(*of[0].begin()))
                           ? (which ? "new" : "old")
                           : "part of a volume";
        return "none";
    }

    Files extracted(const std::string& command, const std::string& out) {
        fs::remove_all(out);
        fs::create_directories(out);
        RunTool(command);
        Files files;
        for (const auto& e : fs::recursive_directory_iterator(out)) {
            if (!e.is_regular_file()) continue;
            std::string name = e.path().filename().string();
            for (char& c : name)
                c = static_cast<char>(std::tolower(c));
            std::ifstream in(e.path(), std::ios::binary);
            files.push_back({name.substr(0, name.find(';')),
                             std::string(std::istreambuf_iterator<char>(in), {})});
        }
        return files;
    }

    // Empty when every reader finds old, none or new, and no two find old and new.
    std::string judgeDisc(const std::string& disc, MediumKind kind) {
        const std::string image = dir.file("state.img"), out = dir.file("x");
        std::ofstream(image, std::ios::binary | std::ios::trunc) << disc;
        std::map<std::string, std::string> seen;
        vdrive::VirtualRecorder reader(sim->virtualClock());
        reader.insertRecorded(kind, capacity, false, capacity);
        reader.writeBlocks(0, capacity, reinterpret_cast<const uint8_t*>(disc.data()));
        RecHandle* h = transport.open(reader);
        Files ours;
        for (const auto& source : sources)
            for (const auto& [name, bytes] : source)
                if (TVX_DiscFile file = TVX_OpenFile(h, ("/" + name).c_str())) {
                    std::string content(static_cast<size_t>(TVX_GetFileSize(file)), '\0');
                    uint32_t got = 0;
                    TVX_ReadFile(file, content.data(), static_cast<uint32_t>(content.size()), &got);
                    ours.push_back({name, content.substr(0, got)});
                    TVX_CloseFile(file);
                }
        seen["tvx"] = judge(ours, true);
        // Files are extracted only where the reader lists some.
        seen["7z"] = RunTool("7z l " + Q(image)).status != 0
                         ? "none"
                         : judge(extracted("7z x -y -o" + Q(out) + " " + Q(image), out), true);
        seen["bsdtar"] =
            RunTool("bsdtar -tf " + Q(image)).output.empty()
                ? "none"
                : judge(extracted("bsdtar -xf " + Q(image) + " -C " + Q(out), out), true);
        Files listed;
        std::string line;
        for (std::istringstream in(RunTool("isoinfo -f -i " + Q(image)).output);
             std::getline(in, line);) {
            for (char& c : line)
                c = static_cast<char>(std::tolower(c));
            listed.push_back(
                {line.substr(line.rfind('/') + 1, line.find(';') - line.rfind('/') - 1), ""});
        }
        seen["isoinfo"] = judge(listed, false);
        const ToolResult udf = RunTool("udfinfo " + Q(image));
        seen["udfinfo"] = udf.status != 0                                        ? "none"
                          : udf.output.find("label=NEWVOL") != std::string::npos ? "new"
                          : udf.output.find("label=OLDVOL") != std::string::npos ? "old"
                                                                                 : "label?";
        std::string all;
        found.clear();
        for (const auto& [tool, state] : seen) {
            all += tool + ": " + state + "; ";
            found.insert(state);
        }
        const bool valid = std::all_of(found.begin(), found.end(), [](const std::string& s) {
            return s == "old" || s == "none" || s == "new";
        });
        return valid && !(found.count("old") && found.count("new")) ? "" : all;
    }
};

TEST_F(CacheCutTest, EveryCutAndEveryLossLeavesTheOldVolumeNoneOrTheNewOne) {
    std::string missing;
    for (const char* tool : {"genisoimage", "mkudffs", "udfclient", "xorriso", "mformat", "mcopy",
                             "7z", "bsdtar", "isoinfo", "udfinfo"})
        if (RunTool(std::string("command -v ") + tool).status != 0)
            missing += std::string(" ") + tool;
    // In CI every tool is there; elsewhere a missing one skips the test.
    if (!missing.empty() && !std::getenv("CI"))
        GTEST_SKIP() << "needs" << missing << " (scripts/setup.sh --tests installs them)";
    ASSERT_EQ(missing, "");
    const char* sourceDir = std::getenv("TVX_SOURCE_DIR");
    ASSERT_NE(sourceDir, nullptr);
    const std::string fat = dir.file("part.fat");
    ASSERT_EQ(RunTool("mformat -C -i " + Q(fat) + " -f 1440 ::").status, 0);
    // The first new file lies in the structures' blocks, the others beyond.
    const std::pair<const char*, size_t> files[] = {
        {"old/old_a.bin", 300000}, {"old/old_b.bin", 200000}, {"new/new_1.bin", 3000},
        {"new/new_2.bin", 20000},  {"new/new_3.bin", 70000},  {"new/new_4.bin", 50000}};
    for (auto [path, size] : files)
        sources[path[0] == 'n'][path + 4] = ReadWholeFile(makeFile(path, size));
    ASSERT_EQ(RunTool("mcopy -i " + Q(fat) + " " + Q(dir.file("old/old_b.bin")) + " ::").status, 0);

    std::map<std::string, size_t> judgedOver, distinctOver; // by old volume
    const MediumKind kinds[] = {MediumKind::DvdPlusRw, MediumKind::DvdRam,
                                MediumKind::DvdRwRestricted};
    for (size_t k = 0; k < std::size(kinds); ++k) {
        const MediumKind kind = kinds[k];
        size_t judged = 0, distinct = 0, cuts = 0;
        for (size_t row = 0; row < std::size(kOldVolumes); ++row) {
            auto [name, command] = kOldVolumes[row];
            SCOPED_TRACE(std::string(vdrive::MediumName(kind)) + " over " + name);
            partition = command && std::string(name) == "xorriso hybrid" ? ReadWholeFile(fat) : "";
            std::string old;
            if (drive->trayOpen()) drive->closeTray();
            TVX_BurnOptions options = {TVX_MODE_WRITE, -1};
            if (!command) {
                capacity = kCapacity;
                insertBlank(kind, capacity);
                ASSERT_EQ(TVX_BurnVolumeData(handle, &options, dir.file("old").c_str(), "OLDVOL",
                                             nullptr, 0),
                          TVX_OK);
                old.resize(size_t{capacity} * kBlockSize);
                drive->readBlocks(0, capacity, reinterpret_cast<uint8_t*>(old.data()));
            } else {
                std::string line = command;
                for (auto [key, value] : {std::pair{"%I", dir.file("old.img")},
                                          {"%O", dir.file("old")},
                                          {"%P", fat},
                                          {"%S", std::string(sourceDir)}})
                    for (size_t at; (at = line.find(key)) != std::string::npos;)
                        line.replace(at, 2, Q(value));
                fs::remove(dir.file("old.img"));
                const ToolResult made = RunTool(line);
                ASSERT_EQ(made.status, 0) << line << "\n" << made.output;
                old = ReadWholeFile(dir.file("old.img"));
                capacity = std::max<uint32_t>(
                    kCapacity, static_cast<uint32_t>((old.size() + kBlockSize - 1) / kBlockSize));
                old.resize(size_t{capacity} * kBlockSize);
            }
            ASSERT_EQ(judgeDisc(old, kind), "");
            ASSERT_TRUE(found.count("old")) << "the old volume is there to lose";
            drive->removeDisc();
            if (drive->trayOpen()) drive->closeTray(); // the burn ejected the disc
            ASSERT_TRUE(drive->insertRecorded(kind, capacity, false, capacity));
            drive->writeBlocks(0, capacity, reinterpret_cast<const uint8_t*>(old.data()));
            vdrive::WriteCache* cache = drive->holdWritesInCache(kCacheBytes);
            Recorder recorder(*drive, *cache, capacity);
            ASSERT_EQ(TVX_BurnVolumeData(transport.open(recorder), &options,
                                         dir.file("new").c_str(), "NEWVOL", nullptr, 0),
                      TVX_OK);
            ASSERT_TRUE(recorder.moments.back().second.empty());

            // Each distinct disc (by its blocks' hashes) is judged once.
            auto hashOf = [](const void* p, size_t n) {
                return std::hash<std::string_view>()(
                    std::string_view(static_cast<const char*>(p), n));
            };
            auto blockHashes = [&](const uint8_t* data, uint32_t blocks) {
                std::vector<size_t> hashes(blocks);
                for (uint32_t b = 0; b < blocks; ++b)
                    hashes[b] = hashOf(data + size_t{b} * kBlockSize, kBlockSize);
                return hashes;
            };
            std::vector<std::vector<size_t>> discHashes;
            for (const std::string& disc : recorder.discs)
                discHashes.push_back(
                    blockHashes(reinterpret_cast<const uint8_t*>(disc.data()), capacity));
            std::map<size_t, std::string> verdicts;
            std::set<std::string> seen;
            size_t rowJudged = 0;
            for (size_t m = 0; m < recorder.moments.size(); ++m) {
                const auto& [index, held] = recorder.moments[m];
                std::mt19937 random(static_cast<uint32_t>(m));
                // Each cut gets the full sample over one old volume (another one for each kind)
                // and a light one over the others, so that the table's rows share one budget.
                const bool full = (m + k) % std::size(kOldVolumes) == row;
                const size_t n = held.size(), tries = n <= kAllSubsetsUpTo ? size_t{1} << n
                                                      : full               ? kFullSample
                                                                           : kLightSample;
                std::vector<std::vector<size_t>> heldHashes;
                for (const HeldWrite& write : held)
                    heldHashes.push_back(blockHashes(write.data->data(), write.blocks));
                for (size_t t = 0; t < tries; ++t, ++rowJudged) {
                    std::vector<bool> reached(n);
                    std::vector<size_t> hashes = discHashes[index];
                    for (size_t i = 0; i < n; ++i) {
                        reached[i] = n <= kAllSubsetsUpTo ? (t >> i) & 1 : random() & 1;
                        if (!reached[i]) continue;
                        std::copy(heldHashes[i].begin(), heldHashes[i].end(),
                                  hashes.begin() + held[i].lba);
                    }
                    const size_t key = hashOf(hashes.data(), hashes.size() * sizeof(size_t));
                    if (verdicts.count(key)) continue;
                    std::string disc = recorder.discs[index];
                    for (size_t i = 0; i < n; ++i)
                        if (reached[i])
                            disc.replace(size_t{held[i].lba} * kBlockSize, held[i].data->size(),
                                         reinterpret_cast<const char*>(held[i].data->data()),
                                         held[i].data->size());
                    verdicts[key] = judgeDisc(disc, kind);
                    EXPECT_EQ(verdicts[key], "")
                        << "cut after command " << m << ", " << n << " WRITEs held, subset " << t;
                    seen.insert(found.count("new") ? "new" : found.count("old") ? "old" : "none");
                }
            }
            std::cout << vdrive::MediumName(kind) << " over " << name << ": "
                      << recorder.moments.size() << " cuts, " << rowJudged << " states judged, "
                      << verdicts.size() << " distinct discs\n";
            judged += rowJudged;
            distinct += verdicts.size();
            cuts += recorder.moments.size();
            judgedOver[name] += rowJudged;
            distinctOver[name] += verdicts.size();
            EXPECT_EQ(seen, (std::set<std::string>{"old", "none", "new"}));
            drive->removeDisc();
        }
        std::cout << vdrive::MediumName(kind) << ": " << cuts << " cuts, " << judged
                  << " states judged, " << distinct << " distinct discs\n";
    }
    for (const auto& [name, count] : judgedOver)
        std::cout << "over " << name << ": " << count << " states judged, " << distinctOver[name]
                  << " distinct discs\n";
}

} // namespace
} // namespace tvx::test
