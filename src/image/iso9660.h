// The ISO 9660 view of the volume: directory numbering, path tables, directories, the Primary
// Volume Descriptor and the terminator. Placement comes from the layout planner.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tvx {

struct FileNode;
struct VolumePlan;

inline constexpr uint32_t kPathTableSector = 257;
inline constexpr uint32_t kIsoDotRecordBytes = 40;
// The largest extent of one directory record: a multiple of the sector size below 4 GiB.
inline constexpr uint64_t kIsoMaxExtentBytes = 0xFFFFF800;
inline constexpr uint32_t kMaxIsoDirectories = 0xFFFF;

// Numbers the directories (root 1, sibling groups depth first) into plan->isoDirectories.
// False when there are more directories than a path table can number.
bool Iso_BuildDirectoryTable(VolumePlan* plan);
uint32_t Iso_PathTableSize(const VolumePlan* plan);
// Sectors of the ISO directory whose entries start at first.
uint32_t Iso_DirectorySize(const FileNode* first);
// Directory records of one entry: files of 4 GiB and more take several (multi-extent).
uint32_t Iso_RecordCount(const FileNode& node);
// Length of a directory record with an identifier of n bytes.
uint32_t Iso_RecordLength(uint32_t identifierLength);
void Iso_BuildPrimaryVolume(uint8_t* sector, const VolumePlan* plan, const char* volumeSetId);
void Iso_BuildTerminator(uint8_t* sector);
void Iso_BuildPathTable(uint8_t* buffer, const VolumePlan* plan, bool littleEndian);
// Where the records of the ISO directory at plan->isoDirectories[index] point besides its
// entries' own data: the directory itself, its parent, each of its subdirectories in entry
// order, the partition; and the records' date (now). Packed as bytes, so that a write-list run
// can hold it and make the records when they are streamed. firstSubdirectory: the table index
// of the directory's first subdirectory (the subdirectories are numbered one after another).
std::vector<uint8_t> Iso_DirectoryPlacement(const VolumePlan* plan, size_t index,
                                            size_t firstSubdirectory);
// The records of directory dir from its placement, into out (zeroed, the directory's size in
// sectors). Returns the length up to the last nonzero byte.
uint32_t Iso_BuildDirectory(uint8_t* out, const FileNode* dir, const uint8_t* placement);

} // namespace tvx
