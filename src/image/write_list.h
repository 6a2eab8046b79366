// The write list: the volume as an ordered list of sector runs. Runs are queued in ascending
// order of their start sector and never overlap, so the streamer never seeks backwards; gaps
// between runs are zero sectors.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tvx {

struct FileNode;
struct VolumePlan;

inline constexpr uint32_t kSectorSize = 2048;

enum class RunKind : uint8_t {
    Descriptor = 0, // a tagged UDF descriptor
    Bytes = 1,      // raw bytes (ISO 9660 structures, directory data, volume structures)
    File = 2,       // a host file's bytes
};

// Where a run's bytes come from. Per-entry runs are built from their node when streamed, so
// the plan's memory per entry stays small whatever the descriptors' sizes.
enum class RunSource : uint8_t {
    Held,          // content
    FileEntry,     // the File Entry of node, with uniqueId
    DirectoryData, // the File Identifiers of directory node
    HostFile,      // kind 2: the host file of node
    IsoDirectory,  // the ISO 9660 records of directory node, placed as content says
};

struct WriteRun {
    RunKind kind = RunKind::Bytes;
    RunSource source = RunSource::Held;
    uint32_t start = 0;       // first sector
    uint32_t sectorCount = 0; // sectors of the run (for a file: its planned size in sectors)
    uint32_t byteLength = 0;  // meaningful bytes (kinds 0 and 1); zeros pad the last sector
    // Held: the byteLength meaningful bytes; IsoDirectory: the placement of the records (see
    // Iso_DirectoryPlacement).
    std::unique_ptr<uint8_t[]> content;
    const FileNode* node = nullptr;
    uint64_t uniqueId = 0;

    std::string hostPath() const;
    uint64_t plannedSize() const;
};

// Queue a run at the tail of the plan's list. Nonzero on success; 0 (nothing queued) when
// memory runs out or the run would not follow the previous one.
int QueueDescriptor(VolumePlan* plan, uint32_t sector, const uint8_t* descriptor);
// The run covers at least `sectors` sectors (zeros after the data).
int QueueBytes(VolumePlan* plan, uint32_t sector, const uint8_t* data, uint32_t length,
               uint32_t sectors = 0);
int QueueFileEntry(VolumePlan* plan, uint32_t sector, const FileNode* node, uint64_t uniqueId);
// A directory's data: its parent entry and one File Identifier per entry of its chain.
int QueueDirectoryData(VolumePlan* plan, uint32_t sector, const FileNode* dir);
int QueueFile(VolumePlan* plan, uint32_t sector, const FileNode* node);
// An ISO 9660 directory of length meaningful bytes in sectors sectors, made when streamed.
int QueueIsoDirectory(VolumePlan* plan, uint32_t sector, const FileNode* dir,
                      const std::vector<uint8_t>& placement, uint32_t length, uint32_t sectors);

// The meaningful bytes of a kind 0 or 1 run, into buffer (at least sectorCount * 2048 bytes,
// which this zeroes first). Returns byteLength.
uint32_t Plan_RunBytes(const WriteRun& run, uint8_t* buffer);
// A directory's data (Plan_DirectoryDataSize bytes) into out, tagged for blocks from its
// dataBlock on. Returns the bytes written.
uint32_t Plan_BuildDirectoryData(const FileNode* dir, uint8_t* out);

// One line per run ("kind start count length what"), for tests and people.
std::string Plan_DumpWriteList(const VolumePlan* plan);

} // namespace tvx
