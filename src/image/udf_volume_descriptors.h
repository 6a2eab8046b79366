// The UDF descriptors of the volume space: volume recognition sequence, anchor, the volume
// descriptor sequence and the integrity sequence. Each builder clears its descriptor, fills it
// and tags it; buffers are the caller's (2048 bytes for the recognition sequence, 512 for the
// others).
#pragma once

#include <cstdint>

namespace tvx {

inline constexpr uint32_t kDescriptorBytes = 512;
inline constexpr uint32_t kLogicalVolumeBytes = 446;
inline constexpr uint32_t kUnallocatedSpaceBytes = 24;
inline constexpr uint32_t kIntegrityBytes = 134;

// Fixed places in the volume space.
inline constexpr uint32_t kMainSequenceSector = 32;
inline constexpr uint32_t kReserveSequenceSector = 48;
inline constexpr uint32_t kSequenceBytes = 32768;
inline constexpr uint32_t kIntegritySector = 64;
inline constexpr uint32_t kIntegrityExtentBytes = 4096;
inline constexpr uint32_t kFileSetExtentBytes = 4096;
inline constexpr uint32_t kFirstAnchorSector = 256;

void UDF_BuildVsdBEA01(uint8_t* sector);
void UDF_BuildVsdNSR02(uint8_t* sector);
void UDF_BuildVsdTEA01(uint8_t* sector);
void UDF_BuildAnchor(uint8_t* buffer, uint32_t location);
void UDF_BuildPrimaryVolume(uint8_t* buffer, uint32_t location, const char* volumeId,
                            const char* volumeSetId);
void UDF_BuildImplUseVolume(uint8_t* buffer, uint32_t location, const char* logicalVolumeId);
void UDF_BuildPartition(uint8_t* buffer, uint32_t location, uint32_t startSector,
                        uint32_t lengthBlocks);
void UDF_BuildLogicalVolume(uint8_t* buffer, uint32_t location, const char* logicalVolumeId);
void UDF_BuildUnallocatedSpace(uint8_t* buffer, uint32_t location);
// Only the tag is written: bytes 16-511 must already be zero.
void UDF_BuildTerminating(uint8_t* buffer, uint32_t location);
void UDF_BuildIntegrity(uint8_t* buffer, uint32_t location, uint32_t partitionBlocks,
                        uint32_t files, uint32_t directories);

} // namespace tvx
