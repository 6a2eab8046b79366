// The ISO 9660 view of the volume: directory numbering, path tables, directories, the Primary
// Volume Descriptor and the terminator. Placement comes from the layout planner.
#pragma once

#include <cstdint>

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
void Iso_BuildDirectories(uint8_t* buffer, const VolumePlan* plan);

} // namespace tvx
