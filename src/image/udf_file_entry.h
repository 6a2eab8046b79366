// The UDF descriptors inside the partition: File Set Descriptor, File Entries with their
// extended attribute space, and File Identifier Descriptors.
#pragma once

#include <cstdint>

namespace tvx {

struct FileNode;

inline constexpr uint32_t kFileEntryFixedBytes = 176;
inline constexpr uint32_t kExtAttrSpaceBytes = 132;
inline constexpr uint32_t kShortAdBytes = 8;
inline constexpr uint32_t kFileIdentFixedBytes = 38;
inline constexpr uint32_t kParentIdentBytes = 40;
// The largest extent: the biggest multiple of the block size below the 30-bit length limit.
inline constexpr uint64_t kMaxExtentBytes = 0x3FFFF800;
// A File Entry stays within one block with at most this many short_ads.
inline constexpr uint32_t kMaxShortAds =
    (2048 - kFileEntryFixedBytes - kExtAttrSpaceBytes) / kShortAdBytes;
inline constexpr uint64_t kMaxRecordableFileBytes = kMaxShortAds * kMaxExtentBytes;

void UDF_BuildFileSet(uint8_t* buffer, uint32_t location, const char* identifier,
                      uint32_t rootEntryBlock);
// The 132 bytes recorded at byte 176 of a File Entry, tagged with the File Entry's location.
void UDF_BuildExtAttrSpace(uint8_t* buffer, uint32_t location);
uint16_t UDF_EAHeaderChecksum(const uint8_t* attribute);
// Number of short_ads of a file of this size (at least one).
uint32_t UDF_ShortAdCount(uint64_t size);
// Builds the node's File Entry (buffer of 2048 bytes) and returns its length in bytes.
uint32_t UDF_BuildFileEntry(uint8_t* buffer, uint32_t location, const FileNode& node,
                            uint64_t uniqueId);
// Length of the node's File Identifier Descriptor: 38 + L_FI rounded up to 4.
uint32_t UDF_FileIdentLength(const FileNode& node);
// Builds the node's File Identifier Descriptor and returns its length in bytes.
uint32_t UDF_BuildFileIdent(uint8_t* buffer, uint32_t location, const FileNode& node);

} // namespace tvx
