// The descriptor tag that starts every tagged UDF descriptor: its CRC, its checksum, making one
// and checking one read from a disc.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tvx {

inline constexpr size_t kUdfTagSize = 16;

// Tag identifiers of the descriptors this library writes or reads.
inline constexpr uint16_t kTagPrimaryVolume = 1;
inline constexpr uint16_t kTagAnchor = 2;
inline constexpr uint16_t kTagImplUseVolume = 4;
inline constexpr uint16_t kTagPartition = 5;
inline constexpr uint16_t kTagLogicalVolume = 6;
inline constexpr uint16_t kTagUnallocatedSpace = 7;
inline constexpr uint16_t kTagTerminating = 8;
inline constexpr uint16_t kTagIntegrity = 9;
inline constexpr uint16_t kTagFileSet = 256;
inline constexpr uint16_t kTagFileIdent = 257;
inline constexpr uint16_t kTagFileEntry = 261;
inline constexpr uint16_t kTagExtAttrHeader = 262;
inline constexpr uint16_t kTagExtendedFileEntry = 266;

// CRC-ITU-T (polynomial 0x1021, initial value 0, no reflection, no final inversion).
uint16_t UDF_Crc16(const uint8_t* data, size_t count);
// Sum modulo 256 of tag bytes 0-3 and 5-15.
uint8_t UDF_TagChecksum(const uint8_t* tag);
// Writes the tag of a descriptor whose body (bytes 16 .. totalLength-1) is already in place.
// Calling it again with another location re-tags a finished descriptor for that location.
void UDF_MakeTag(uint8_t* descriptor, uint16_t identifier, uint32_t location, uint32_t totalLength);
// True when identifier, location, checksum and (for a nonzero CRC Length) the CRC match.
// bytesRead counts the tag too; a CRC Length beyond the bytes read fails the check.
bool UDF_CheckTag(const uint8_t* descriptor, size_t bytesRead, uint16_t identifier,
                  uint32_t location);

} // namespace tvx
