// A burn over an old volume on a drive whose write cache loses what it holds when the power
// fails. The power is cut after every command; of the WRITEs still in the cache every subset (a
// seeded sample where there are many) reaches the disc. Each state must read as the old volume
// whole, no volume, or the new volume whole, to our reader and to 7z, bsdtar, isoinfo and
// udfinfo. Old volumes of other tools are in the table, on each kind written in place.
#include "recording_fixture.h"
#include "vdrive/write_cache.h"
#include "volume_check.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <random>
#include <set>
#include <string_view>
#include <unordered_map>

namespace tvx::test {
namespace {

namespace fs = std::filesystem;
using vdrive::HeldWrite;
using vdrive::MediumKind;

constexpr uint32_t kCapacity = 4096;
constexpr uint32_t kCacheBytes = 10 * 65536; // ten WRITEs: the new volume fills it up
constexpr size_t kAllSubsetsUpTo = 6;        // held WRITEs; beyond, a sample
constexpr size_t kSampledSubsets = 200;

std::string ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}
std::string Quoted(const std::string& s) {
    return "'" + s + "'";
}

// The drive as the power cut after each command leaves it: the disc, and the WRITEs held.
struct Moment {
    size_t disc; // index into the discs seen
    std::vector<HeldWrite> held;
};

class Recorder final : public ScsiTarget {
  public:
    Recorder(vdrive::VirtualRecorder& drive, vdrive::WriteCache& cache)
        : drive_(drive), cache_(cache) {}
    std::vector<std::string> discs;
    std::vector<Moment> moments;
    void note() {
        std::string disc(size_t{kCapacity} * vdrive::kBlockSize, '\0');
        cache_.disc().read(0, kCapacity, reinterpret_cast<uint8_t*>(disc.data()));
        if (discs.empty() || discs.back() != disc) discs.push_back(std::move(disc));
        moments.push_back({discs.size() - 1, cache_.held()});
    }
    ScsiResult execute(const ScsiRequest& request) override {
        ScsiResult r = drive_.execute(request);
        note();
        return r;
    }

  private:
    vdrive::VirtualRecorder& drive_;
    vdrive::WriteCache& cache_;
};

// An old volume: made by a tool into the image file (nullptr: burnt by us).
struct OldVolume {
    const char* name;
    const char* command; // %I the image, %O the old files' folder, %P a FAT partition image
};

const OldVolume kOldVolumes[] = {
    {"ours", nullptr},
    {"genisoimage -udf", "genisoimage -quiet -udf -V OLDVOL -o %I %O"},
    {"mkudffs", "truncate -s 8M %I && mkudffs --media-type=dvdram --label=OLDVOL %I"},
    {"xorriso hybrid", "xorriso -as mkisofs -quiet -V OLDVOL --protective-msdos-label "
                       "-append_partition 2 0x0c %P -o %I %O"},
};

struct Kind {
    MediumKind kind;
    const char* name;
};
const Kind kKinds[] = {{MediumKind::DvdPlusRw, "DVD+RW"},
                       {MediumKind::DvdRam, "DVD-RAM"},
                       {MediumKind::DvdRwRestricted, "DVD-RW restricted overwrite"}};

class CacheCutTest : public RecordingTest {
  protected:
    std::map<std::string, std::string> oldFiles, newFiles; // lower-case name -> bytes
    std::string partition;                                 // the hybrid's FAT partition
    std::string lastOurs;                                  // what our reader found last
    std::set<std::string> lastStates;                      // what all readers found last

    std::string fill(const char* pattern, const std::string& image) {
        std::string command = pattern;
        for (auto [key, value] : {std::pair{"%I", Quoted(image)},
                                  {"%O", Quoted(dir.file("old"))},
                                  {"%P", Quoted(dir.file("part.fat"))}})
            for (size_t at; (at = command.find(key)) != std::string::npos;)
                command.replace(at, 2, value);
        return command;
    }

