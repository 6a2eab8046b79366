// Walks the UDF file system on the disc of a drive: anchor, volume descriptor sequence,
// integrity sequence, file set, then every directory and File Entry of the tree, depth first.
// Every descriptor read is handed to a visitor; the reader keeps nothing between walks. File
// Entries and listings are read ahead in runs of sectors, so a walk takes few commands.
//
// A disc is untrusted input. Every length read from it is checked against the bytes actually
// read before it is used, directories are bounded by the partition, a directory met twice
// (a cycle) or a tree deeper than kMaxDirectoryDepth ends the walk with failure.
//
// Every descriptor used is checked (identifier, location, tag checksum, and the descriptor CRC
// where its length fits the bytes read) before anyone sees it. A damaged volume descriptor
// sequence is replaced by the reserve one. Below the file set, damage is local: a File Entry
// that fails its checks, or a directory whose listing does, is reported to the damage visitor
// and the walk goes on without what lies below it.
#pragma once

#include "transport/rec_handle.h"

#include <cstddef>
#include <cstdint>
#include <unordered_set>
#include <vector>

namespace tvx {

inline constexpr uint32_t kSectorSize = 2048;
// Sector addresses of the commands are 32-bit: this many sectors can be addressed.
inline constexpr uint64_t kSectorAddresses = uint64_t{1} << 32;
inline constexpr size_t kTagLocationOffset = 12;
// Where the anchor is looked for when no track gives one, and the failure answer of FindAnchor.
inline constexpr uint32_t kDefaultAnchorSector = 256;
inline constexpr int kAnchorProbeTries = 32;
inline constexpr uint32_t kMaxDirectoryDepth = 128;
// Directory extents are read in commands of at most this many sectors (64 KiB); File Entries
// are read ahead in runs of the same size.
inline constexpr uint32_t kDirectoryReadSectors = 32;

// File Entry (261) and Extended File Entry (266) layouts.
inline constexpr size_t kFileEntryHeader = 176;
inline constexpr size_t kExtFileEntryHeader = 216;
inline constexpr size_t kIcbFileTypeOffset = 27;
inline constexpr size_t kIcbFlagsOffset = 34;
inline constexpr size_t kInformationLengthOffset = 56;
inline constexpr uint8_t kFileTypeDirectory = 4;
inline constexpr uint16_t kAllocShort = 0;
inline constexpr uint16_t kAllocLong = 1;
inline constexpr uint16_t kAllocExtended = 2;
inline constexpr uint16_t kAllocEmbedded = 3;
inline constexpr uint32_t kExtentLengthMask = 0x3FFFFFFF;

// File Identifier Descriptor layout.
inline constexpr size_t kFidFixedSize = 38;
inline constexpr size_t kFidCharacteristicsOffset = 18;
inline constexpr size_t kFidNameLengthOffset = 19;
inline constexpr size_t kFidIcbBlockOffset = 24;
inline constexpr size_t kFidImplUseLengthOffset = 36;
inline constexpr uint8_t kFidDeleted = 0x04;

// Sees every descriptor the walk reads: descriptor bytes (length of them are valid) and, for a
// File Identifier Descriptor only, the (Extended) File Entry of the directory that holds it.
// Returning 0 ends the whole walk with failure.
using UdfVisitor = int (*)(void* context, const uint8_t* descriptor, size_t length,
                           const uint8_t* directoryEntry);

// What the walk could not use; it goes on without what lies below.
enum class UdfDamage {
    FileEntry, // the (Extended) File Entry at the block is damaged: its entry is unreadable
    Directory, // the listing of the directory whose File Entry is at the block is damaged
};
// Told of each damaged File Entry or directory, with the partition-relative block of the entry.
using UdfDamageVisitor = void (*)(void* context, UdfDamage damage, uint32_t block);

struct UdfExtent {
    uint32_t length = 0;   // bytes
    uint32_t location = 0; // sector
};

// The anchor's two copies of the volume descriptor sequence.
struct UdfAnchor {
    UdfExtent main;
    UdfExtent reserve;
};

// The one partition every ICB address is relative to. Its sectors all have 32-bit addresses.
struct UdfPartition {
    uint32_t start = 0;  // sector
    uint32_t length = 0; // blocks
};

// What the volume descriptor sequence tells the walk.
struct UdfVolumeInfo {
    bool havePartition = false;
    uint32_t partitionStart = 0;
    uint32_t partitionLength = 0; // blocks
    uint32_t fileSetBlock = 0;
    UdfExtent integrity;
};

// The running walk of the tree below the file set.
struct UdfWalk {
    RecHandle* handle = nullptr;
    uint32_t partitionStart = 0;
    uint32_t partitionLength = 0; // blocks; bounds every block the walk reads
    UdfVisitor visitor = nullptr;
    UdfDamageVisitor damaged = nullptr;
    void* context = nullptr;
    uint32_t depth = 0;
    uint64_t directoryBytes = 0;              // all directories read so far
    std::unordered_set<uint32_t> directories; // File Entry blocks of directories walked
    // The last run of partition blocks read ahead. A directory's File Entries and listings
    // mostly lie one after the other in walk order, so one command serves many of them.
    std::vector<uint8_t> ahead;
    uint32_t aheadBlock = 0;
    uint32_t aheadCount = 0; // blocks held in ahead; 0 when none
};

// Walks the whole volume. damaged (may be null) hears of damage below the file set; partition
// (may be null) receives the partition the walk used.
int UdfReader_Open(RecHandle* handle, UdfVisitor visitor, void* context,
                   UdfDamageVisitor damaged = nullptr, UdfPartition* partition = nullptr);
uint32_t UdfReader_FindAnchor(RecHandle* handle);
int UdfReader_ProbeAnchor(RecHandle* handle, uint32_t sector);
int UdfReader_ReadAnchor(RecHandle* handle, UdfVisitor visitor, void* context, UdfAnchor& anchor);
int UdfReader_ReadVolumeSequence(RecHandle* handle, const UdfExtent& sequence, UdfVisitor visitor,
                                 void* context, UdfVolumeInfo& volume);
int UdfReader_CheckIntegrity(RecHandle* handle, const UdfExtent& integrity, UdfVisitor visitor,
                             void* context);
// rootBlock is set only when the sector holds a File Set Descriptor.
int UdfReader_ReadFileSet(RecHandle* handle, uint32_t sector, UdfVisitor visitor, void* context,
                          uint32_t& rootBlock);
int UdfReader_VisitIcb(UdfWalk& walk, uint32_t block);
int UdfReader_WalkDirectory(UdfWalk& walk, const uint8_t* directoryEntry, const uint8_t* fids,
                            size_t length);

// True when the tag checksum matches and, where the CRC Length fits the available bytes (the
// tag included), the descriptor CRC does too. Identifier and location are the caller's to check.
bool UdfReader_TagIntact(const uint8_t* descriptor, size_t available);

// Header size of an (Extended) File Entry with its L_EA and L_AD, or 0 for another descriptor.
struct IcbLayout {
    size_t header = 0;
    uint32_t eaLength = 0;
    uint32_t adLength = 0;
};
// Reads the layout of a descriptor of length bytes; false when it is no (Extended) File Entry
// or its header, extended attributes and allocation descriptors do not fit in those bytes.
bool UdfReader_IcbLayout(const uint8_t* entry, size_t length, IcbLayout& layout);

} // namespace tvx
