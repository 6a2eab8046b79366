#include "reader/udf_reader.h"

#include "common/byte_order.h"
#include "image/udf_tag.h"
#include "mmc/commands.h"
#include "mmc/sense.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace tvx {

namespace {

// Anchor extents: main sequence at 16, reserve at 24.
constexpr size_t kAnchorMainOffset = 16;
constexpr size_t kAnchorReserveOffset = 24;
constexpr size_t kPartitionStartOffset = 188;
constexpr size_t kPartitionLengthOffset = 192;
constexpr size_t kLvdFileSetOffset = 248;   // long_ad: length, block, partition
constexpr size_t kLvdIntegrityOffset = 432; // extent_ad
constexpr size_t kFsdRootOffset = 400;      // long_ad
// Candidates outside [16, 0xFFFFFFEF] are not probed.
constexpr uint32_t kLowestCandidate = 16;
constexpr uint32_t kHighestCandidate = 0xFFFFFFEF;
constexpr size_t kTagChecksumOffset = 4;
constexpr size_t kTagCrcOffset = 8;
constexpr size_t kTagCrcLengthOffset = 10;

int readSector(RecHandle* handle, uint8_t* sector, uint32_t lba) {
    return Mmc_Read10(handle, sector, kSectorSize, lba, 1);
}

int visit(UdfVisitor visitor, void* context, const uint8_t* descriptor, size_t length) {
    return visitor ? visitor(context, descriptor, length, nullptr) : 1;
}

} // namespace

int UdfReader_ProbeAnchor(RecHandle* handle, uint32_t sector) {
    uint8_t buffer[kSectorSize];
    if (!readSector(handle, buffer, sector)) return 0;
    return UDF_CheckTag(buffer, sizeof buffer, kTagAnchor, sector) ? 1 : 0;
}

uint32_t UdfReader_FindAnchor(RecHandle* handle) {
    DiscInformation disc;
    if (!Mmc_ReadDiscInfo(handle, &disc)) return kDefaultAnchorSector;
    for (uint32_t track = disc.firstTrackInLastSession; track <= disc.lastTrackInLastSession;
         ++track) {
        TrackInformation info;
        if (!Mmc_ReadTrackInfo(handle, track, &info)) continue;
        const uint32_t s = info.trackStart;
        const uint32_t z = info.trackSize;
        const uint32_t r = info.lastRecorded;
        const uint32_t candidates[] = {s + 256, s + 512, r,           r - 256,
                                       r - 512, s + z,   s + z - 256, s + z - 512};
        for (uint32_t candidate : candidates) {
            if (candidate < kLowestCandidate || candidate > kHighestCandidate) continue;
            for (int attempt = 0; attempt < kAnchorProbeTries; ++attempt) {
                if (UdfReader_ProbeAnchor(handle, candidate)) return candidate;
                // The command layer already waited out a drive that is not ready: asking
                // again would only make the waits stack.
                if (Mmc_LastSense(handle).key == kSenseKeyNotReady) break;
            }
        }
    }
    return kDefaultAnchorSector;
}

bool UdfReader_TagIntact(const uint8_t* descriptor, size_t available) {
    if (available < kUdfTagSize) return false;
    if (UDF_TagChecksum(descriptor) != descriptor[kTagChecksumOffset]) return false;
    const uint16_t crcLength = GetLe16(descriptor + kTagCrcLengthOffset);
    if (crcLength > available - kUdfTagSize) return true; // not all of it was read
    return UDF_Crc16(descriptor + kUdfTagSize, crcLength) == GetLe16(descriptor + kTagCrcOffset);
}

int UdfReader_ReadAnchor(RecHandle* handle, UdfVisitor visitor, void* context, UdfAnchor& anchor) {
    const uint32_t sector = UdfReader_FindAnchor(handle);
    uint8_t buffer[kSectorSize];
    if (!readSector(handle, buffer, sector)) return 0;
    if (!UDF_CheckTag(buffer, sizeof buffer, kTagAnchor, sector)) return 0;
    if (!visit(visitor, context, buffer, sizeof buffer)) return 0;
    anchor.main = {GetLe32(buffer + kAnchorMainOffset), GetLe32(buffer + kAnchorMainOffset + 4)};
    anchor.reserve = {GetLe32(buffer + kAnchorReserveOffset),
                      GetLe32(buffer + kAnchorReserveOffset + 4)};
    return 1;
}

