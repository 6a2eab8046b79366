// The write list: the volume as an ordered list of sector runs. Runs are queued in ascending
// order of their start sector and never overlap, so the streamer never seeks backwards; gaps
// between runs are zero sectors.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tvx {

struct FileNode;
struct VolumePlan;

inline constexpr uint32_t kSectorSize = 2048;

enum class RunKind : uint32_t {
    Descriptor = 0, // a tagged UDF descriptor
    Bytes = 1,      // raw bytes (ISO 9660 structures, directory data, volume structures)
    File = 2,       // a host file's bytes
};

struct WriteRun {
    RunKind kind = RunKind::Bytes;
    uint32_t start = 0;       // first sector
    uint32_t sectorCount = 0; // sectors of the run (for a file: its planned size in sectors)
    uint32_t byteLength = 0;  // meaningful bytes (kinds 0 and 1); zeros pad the last sector
    // Kinds 0 and 1: the meaningful bytes, unless the run is a File Entry built when streamed
    // (fileEntryOf set), which keeps per-file memory independent of the descriptor's size.
    std::vector<uint8_t> content;
    const FileNode* fileEntryOf = nullptr;
    uint64_t uniqueId = 0;
    // Kind 2: the node whose sourcePath is read.
    const FileNode* file = nullptr;

    const std::string& hostPath() const;
    uint64_t plannedSize() const;
};

// Queue a run at the tail of the plan's list. Nonzero on success; 0 (nothing queued) when
// memory runs out or the run would not follow the previous one.
int QueueDescriptor(VolumePlan* plan, uint32_t sector, const uint8_t* descriptor);
int QueueBytes(VolumePlan* plan, uint32_t sector, const uint8_t* data, uint32_t length);
// The run covers at least `sectors` sectors (zeros after the data).
int QueueBytes(VolumePlan* plan, uint32_t sector, std::vector<uint8_t> data, uint32_t sectors = 0);
int QueueFileEntry(VolumePlan* plan, uint32_t sector, const FileNode* node, uint64_t uniqueId);
int QueueFile(VolumePlan* plan, uint32_t sector, const FileNode* node);

// The meaningful bytes of a kind 0 or 1 run, into buffer (at least sectorCount * 2048 bytes,
// which this zeroes first). Returns byteLength.
uint32_t Plan_RunBytes(const WriteRun& run, uint8_t* buffer);

// One line per run ("kind start count length what"), for tests and people.
std::string Plan_DumpWriteList(const VolumePlan* plan);

} // namespace tvx
