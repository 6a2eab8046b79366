#include "common/byte_order.h"
#include "image/udf_tag.h"
#include "mmc/commands.h"
#include "reader/udf_reader.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace tvx {

namespace {

constexpr uint32_t kShortAdSize = 8;
constexpr uint32_t kLongAdSize = 16;

struct ShortAd {
    uint32_t length; // bytes, extent type removed
    uint32_t block;
};

enum class Listing { Read, Damaged, Failed };

bool inAhead(const UdfWalk& walk, uint32_t block, uint32_t count) {
    return block >= walk.aheadBlock &&
           static_cast<uint64_t>(block) + count <= uint64_t{walk.aheadBlock} + walk.aheadCount;
}

// Reads the partition block of a File Entry into out, from the run read ahead when it holds it;
// otherwise a new run starts at the block. A run that cannot be read (it may reach sectors the
// walk never needs) is not held against the walk: the block alone is read instead.
bool readEntryBlock(UdfWalk& walk, uint32_t block, uint8_t* out) {
    if (!inAhead(walk, block, 1)) {
        walk.aheadCount = 0;
        const uint32_t n = static_cast<uint32_t>(
            std::min<uint64_t>(kDirectoryReadSectors, uint64_t{walk.partitionLength} - block));
        walk.ahead.resize(static_cast<size_t>(n) * kSectorSize);
        if (n < 2 || !Mmc_Read10(walk.handle, walk.ahead.data(), n * kSectorSize,
                                 walk.partitionStart + block, static_cast<uint16_t>(n))) {
            return Mmc_Read10(walk.handle, out, kSectorSize, walk.partitionStart + block, 1) != 0;
        }
        walk.aheadBlock = block;
        walk.aheadCount = n;
    }
    std::memcpy(out, walk.ahead.data() + static_cast<size_t>(block - walk.aheadBlock) * kSectorSize,
                kSectorSize);
    return true;
}

// Reads the directory's extents (short_ad or long_ad, of adSize bytes; a long_ad's partition is
// the one partition) into bytes. Memory grows only as sectors arrive, and never beyond the
// partition, whatever the descriptors claim. Descriptors that do not fit the partition make the
// listing damaged; a failed read fails it.
Listing readDirectoryExtents(UdfWalk& walk, const uint8_t* ads, uint32_t adLength, uint32_t adSize,
                             std::vector<uint8_t>& bytes) {
    const uint64_t partitionBytes = static_cast<uint64_t>(walk.partitionLength) * kSectorSize;
    const uint32_t count = adLength / adSize;
    uint64_t total = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* descriptor = ads + static_cast<size_t>(adSize) * i;
        const ShortAd ad{GetLe32(descriptor) & kExtentLengthMask, GetLe32(descriptor + 4)};
        if (ad.length == 0) continue;
        // Only the last extent may end inside a sector.
        if (total % kSectorSize != 0) return Listing::Damaged;
        const uint32_t sectors = (ad.length + kSectorSize - 1) / kSectorSize;
        if (static_cast<uint64_t>(ad.block) + sectors > walk.partitionLength) {
            return Listing::Damaged;
        }
        total += ad.length;
        if (total > partitionBytes || walk.directoryBytes + total > partitionBytes) {
            return Listing::Damaged;
        }
        size_t at = bytes.size();
        for (uint32_t done = 0; done < sectors;) {
            const uint32_t n = std::min(kDirectoryReadSectors, sectors - done);
            bytes.resize(at + static_cast<size_t>(n) * kSectorSize);
            const uint32_t block = ad.block + done;
            if (inAhead(walk, block, n)) {
                std::memcpy(bytes.data() + at,
                            walk.ahead.data() +
                                static_cast<size_t>(block - walk.aheadBlock) * kSectorSize,
                            static_cast<size_t>(n) * kSectorSize);
            } else if (!Mmc_Read10(walk.handle, bytes.data() + at, n * kSectorSize,
                                   walk.partitionStart + block, static_cast<uint16_t>(n))) {
                return Listing::Failed;
            }
            at += static_cast<size_t>(n) * kSectorSize;
            done += n;
        }
        bytes.resize(total);
    }
    walk.directoryBytes += total;
    return Listing::Read;
}

// Bytes a File Identifier Descriptor takes: its own, and the padding to a multiple of 4.
size_t fidUsed(const uint8_t* fid) {
    return kFidFixedSize + GetLe16(fid + kFidImplUseLengthOffset) + fid[kFidNameLengthOffset];
}
size_t fidSize(const uint8_t* fid) {
    return (fidUsed(fid) + 3) & ~size_t{3};
}

