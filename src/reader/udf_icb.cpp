#include "common/byte_order.h"
#include "image/udf_tag.h"
#include "mmc/commands.h"
#include "reader/udf_reader.h"

#include <algorithm>
#include <vector>

namespace tvx {

namespace {

struct ShortAd {
    uint32_t length; // bytes, extent type removed
    uint32_t block;
};

// Reads the directory's short_ad extents into bytes. Memory grows only as sectors arrive, and
// never beyond the partition, whatever the descriptors claim.
int readDirectoryExtents(UdfWalk& walk, const uint8_t* ads, uint32_t adLength,
                         std::vector<uint8_t>& bytes) {
    const uint64_t partitionBytes = static_cast<uint64_t>(walk.partitionLength) * kSectorSize;
    const uint32_t count = adLength / 8;
    uint64_t total = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const ShortAd ad{GetLe32(ads + 8 * i) & kExtentLengthMask, GetLe32(ads + 8 * i + 4)};
        if (ad.length == 0) continue;
        // Only the last extent may end inside a sector.
        if (total % kSectorSize != 0) return 0;
        const uint32_t sectors = (ad.length + kSectorSize - 1) / kSectorSize;
        if (static_cast<uint64_t>(ad.block) + sectors > walk.partitionLength) return 0;
        total += ad.length;
        if (total > partitionBytes || walk.directoryBytes + total > partitionBytes) return 0;
        size_t at = bytes.size();
        for (uint32_t done = 0; done < sectors;) {
            const uint32_t n = std::min(kDirectoryReadSectors, sectors - done);
            bytes.resize(at + static_cast<size_t>(n) * kSectorSize);
            if (!Mmc_Read10(walk.handle, bytes.data() + at, n * kSectorSize,
                            walk.partitionStart + ad.block + done, static_cast<uint16_t>(n))) {
                return 0;
            }
            at += static_cast<size_t>(n) * kSectorSize;
            done += n;
        }
        bytes.resize(total);
    }
    walk.directoryBytes += total;
    return 1;
}

} // namespace

bool UdfReader_IcbLayout(const uint8_t* entry, size_t length, IcbLayout& layout) {
    if (length < kExtFileEntryHeader) return false;
    switch (GetLe16(entry)) {
    case kTagFileEntry:
        layout.header = kFileEntryHeader;
        layout.eaLength = GetLe32(entry + 168);
        layout.adLength = GetLe32(entry + 172);
        break;
    case kTagExtendedFileEntry:
        layout.header = kExtFileEntryHeader;
        layout.eaLength = GetLe32(entry + 208);
        layout.adLength = GetLe32(entry + 212);
        break;
    default:
        return false;
    }
    const uint64_t end = static_cast<uint64_t>(layout.header) + layout.eaLength + layout.adLength;
    return end <= length;
}

int UdfReader_VisitIcb(UdfWalk& walk, uint32_t block) {
    uint8_t entry[kSectorSize];
    if (!Mmc_Read10(walk.handle, entry, kSectorSize, walk.partitionStart + block, 1)) return 0;
    IcbLayout layout;
    if (!UdfReader_IcbLayout(entry, sizeof entry, layout)) return 0;
    if (walk.visitor && !walk.visitor(walk.context, entry, sizeof entry, nullptr)) return 0;
    if (entry[kIcbFileTypeOffset] != kFileTypeDirectory) return 1;

    // A directory reached twice is a cycle (directories have no other links); a tree this deep
    // is no tree a path could name.
    if (walk.depth >= kMaxDirectoryDepth) return 0;
    if (!walk.directories.insert(block).second) return 0;

    const uint8_t* ads = entry + layout.header + layout.eaLength;
    const uint16_t allocation = GetLe16(entry + kIcbFlagsOffset) & 7;
    ++walk.depth;
    int ok = 0;
    if (allocation == kAllocEmbedded) {
        ok = UdfReader_WalkDirectory(walk, entry, ads, layout.adLength);
    } else if (allocation == kAllocShort) {
        std::vector<uint8_t> bytes;
        if (readDirectoryExtents(walk, ads, layout.adLength, bytes)) {
            ok = UdfReader_WalkDirectory(walk, entry, bytes.data(), bytes.size());
        }
    }
    --walk.depth;
    return ok;
}

int UdfReader_WalkDirectory(UdfWalk& walk, const uint8_t* directoryEntry, const uint8_t* fids,
                            size_t length) {
    // First pass: every descriptor to the visitor, and the bounds of each checked.
    size_t at = 0;
    while (at < length) {
        if (length - at < kFidFixedSize) return 0;
        const uint8_t* fid = fids + at;
        const size_t size = (kFidFixedSize + GetLe16(fid + kFidImplUseLengthOffset) +
                             fid[kFidNameLengthOffset] + 3) & ~size_t{3};
        if (size > length - at) {
            // The padding of the last descriptor may be missing; its bytes may not.
            const size_t used = kFidFixedSize + GetLe16(fid + kFidImplUseLengthOffset) +
                                fid[kFidNameLengthOffset];
            if (used > length - at) return 0;
        }
        const size_t available = std::min(size, length - at);
        if (walk.visitor && !walk.visitor(walk.context, fid, available, directoryEntry)) return 0;
        at += size;
    }
    // Second pass: follow every live, named entry.
    for (at = 0; at < length;) {
        const uint8_t* fid = fids + at;
        const size_t size = (kFidFixedSize + GetLe16(fid + kFidImplUseLengthOffset) +
                             fid[kFidNameLengthOffset] + 3) & ~size_t{3};
        if (!(fid[kFidCharacteristicsOffset] & kFidDeleted) && fid[kFidNameLengthOffset] > 0) {
            if (!UdfReader_VisitIcb(walk, GetLe32(fid + kFidIcbBlockOffset))) return 0;
        }
        at += size;
    }
    return 1;
}

} // namespace tvx