int UdfReader_ReadVolumeSequence(RecHandle* handle, const UdfExtent& sequence, UdfVisitor visitor,
                                 void* context, UdfVolumeInfo& volume) {
    if (sequence.length == 0) return 0;
    const uint32_t count = (sequence.length - 1) / kSectorSize + 1;
    if (static_cast<uint64_t>(sequence.location) + count > kSectorAddresses) return 0;
    // The sequence is short: its first sectors come in one command where they can, and sector
    // by sector where that fails (a run may reach sectors the sequence never uses).
    const uint32_t runCount = std::min(count, kDirectoryReadSectors);
    std::vector<uint8_t> run(static_cast<size_t>(runCount) * kSectorSize);
    const bool haveRun =
        runCount > 1 && Mmc_Read10(handle, run.data(), runCount * kSectorSize, sequence.location,
                                   static_cast<uint16_t>(runCount));
    uint8_t buffer[kSectorSize];
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t sector = sequence.location + i;
        if (haveRun && i < runCount) {
            std::memcpy(buffer, run.data() + static_cast<size_t>(i) * kSectorSize, kSectorSize);
        } else if (!readSector(handle, buffer, sector)) {
            return 0;
        }
        // A damaged descriptor ends this copy of the sequence; the caller tries the other.
        if (!UdfReader_TagIntact(buffer, sizeof buffer) ||
            GetLe32(buffer + kTagLocationOffset) != sector) {
            return 0;
        }
        if (!visit(visitor, context, buffer, sizeof buffer)) return 0;
        switch (GetLe16(buffer)) {
        case kTagPartition:
            volume.havePartition = true;
            volume.partitionStart = GetLe32(buffer + kPartitionStartOffset);
            volume.partitionLength = GetLe32(buffer + kPartitionLengthOffset);
            break;
        case kTagLogicalVolume:
            volume.fileSetBlock = GetLe32(buffer + kLvdFileSetOffset + 4);
            volume.integrity.length = GetLe32(buffer + kLvdIntegrityOffset);
            volume.integrity.location = GetLe32(buffer + kLvdIntegrityOffset + 4);
            break;
        case kTagPrimaryVolume:
        case kTagAnchor:
        case 3: // Volume Descriptor Pointer
        case kTagImplUseVolume:
        case kTagUnallocatedSpace:
            break;
        case kTagTerminating:
            return 1;
        default:
            return 0;
        }
    }
    return 0;
}

int UdfReader_CheckIntegrity(RecHandle* handle, const UdfExtent& integrity, UdfVisitor visitor,
                             void* context) {
    uint8_t buffer[kSectorSize];
    if (!readSector(handle, buffer, integrity.location)) return 0;
    if (!visit(visitor, context, buffer, sizeof buffer)) return 0;
    const uint16_t id = GetLe16(buffer);
    return id == kTagIntegrity || id == kTagTerminating ? 1 : 0;
}

int UdfReader_ReadFileSet(RecHandle* handle, uint32_t sector, UdfVisitor visitor, void* context,
                          uint32_t& rootBlock) {
    uint8_t buffer[kSectorSize];
    if (!readSector(handle, buffer, sector)) return 0;
    if (!UdfReader_TagIntact(buffer, sizeof buffer)) return 0;
    if (!visit(visitor, context, buffer, sizeof buffer)) return 0;
    const uint16_t id = GetLe16(buffer);
    if (id == kTagFileSet) {
        rootBlock = GetLe32(buffer + kFsdRootOffset + 4);
        return 1;
    }
    return id == kTagTerminating ? 1 : 0;
}

int UdfReader_Open(RecHandle* handle, UdfVisitor visitor, void* context, UdfDamageVisitor damaged,
                   UdfPartition* partition) {
    if (!Mmc_TestUnitReady(handle)) return 0;
    uint32_t lastLba = 0;
    if (!Mmc_ReadCapacity(handle, &lastLba)) return 0;
    Mmc_SetSpeed(handle, kSpeedFastest, kSpeedFastest);

    UdfAnchor anchor;
    if (!UdfReader_ReadAnchor(handle, visitor, context, anchor)) return 0;
    // The main sequence, or the reserve one when the main one is missing or damaged.
    UdfVolumeInfo volume;
    if (!UdfReader_ReadVolumeSequence(handle, anchor.main, visitor, context, volume)) {
        volume = UdfVolumeInfo{};
        if (!UdfReader_ReadVolumeSequence(handle, anchor.reserve, visitor, context, volume)) {
            return 0;
        }
    }
    if (!UdfReader_CheckIntegrity(handle, volume.integrity, visitor, context)) return 0;

    // A volume without a partition length reaches to the end of the disc. Every block of the
    // partition must have a sector address, so that no address computed from it wraps.
    uint64_t length = volume.partitionLength;
    if (length == 0 && volume.partitionStart <= lastLba) {
        length = static_cast<uint64_t>(lastLba) + 1 - volume.partitionStart;
    }
    if (length == 0 || volume.partitionStart + length > kSectorAddresses) return 0;
    if (volume.fileSetBlock >= length) return 0;

    // Without a File Set Descriptor the walk starts at the file set's own block and fails there.
    uint32_t rootBlock = volume.fileSetBlock;
    if (!UdfReader_ReadFileSet(handle, volume.partitionStart + volume.fileSetBlock, visitor,
                               context, rootBlock)) {
        return 0;
    }
    UdfWalk walk;
    walk.handle = handle;
    walk.partitionStart = volume.partitionStart;
    walk.partitionLength = static_cast<uint32_t>(length);
    walk.visitor = visitor;
    walk.damaged = damaged;
    walk.context = context;
    if (partition) *partition = {walk.partitionStart, walk.partitionLength};
    return UdfReader_VisitIcb(walk, rootBlock);
}

} // namespace tvx