// True when every descriptor of the listing lies in it and is an intact File Identifier.
bool listingIntact(const uint8_t* fids, size_t length) {
    for (size_t at = 0; at < length;) {
        if (length - at < kFidFixedSize) return false;
        const uint8_t* fid = fids + at;
        // The padding of the last descriptor may be missing; its bytes may not.
        if (fidUsed(fid) > length - at) return false;
        if (GetLe16(fid) != kTagFileIdent || !UdfReader_TagIntact(fid, length - at)) return false;
        at += fidSize(fid);
    }
    return true;
}

void reportDamage(UdfWalk& walk, UdfDamage damage, uint32_t block) {
    if (walk.damaged) walk.damaged(walk.context, damage, block);
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
    // A File Entry outside the partition, or one that fails its checks, makes only its own
    // entry unreadable (and hides what a directory would have held).
    if (block >= walk.partitionLength) {
        reportDamage(walk, UdfDamage::FileEntry, block);
        return 1;
    }
    uint8_t entry[kSectorSize];
    if (!readEntryBlock(walk, block, entry)) return 0;
    IcbLayout layout;
    if (!UdfReader_IcbLayout(entry, sizeof entry, layout) ||
        !UdfReader_TagIntact(entry, sizeof entry) || GetLe32(entry + kTagLocationOffset) != block) {
        reportDamage(walk, UdfDamage::FileEntry, block);
        return 1;
    }
    if (walk.visitor && !walk.visitor(walk.context, entry, sizeof entry, nullptr)) return 0;
    if (entry[kIcbFileTypeOffset] != kFileTypeDirectory) return 1;

    // A directory reached twice is a cycle (directories have no other links); a tree this deep
    // is no tree a path could name.
    if (walk.depth >= kMaxDirectoryDepth) return 0;
    if (!walk.directories.insert(block).second) return 0;

    // A listing is as long as the directory's Information Length says, whatever its extents
    // hold beyond that.
    const uint64_t informationLength = GetLe64(entry + kInformationLengthOffset);
    const uint8_t* ads = entry + layout.header + layout.eaLength;
    const uint16_t allocation = GetLe16(entry + kIcbFlagsOffset) & 7;
    ++walk.depth;
    int ok = 1;
    if (allocation == kAllocEmbedded) {
        const size_t length =
            static_cast<size_t>(std::min<uint64_t>(layout.adLength, informationLength));
        ok = UdfReader_WalkDirectory(walk, entry, ads, length);
    } else if (allocation == kAllocShort || allocation == kAllocLong) {
        const uint32_t adSize = allocation == kAllocShort ? kShortAdSize : kLongAdSize;
        std::vector<uint8_t> bytes;
        switch (readDirectoryExtents(walk, ads, layout.adLength, adSize, bytes)) {
        case Listing::Read: {
            const size_t length =
                static_cast<size_t>(std::min<uint64_t>(bytes.size(), informationLength));
            ok = UdfReader_WalkDirectory(walk, entry, bytes.data(), length);
            break;
        }
        case Listing::Damaged:
            reportDamage(walk, UdfDamage::Directory, block);
            break;
        case Listing::Failed:
            ok = 0;
            break;
        }
    } else {
        reportDamage(walk, UdfDamage::Directory, block); // ext_ad listings are not read
    }
    --walk.depth;
    return ok;
}

int UdfReader_WalkDirectory(UdfWalk& walk, const uint8_t* directoryEntry, const uint8_t* fids,
                            size_t length) {
    // Nothing of a damaged listing is used: its descriptors' bounds are no longer known.
    if (!listingIntact(fids, length)) {
        reportDamage(walk, UdfDamage::Directory, GetLe32(directoryEntry + kTagLocationOffset));
        return 1;
    }
    // First pass: every descriptor to the visitor.
    for (size_t at = 0; at < length;) {
        const uint8_t* fid = fids + at;
        const size_t available = std::min(fidSize(fid), length - at);
        if (walk.visitor && !walk.visitor(walk.context, fid, available, directoryEntry)) return 0;
        at += fidSize(fid);
    }
    // Second pass: follow every live, named entry.
    for (size_t at = 0; at < length;) {
        const uint8_t* fid = fids + at;
        if (!(fid[kFidCharacteristicsOffset] & kFidDeleted) && fid[kFidNameLengthOffset] > 0) {
            if (!UdfReader_VisitIcb(walk, GetLe32(fid + kFidIcbBlockOffset))) return 0;
        }
        at += fidSize(fid);
    }
    return 1;
}

} // namespace tvx