    // The files a reader extracted into `out`, judged against both sources.
    std::string judgeFiles(const std::string& out) {
        std::set<std::string> olds, news;
        for (const auto& entry : fs::recursive_directory_iterator(out)) {
            if (!entry.is_regular_file()) continue;
            std::string name = entry.path().filename().string();
            std::transform(name.begin(), name.end(), name.begin(), ::tolower);
            if (auto semicolon = name.find(';'); semicolon != std::string::npos)
                name.resize(semicolon);
            const std::string bytes = ReadWhole(entry.path().string());
            if (newFiles.count(name) && newFiles[name] == bytes) {
                news.insert(name);
            } else if ((oldFiles.count(name) && oldFiles[name] == bytes) ||
                       (!partition.empty() && bytes == partition)) {
                olds.insert(name);
            } else {
                return name + " differs from both sources";
            }
        }
        if (!news.empty() && !olds.empty()) return "old and new files together";
        if (!news.empty()) return news.size() == newFiles.size() ? "new" : "part of the new files";
        if (olds.empty()) return "none";
        // The hybrid's partition alone is an old volume too.
        return olds.size() == oldFiles.size() || olds.size() == 1 ? "old" : "part of the old files";
    }

    std::string listed(const std::string& listing) {
        std::string text = listing;
        std::transform(text.begin(), text.end(), text.begin(), ::tolower);
        auto all = [&](const std::map<std::string, std::string>& files) {
            size_t n = 0;
            for (const auto& [name, bytes] : files)
                n += text.find("/" + name) != std::string::npos;
            return n;
        };
        const size_t olds = all(oldFiles), news = all(newFiles);
        if (olds && news) return "old and new files together";
        if (news) return news == newFiles.size() ? "new" : "part of the new files";
        if (olds) return olds == oldFiles.size() ? "old" : "part of the old files";
        return "none";
    }

    std::string ours(const std::string& disc, MediumKind kind) {
        vdrive::VirtualRecorder reader(sim->virtualClock());
        EXPECT_TRUE(reader.insertRecorded(kind, kCapacity, false, kCapacity));
        reader.writeBlocks(0, kCapacity, reinterpret_cast<const uint8_t*>(disc.data()));
        RecHandle* h = transport.open(reader);
        std::map<std::string, int> found; // "old"/"new" -> files equal to their source; -1 wrong
        for (const auto* files : {&oldFiles, &newFiles})
            for (const auto& [name, bytes] : *files) {
                TVX_DiscFile file = TVX_OpenFile(h, ("/" + name).c_str());
                if (!file) continue;
                std::string content(static_cast<size_t>(TVX_GetFileSize(file)), '\0');
                uint32_t got = 0;
                const bool equal = TVX_ReadFile(file, content.data(),
                                                static_cast<uint32_t>(content.size()), &got) &&
                                   got == content.size() && content == bytes;
                TVX_CloseFile(file);
                if (!equal) return name + " reads wrong";
                ++found[files == &oldFiles ? "old" : "new"];
            }
        if (found.size() > 1) return "old and new files together";
        if (found.empty()) return "none";
        const auto& [which, n] = *found.begin();
        return size_t(n) == (which == "old" ? oldFiles : newFiles).size() ? which
                                                                          : "part of a volume";
    }

