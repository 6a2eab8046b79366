// Character set descriptions and entity identifiers (regids) of the UDF descriptors.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tvx {

inline constexpr size_t kCharspecSize = 64;
inline constexpr size_t kRegidSize = 32;
inline constexpr uint16_t kUdfRevision = 0x0102;

inline constexpr char kImplementationId[] = "*Meradin UDF 1.02";
inline constexpr char kDomainId[] = "*OSTA UDF Compliant";
inline constexpr char kLvInfoId[] = "*UDF LV Info";
inline constexpr char kFreeEaSpaceId[] = "*UDF FreeEASpace";
inline constexpr char kDvdCgmsInfoId[] = "*UDF DVD CGMS Info";
inline constexpr char kPartitionContentsId[] = "+NSR02";

// CS0, "OSTA Compressed Unicode".
void UDF_SetCharspec(uint8_t* field);
// Implementation form: flags 0, suffix all zero.
void UDF_SetImplId(uint8_t* field, const char* identifier);
// Domain form: UDF revision 0x0102, domain flags 3 (hard and soft write-protect).
void UDF_SetDomainId(uint8_t* field, const char* identifier);
// UDF form: UDF revision 0x0102, OS class 0, OS identifier 0.
void UDF_SetUdfId(uint8_t* field, const char* identifier);
// The Partition Contents regid: flags 2, "+NSR02".
void UDF_SetPartitionContentsId(uint8_t* field);

} // namespace tvx
