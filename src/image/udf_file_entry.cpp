#include "image/udf_file_entry.h"

#include "common/byte_order.h"
#include "image/plan.h"
#include "image/udf_dchars.h"
#include "image/udf_regid.h"
#include "image/udf_tag.h"
#include "image/udf_timestamp.h"

#include <cstring>

namespace tvx {

namespace {

constexpr uint32_t kBlockBytes = 2048;
constexpr uint32_t kEaHeaderBytes = 24;
constexpr uint32_t kAttributeImplUse = 2048;
// ICB tag values.
constexpr uint16_t kStrategy4 = 4;
constexpr uint8_t kFileTypeDirectory = 4;
constexpr uint8_t kFileTypeFile = 5;
constexpr uint16_t kIcbFlags = 0x0230; // short_ad, non-relocatable, archive, contiguous
constexpr uint32_t kNoId = 0xFFFFFFFF;
constexpr uint32_t kPermissionsFile = 0x1084;
constexpr uint32_t kPermissionsDirectory = 0x14A5;
// File characteristics.
constexpr uint8_t kCharHidden = 0x01;
constexpr uint8_t kCharDirectory = 0x02;
constexpr uint8_t kCharParent = 0x08;
// File set values.
constexpr uint16_t kInterchangeLevelFileSet = 3;
constexpr uint32_t kCharacterSetCs0 = 1;

void putLongAd(uint8_t* p, uint32_t length, uint32_t block) {
    PutLe32(p, length);
    PutLe32(p + 4, block);
    PutLe16(p + 8, 0); // partition reference
}

void putImplAttribute(uint8_t* a, uint32_t length, uint32_t implUseLength, const char* id) {
    PutLe32(a + 0, kAttributeImplUse);
    a[4] = 1; // subtype
    PutLe32(a + 8, length);
    PutLe32(a + 12, implUseLength);
    UDF_SetUdfId(a + 16, id);
    PutLe16(a + 48, UDF_EAHeaderChecksum(a));
}

uint32_t childDirectoryCount(const FileNode& node) {
    uint32_t count = 0;
    for (const FileNode* c = node.firstChild; c; c = c->nextSibling) {
        if (c->isDirectory()) ++count;
    }
    return count;
}

} // namespace

void UDF_BuildFileSet(uint8_t* d, uint32_t location, const char* identifier,
                      uint32_t rootEntryBlock) {
    std::memset(d, 0, 512);
    UDF_SetTimestampNow(d + 16);
    PutLe16(d + 28, kInterchangeLevelFileSet);
    PutLe16(d + 30, kInterchangeLevelFileSet);
    PutLe32(d + 32, kCharacterSetCs0);
    PutLe32(d + 36, kCharacterSetCs0);
    PutLe32(d + 40, 0); // File Set Number
    PutLe32(d + 44, 0); // File Set Descriptor Number
    UDF_SetCharspec(d + 48);
    UDF_SetDString(identifier, std::strlen(identifier), d + 112, 128);
    UDF_SetCharspec(d + 240);
    UDF_SetDString(identifier, std::strlen(identifier), d + 304, 32);
    putLongAd(d + 400, kBlockBytes, rootEntryBlock);
    UDF_SetDomainId(d + 416, kDomainId);
    UDF_MakeTag(d, kTagFileSet, location, 512);
}

uint16_t UDF_EAHeaderChecksum(const uint8_t* attribute) {
    unsigned sum = 0;
    for (int i = 0; i < 48; ++i)
        sum += attribute[i];
    return static_cast<uint16_t>(sum);
}

void UDF_BuildExtAttrSpace(uint8_t* d, uint32_t location) {
    std::memset(d, 0, kExtAttrSpaceBytes);
    PutLe32(d + 16, kEaHeaderBytes);     // Implementation Attributes Location
    PutLe32(d + 20, kExtAttrSpaceBytes); // Application Attributes Location: none
    putImplAttribute(d + 24, 52, 4, kFreeEaSpaceId);
    putImplAttribute(d + 76, 56, 8, kDvdCgmsInfoId);
    UDF_MakeTag(d, kTagExtAttrHeader, location, kEaHeaderBytes);
}

uint32_t UDF_ShortAdCount(uint64_t size) {
    if (size == 0) return 1;
    return static_cast<uint32_t>((size + kMaxExtentBytes - 1) / kMaxExtentBytes);
}

uint32_t UDF_BuildFileEntry(uint8_t* d, uint32_t location, const FileNode& node,
                            uint64_t uniqueId) {
    bool directory = node.isDirectory();
    uint64_t size = node.size();
    uint32_t adCount = UDF_ShortAdCount(size);
    if (adCount > kMaxShortAds) adCount = kMaxShortAds; // the planner refuses such files
    uint32_t adBytes = adCount * kShortAdBytes;
    uint32_t total = kFileEntryFixedBytes + kExtAttrSpaceBytes + adBytes;
    std::memset(d, 0, total);

    PutLe32(d + 16, 0);
    PutLe16(d + 20, kStrategy4);
    PutLe16(d + 24, 1); // Maximum Number of Entries
    d[27] = directory ? kFileTypeDirectory : kFileTypeFile;
    PutLe16(d + 34, kIcbFlags);
    PutLe32(d + 36, kNoId);
    PutLe32(d + 40, kNoId);
    PutLe32(d + 44, directory ? kPermissionsDirectory : kPermissionsFile);
    PutLe16(d + 48, static_cast<uint16_t>(directory ? 1 + childDirectoryCount(node) : 1));
    PutLe64(d + 56, size);
    PutLe64(d + 64, (size + kBlockBytes - 1) / kBlockBytes);
    UDF_SetTimestamp(d + 84, node.writeTime);
    std::memcpy(d + 72, d + 84, kUdfTimestampSize);
    std::memcpy(d + 96, d + 84, kUdfTimestampSize);
    PutLe32(d + 108, 1); // Checkpoint
    UDF_SetImplId(d + 128, kImplementationId);
    PutLe64(d + 160, uniqueId);
    PutLe32(d + 168, kExtAttrSpaceBytes);
    PutLe32(d + 172, adBytes);
    UDF_BuildExtAttrSpace(d + kFileEntryFixedBytes, location);

    uint8_t* ad = d + kFileEntryFixedBytes + kExtAttrSpaceBytes;
    uint64_t remaining = size;
    uint32_t block = node.dataBlock;
    for (uint32_t i = 0; i < adCount && remaining > 0; ++i, ad += kShortAdBytes) {
        uint64_t extent = remaining < kMaxExtentBytes ? remaining : kMaxExtentBytes;
        PutLe32(ad, static_cast<uint32_t>(extent)); // extent type 0: recorded and allocated
        PutLe32(ad + 4, block);
        block += static_cast<uint32_t>((extent + kBlockBytes - 1) / kBlockBytes);
        remaining -= extent;
    }
    UDF_MakeTag(d, kTagFileEntry, location, total);
    return total;
}

uint32_t UDF_FileIdentLength(const FileNode& node) {
    return (kFileIdentFixedBytes + node.udfNameLength + 3) & ~3u;
}

uint32_t UDF_BuildFileIdent(uint8_t* d, uint32_t location, const FileNode& node) {
    uint32_t nameLength = node.udfNameLength;
    if (nameLength > kMaxFileIdentifierBytes) nameLength = kMaxFileIdentifierBytes;
    uint32_t total = (kFileIdentFixedBytes + nameLength + 3) & ~3u;
    std::memset(d, 0, total);
    PutLe16(d + 16, 1); // File Version Number
    uint8_t characteristics = 0;
    if (node.isDirectory()) characteristics |= kCharDirectory;
    if (node.attributes & kNodeHidden) characteristics |= kCharHidden;
    if (nameLength == 0) characteristics |= kCharParent;
    d[18] = characteristics;
    d[19] = static_cast<uint8_t>(nameLength);
    uint32_t icbBlock = node.entryBlock;
    if (nameLength == 0 && node.parent) icbBlock = node.parent->entryBlock;
    putLongAd(d + 20, kBlockBytes, icbBlock);
    PutLe16(d + 36, 0); // Length of Implementation Use
    if (!node.udfName.empty()) {
        std::memcpy(d + kFileIdentFixedBytes, node.udfName.data(), nameLength);
    } else if (nameLength > 0) {
        // A plain name: compression 8 and its own bytes (see FileNode::udfName).
        d[kFileIdentFixedBytes] = kCompression8;
        std::memcpy(d + kFileIdentFixedBytes + 1, node.name.data(), nameLength - 1);
    }
    UDF_MakeTag(d, kTagFileIdent, location, total);
    return total;
}

} // namespace tvx