    // What each reader finds on the disc; empty when they agree on old, none or new.
    std::string judge(const std::string& disc, MediumKind kind) {
        const std::string image = dir.file("state.img"), out = dir.file("x");
        std::ofstream(image, std::ios::binary | std::ios::trunc) << disc;
        std::map<std::string, std::string> seen;
        seen["tvx"] = ours(disc, kind);
        for (const char* tool : {"7z", "bsdtar"}) {
            // Files are extracted only where the reader lists some.
            const bool sevenZip = std::string(tool) == "7z";
            const ToolResult listing =
                RunTool(sevenZip ? "7z l -slt " + Quoted(image) : "bsdtar -tf " + Quoted(image));
            const bool lists = sevenZip ? listing.output.find("\nPath = ") != std::string::npos
                                        : listing.status == 0 && !listing.output.empty();
            seen[tool] = "none";
            if (!lists) continue;
            fs::remove_all(out);
            fs::create_directories(out);
            RunTool(sevenZip ? "7z x -y -o" + Quoted(out) + " " + Quoted(image)
                             : "bsdtar -xf " + Quoted(image) + " -C " + Quoted(out));
            seen[tool] = judgeFiles(out);
        }
        seen["isoinfo"] = listed(RunTool("isoinfo -f -i " + Quoted(image)).output);
        const ToolResult udf = RunTool("udfinfo " + Quoted(image));
        seen["udfinfo"] = udf.status != 0                                        ? "none"
                          : udf.output.find("label=NEWVOL") != std::string::npos ? "new"
                          : udf.output.find("label=OLDVOL") != std::string::npos ? "old"
                                                                                 : "label?";
        lastOurs = seen["tvx"];
        lastStates.clear();
        std::set<std::string> states;
        std::string all;
        bool valid = true;
        for (const auto& [tool, state] : seen) {
            states.insert(state);
            lastStates.insert(state);
            all += tool + ": " + state + "; ";
            valid = valid && (state == "old" || state == "none" || state == "new");
        }
        return valid && !(states.count("old") && states.count("new")) ? "" : all;
    }
};

// The subsets of n held WRITEs a cut tries: all, or a seeded sample with none and all.
std::vector<std::vector<bool>> Subsets(size_t n, uint32_t seed) {
    std::vector<std::vector<bool>> subsets;
    if (n <= kAllSubsetsUpTo) {
        for (uint32_t bits = 0; bits < (1u << n); ++bits) {
            std::vector<bool> s(n);
            for (size_t i = 0; i < n; ++i)
                s[i] = (bits >> i) & 1;
            subsets.push_back(s);
        }
        return subsets;
    }
    std::mt19937 random(seed);
    subsets.push_back(std::vector<bool>(n, false));
    subsets.push_back(std::vector<bool>(n, true));
    while (subsets.size() < kSampledSubsets) {
        std::vector<bool> s(n);
        for (size_t i = 0; i < n; ++i)
            s[i] = random() & 1;
        subsets.push_back(s);
    }
    return subsets;
}

TEST_F(CacheCutTest, EveryCutAndEveryLossLeavesTheOldVolumeNoneOrTheNewOne) {
    for (const char* tool :
         {"genisoimage", "mkudffs", "xorriso", "mformat", "7z", "bsdtar", "isoinfo", "udfinfo"})
        ASSERT_EQ(RunTool(std::string("command -v ") + tool).status, 0) << tool << " is needed";
    for (auto [name, size] : {std::pair{"old_a.bin", 300000}, {"old_b.bin", 200000}})
        oldFiles[name] = ReadWhole(makeFile(std::string("old/") + name, size));
    // The first new file lies inside the structures' blocks, the last ones beyond them.
    for (auto [name, size] : {std::pair{"new_1.bin", 3000},
                              {"new_2.bin", 20000},
                              {"new_3.bin", 70000},
                              {"new_4.bin", 50000}})
        newFiles[name] = ReadWhole(makeFile(std::string("new/") + name, size));
    const std::string fat = dir.file("part.fat");
    ASSERT_EQ(RunTool("mformat -C -i " + Quoted(fat) + " -f 1440 :: && mcopy -i " + Quoted(fat) +
                      " " + Quoted(dir.file("old/old_b.bin")) + " ::")
                  .status,
              0);
    const std::string fatBytes = ReadWhole(fat);

    for (const Kind& kind : kKinds) {
        size_t judged = 0, distinct = 0, cuts = 0;
        for (const OldVolume& old : kOldVolumes) {
            SCOPED_TRACE(std::string(kind.name) + " over " + old.name);
            partition = std::string(old.name) == "xorriso hybrid" ? fatBytes : "";
            std::string oldDisc(size_t{kCapacity} * vdrive::kBlockSize, '\0');
            if (drive->trayOpen()) drive->closeTray();
            insertBlank(kind.kind, kCapacity);
            if (!old.command) {
                TVX_BurnOptions options = {TVX_MODE_WRITE, -1};
                ASSERT_EQ(TVX_BurnVolumeData(handle, &options, dir.file("old").c_str(), "OLDVOL",
                                             nullptr, 0),
                          TVX_OK);
                drive->readBlocks(0, kCapacity, reinterpret_cast<uint8_t*>(oldDisc.data()));
            } else {
                const std::string image = dir.file("old.img");
                fs::remove(image);
                const ToolResult made = RunTool(fill(old.command, image));
                ASSERT_EQ(made.status, 0) << made.output;
                const std::string bytes = ReadWhole(image);
                ASSERT_LE(bytes.size(), oldDisc.size());
                oldDisc.replace(0, bytes.size(), bytes);
            }
            ASSERT_EQ(judge(oldDisc, kind.kind), "");
            ASSERT_TRUE(lastStates.count("old")) << "the old volume is there to lose";
            drive->removeDisc();
            if (drive->trayOpen()) drive->closeTray(); // the burn ejected the disc
            ASSERT_TRUE(drive->insertRecorded(kind.kind, kCapacity, false, kCapacity));
            drive->writeBlocks(0, kCapacity, reinterpret_cast<const uint8_t*>(oldDisc.data()));
            vdrive::WriteCache* cache = drive->holdWritesInCache(kCacheBytes);
            ASSERT_NE(cache, nullptr);

            Recorder recorder(*drive, *cache);
            recorder.note();
            RecHandle* h = transport.open(recorder);
            TVX_BurnOptions options = {TVX_MODE_WRITE, -1};
            ASSERT_EQ(
                TVX_BurnVolumeData(h, &options, dir.file("new").c_str(), "NEWVOL", nullptr, 0),
                TVX_OK);
            ASSERT_TRUE(recorder.moments.back().held.empty());

            // Every state, named by the hash of its blocks' hashes; each distinct one judged.
            auto blockHash = [](const char* block) {
                return std::hash<std::string_view>()(std::string_view(block, vdrive::kBlockSize));
            };
            std::vector<std::vector<size_t>> discHashes;
            for (const std::string& disc : recorder.discs) {
                std::vector<size_t> hashes(kCapacity);
                for (uint32_t b = 0; b < kCapacity; ++b)
                    hashes[b] = blockHash(disc.data() + size_t{b} * vdrive::kBlockSize);
                discHashes.push_back(std::move(hashes));
            }
            std::unordered_map<size_t, std::string> verdicts;
            std::set<std::string> seen;
            for (size_t m = 0; m < recorder.moments.size(); ++m) {
                const Moment& moment = recorder.moments[m];
                for (const std::vector<bool>& reached :
                     Subsets(moment.held.size(), static_cast<uint32_t>(m))) {
                    std::vector<size_t> hashes = discHashes[moment.disc];
                    for (size_t i = 0; i < reached.size(); ++i)
                        if (reached[i])
                            for (uint32_t b = 0; b < moment.held[i].blocks; ++b)
                                hashes[moment.held[i].lba + b] = blockHash(
                                    reinterpret_cast<const char*>(moment.held[i].data->data()) +
                                    size_t{b} * vdrive::kBlockSize);
                    const size_t key = std::hash<std::string_view>()(
                        std::string_view(reinterpret_cast<const char*>(hashes.data()),
                                         hashes.size() * sizeof(size_t)));
                    ++judged;
                    if (verdicts.count(key)) continue;
                    std::string disc = recorder.discs[moment.disc];
                    for (size_t i = 0; i < reached.size(); ++i)
                        if (reached[i])
                            disc.replace(size_t{moment.held[i].lba} * vdrive::kBlockSize,
                                         moment.held[i].data->size(),
                                         reinterpret_cast<const char*>(moment.held[i].data->data()),
                                         moment.held[i].data->size());
                    const std::string verdict = judge(disc, kind.kind);
                    EXPECT_EQ(verdict, "") << "cut after command " << m << ", "
                                           << std::count(reached.begin(), reached.end(), true)
                                           << " of " << reached.size() << " held WRITEs reached";
                    verdicts[key] = verdict;
                    seen.insert(lastOurs);
                }
            }
            distinct += verdicts.size();
            cuts += recorder.moments.size();
            std::cout << kind.name << " over " << old.name << ": " << recorder.moments.size()
                      << " cuts, " << verdicts.size() << " distinct discs" << std::endl;
            // The cuts went through every state.
            EXPECT_TRUE(seen.count("new"));
            EXPECT_TRUE(seen.count("none"));
            drive->removeDisc();
        }
        std::cout << kind.name << ": " << cuts << " cuts, " << judged << " states judged, "
                  << distinct << " distinct discs\n";
    }
}

} // namespace
} // namespace tvx::test
