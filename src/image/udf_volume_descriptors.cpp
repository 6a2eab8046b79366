#include "image/udf_volume_descriptors.h"

#include "common/byte_order.h"
#include "image/udf_dchars.h"
#include "image/udf_regid.h"
#include "image/udf_tag.h"
#include "image/udf_timestamp.h"

#include <cstring>

namespace tvx {

namespace {

constexpr uint32_t kVsdBytes = 2048;
constexpr uint32_t kBlockBytes = 2048;
constexpr size_t kDString32 = 32;
constexpr size_t kDString128 = 128;
// Fixed descriptor values.
constexpr uint16_t kInterchangeLevelVolume = 2;
constexpr uint32_t kCharacterSetCs0 = 1;
constexpr uint16_t kPartitionAllocated = 1;
constexpr uint32_t kAccessReadOnly = 1;
constexpr uint32_t kMapTypeOne = 1;
constexpr uint8_t kMapLength = 6;
constexpr uint32_t kCloseIntegrity = 1;
constexpr uint32_t kIntegrityImplUseLength = 46;
constexpr uint32_t kFirstUniqueIdBase = 15;

void buildVsd(uint8_t* sector, const char* identifier) {
    std::memset(sector, 0, kVsdBytes);
    sector[0] = 0;
    std::memcpy(sector + 1, identifier, 5);
    sector[6] = 1;
}

void setDString(uint8_t* field, size_t size, const char* text) {
    UDF_SetDString(text, std::strlen(text), field, size);
}

void putExtent(uint8_t* p, uint32_t length, uint32_t location) {
    PutLe32(p, length);
    PutLe32(p + 4, location);
}

} // namespace

void UDF_BuildVsdBEA01(uint8_t* sector) {
    buildVsd(sector, "BEA01");
}
void UDF_BuildVsdNSR02(uint8_t* sector) {
    buildVsd(sector, "NSR02");
}
void UDF_BuildVsdTEA01(uint8_t* sector) {
    buildVsd(sector, "TEA01");
}

void UDF_BuildAnchor(uint8_t* d, uint32_t location) {
    std::memset(d, 0, kDescriptorBytes);
    putExtent(d + 16, kSequenceBytes, kMainSequenceSector);
    putExtent(d + 24, kSequenceBytes, kReserveSequenceSector);
    UDF_MakeTag(d, kTagAnchor, location, kDescriptorBytes);
}

void UDF_BuildPrimaryVolume(uint8_t* d, uint32_t location, const char* volumeId,
                            const char* volumeSetId) {
    std::memset(d, 0, kDescriptorBytes);
    PutLe32(d + 16, 0); // Volume Descriptor Sequence Number
    PutLe32(d + 20, 0); // Primary Volume Descriptor Number
    setDString(d + 24, kDString32, volumeId);
    PutLe16(d + 56, 1); // Volume Sequence Number
    PutLe16(d + 58, 1); // Maximum Volume Sequence Number
    PutLe16(d + 60, kInterchangeLevelVolume);
    PutLe16(d + 62, kInterchangeLevelVolume);
    PutLe32(d + 64, kCharacterSetCs0);
    PutLe32(d + 68, kCharacterSetCs0);
    setDString(d + 72, kDString128, volumeSetId);
    UDF_SetCharspec(d + 200);
    UDF_SetCharspec(d + 264);
    UDF_SetTimestampNow(d + 376);
    UDF_SetImplId(d + 388, kImplementationId);
    UDF_MakeTag(d, kTagPrimaryVolume, location, kDescriptorBytes);
}

void UDF_BuildImplUseVolume(uint8_t* d, uint32_t location, const char* logicalVolumeId) {
    std::memset(d, 0, kDescriptorBytes);
    PutLe32(d + 16, 1);
    UDF_SetUdfId(d + 20, kLvInfoId);
    UDF_SetCharspec(d + 52);
    setDString(d + 116, kDString128, logicalVolumeId);
    UDF_SetImplId(d + 352, kImplementationId);
    UDF_MakeTag(d, kTagImplUseVolume, location, kDescriptorBytes);
}

void UDF_BuildPartition(uint8_t* d, uint32_t location, uint32_t startSector,
                        uint32_t lengthBlocks) {
    std::memset(d, 0, kDescriptorBytes);
    PutLe32(d + 16, 2);
    PutLe16(d + 20, kPartitionAllocated);
    PutLe16(d + 22, 0); // Partition Number
    UDF_SetPartitionContentsId(d + 24);
    PutLe32(d + 184, kAccessReadOnly);
    PutLe32(d + 188, startSector);
    PutLe32(d + 192, lengthBlocks);
    UDF_SetImplId(d + 196, kImplementationId);
    UDF_MakeTag(d, kTagPartition, location, kDescriptorBytes);
}

void UDF_BuildLogicalVolume(uint8_t* d, uint32_t location, const char* logicalVolumeId) {
    std::memset(d, 0, kLogicalVolumeBytes);
    PutLe32(d + 16, 3);
    UDF_SetCharspec(d + 20);
    setDString(d + 84, kDString128, logicalVolumeId);
    PutLe32(d + 212, kBlockBytes);
    UDF_SetDomainId(d + 216, kDomainId);
    PutLe32(d + 248, kFileSetExtentBytes); // long_ad of the File Set Descriptor: block 0
    PutLe32(d + 264, kMapLength);          // Map Table Length
    PutLe32(d + 268, 1);                   // Number of Partition Maps
    UDF_SetImplId(d + 272, kImplementationId);
    putExtent(d + 432, kIntegrityExtentBytes, kIntegritySector);
    d[440] = kMapTypeOne;
    d[441] = kMapLength;
    PutLe16(d + 442, 1); // Volume Sequence Number
    PutLe16(d + 444, 0); // Partition Number
    UDF_MakeTag(d, kTagLogicalVolume, location, kLogicalVolumeBytes);
}

void UDF_BuildUnallocatedSpace(uint8_t* d, uint32_t location) {
    std::memset(d, 0, kUnallocatedSpaceBytes);
    PutLe32(d + 16, 4);
    PutLe32(d + 20, 0);
    UDF_MakeTag(d, kTagUnallocatedSpace, location, kUnallocatedSpaceBytes);
}

void UDF_BuildTerminating(uint8_t* d, uint32_t location) {
    UDF_MakeTag(d, kTagTerminating, location, kDescriptorBytes);
}

void UDF_BuildIntegrity(uint8_t* d, uint32_t location, uint32_t partitionBlocks, uint32_t files,
                        uint32_t directories) {
    std::memset(d, 0, kIntegrityBytes);
    UDF_SetTimestampNow(d + 16);
    PutLe32(d + 28, kCloseIntegrity);
    putExtent(d + 32, 0, 0);
    PutLe64(d + 40, static_cast<uint64_t>(files) + directories + kFirstUniqueIdBase);
    PutLe32(d + 72, 1); // Number of Partitions
    PutLe32(d + 76, kIntegrityImplUseLength);
    PutLe32(d + 80, 0); // Free Space Table
    PutLe32(d + 84, partitionBlocks);
    UDF_SetImplId(d + 88, kImplementationId);
    PutLe32(d + 120, files);
    PutLe32(d + 124, directories);
    PutLe16(d + 128, kUdfRevision);
    PutLe16(d + 130, kUdfRevision);
    PutLe16(d + 132, kUdfRevision);
    UDF_MakeTag(d, kTagIntegrity, location, kIntegrityBytes);
}

} // namespace tvx
