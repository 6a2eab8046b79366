// The layout planner: places the ISO 9660 area, the UDF volume structures, the partition with
// its file set, File Entries, directories and file data, then queues every run in ascending
// order.
#include "common/byte_order.h"
#include "image/directory_index.h"
#include "image/iso9660.h"
#include "image/plan.h"
#include "image/udf_file_entry.h"
#include "image/udf_tag.h"
#include "image/udf_timestamp.h"
#include "image/udf_volume_descriptors.h"
#include "platform/host.h"

#include <cstring>
#include <new>
#include <vector>

namespace tvx {

namespace {

constexpr uint32_t kFirstEntryBlock = 2; // after the File Set and its Terminating Descriptor
constexpr uint64_t kFirstUniqueId = 16;
constexpr uint32_t kDvdAlignment = 16;
constexpr uint32_t kSmallIfoSectors = 16;

uint32_t sectorsFor(uint64_t bytes) {
    return static_cast<uint32_t>((bytes + kSectorSize - 1) / kSectorSize);
}

uint32_t pathTableSectors(const VolumePlan* plan) {
    return sectorsFor(plan->pathTableSize);
}

struct BlockWalk {
    uint64_t next = kFirstEntryBlock;
    bool tooLarge = false;
};

// File Entries, each directory's data right after its File Entry, depth first.
void assignEntryBlocks(FileNode* first, BlockWalk& walk) {
    for (FileNode* n = first; n; n = n->nextSibling) {
        n->entryBlock = static_cast<uint32_t>(walk.next++);
        if (!n->isDirectory()) continue;
        uint32_t dataSize = Plan_DirectoryDataSize(n->firstChild);
        n->setSize(dataSize);
        n->sectorCount = sectorsFor(dataSize);
        n->dataBlock = n->entryBlock + 1;
        walk.next += n->sectorCount;
        assignEntryBlocks(n->firstChild, walk);
    }
}

void assignDataBlocks(VolumePlan* plan, FileNode* first, BlockWalk& walk) {
    for (FileNode* n = first; n; n = n->nextSibling) {
        if (n->isDirectory()) {
            assignDataBlocks(plan, n->firstChild, walk);
            continue;
        }
        if (n->size() > kMaxRecordableFileBytes) walk.tooLarge = true;
        n->dataBlock = static_cast<uint32_t>(walk.next);
        walk.next += n->sectorCount;
        // DVD-Video: the video manager's backup starts on a 16-sector boundary.
        if (n->name == "VIDEO_TS.IFO" && n->parent->name == "VIDEO_TS" &&
            n->sectorCount < kSmallIfoSectors && n->nextSibling &&
            n->nextSibling->name == "VIDEO_TS.BUP") {
            uint64_t before = 2ull * pathTableSectors(plan) + plan->isoDirectorySectors +
                              n->dataBlock + n->sectorCount + 1;
            plan->dvdPadding =
                static_cast<uint32_t>((kDvdAlignment - before % kDvdAlignment) % kDvdAlignment);
        }
    }
}

class Queue {
  public:
    explicit Queue(VolumePlan* plan) : plan_(plan) {}
    bool ok() const { return ok_; }
    void bytes(uint32_t sector, const uint8_t* data, uint32_t length, uint32_t sectors = 0) {
        ok_ = ok_ && QueueBytes(plan_, sector, data, length, sectors);
    }
    void isoDirectory(uint32_t sector, const FileNode* dir, const std::vector<uint8_t>& placement,
                      uint32_t length, uint32_t sectors) {
        ok_ = ok_ && QueueIsoDirectory(plan_, sector, dir, placement, length, sectors);
    }
    void directoryData(uint32_t sector, const FileNode* dir) {
        ok_ = ok_ && QueueDirectoryData(plan_, sector, dir);
    }
    void descriptor(uint32_t sector, const uint8_t* d) {
        ok_ = ok_ && QueueDescriptor(plan_, sector, d);
    }
    void fileEntry(uint32_t sector, const FileNode* n, uint64_t id) {
        ok_ = ok_ && QueueFileEntry(plan_, sector, n, id);
    }
    void file(uint32_t sector, const FileNode* n) { ok_ = ok_ && QueueFile(plan_, sector, n); }

  private:
    VolumePlan* plan_;
    bool ok_ = true;
};

void queueVolumeStructures(VolumePlan* plan, Queue& q) {
    uint8_t sector[kSectorSize];
    Iso_BuildPrimaryVolume(sector, plan, plan->volumeSetId.c_str());
    q.bytes(16, sector, kSectorSize);
    Iso_BuildTerminator(sector);
    q.bytes(17, sector, kSectorSize);
    UDF_BuildVsdBEA01(sector);
    q.bytes(18, sector, kSectorSize);
    UDF_BuildVsdNSR02(sector);
    q.bytes(19, sector, kSectorSize);
    UDF_BuildVsdTEA01(sector);
    q.bytes(20, sector, kSectorSize);

    const char* label = plan->label.c_str();
    uint8_t sequence[6][kDescriptorBytes] = {};
    UDF_BuildPrimaryVolume(sequence[0], 32, label, plan->volumeSetId.c_str());
    UDF_BuildImplUseVolume(sequence[1], 33, label);
    UDF_BuildPartition(sequence[2], 34, Plan_PartitionStart(plan), Plan_PartitionLength(plan));
    UDF_BuildLogicalVolume(sequence[3], 35, label);
    UDF_BuildUnallocatedSpace(sequence[4], 36);
    UDF_BuildTerminating(sequence[5], 37);
    for (int i = 0; i < 6; ++i)
        q.descriptor(kMainSequenceSector + i, sequence[i]);
    // The reserve sequence: the same descriptors, re-tagged for their own sectors.
    static const uint16_t kIds[6] = {kTagPrimaryVolume, kTagImplUseVolume,    kTagPartition,
                                     kTagLogicalVolume, kTagUnallocatedSpace, kTagTerminating};
    for (int i = 0; i < 6; ++i) {
        uint32_t length = GetLe16(sequence[i] + 10) + kUdfTagSize;
        UDF_MakeTag(sequence[i], kIds[i], kReserveSequenceSector + i, length);
        q.descriptor(kReserveSequenceSector + i, sequence[i]);
    }

    uint8_t d[kDescriptorBytes] = {};
    // The plan's counts are exact, so the tree need not be walked again to count it.
    UDF_BuildIntegrity(d, kIntegritySector, Plan_PartitionLength(plan), plan->fileCount,
                       plan->directoryCount);
    q.descriptor(kIntegritySector, d);
    std::memset(d, 0, sizeof d);
    UDF_BuildTerminating(d, kIntegritySector + 1);
    q.descriptor(kIntegritySector + 1, d);
    UDF_BuildAnchor(d, kFirstAnchorSector);
    q.descriptor(kFirstAnchorSector, d);
}

void queueIso(VolumePlan* plan, Queue& q) {
    uint32_t tableSectors = pathTableSectors(plan);
    std::vector<uint8_t> table(static_cast<size_t>(tableSectors) * kSectorSize);
    Iso_BuildPathTable(table.data(), plan, true);
    q.bytes(plan->pathTableLocation, table.data(), plan->pathTableSize);
    std::fill(table.begin(), table.end(), 0);
    Iso_BuildPathTable(table.data(), plan, false);
    q.bytes(plan->pathTableLocation + tableSectors, table.data(), plan->pathTableSize);

    // One run per directory, made from its entries when streamed: memory follows the
    // directories rather than their records. Its length (up to the last nonzero byte) comes from
    // making it once here.
    const std::vector<IsoDirectory>& directories = plan->isoDirectories;
    std::vector<size_t> firstSubdirectory(directories.size(), 0);
    for (size_t i = directories.size(); i-- > 1;)
        firstSubdirectory[directories[i].parentNumber - 1] = i;
    std::vector<uint8_t> records;
    for (size_t i = 0; i < directories.size(); ++i) {
        const IsoDirectory& d = directories[i];
        std::vector<uint8_t> placement = Iso_DirectoryPlacement(plan, i, firstSubdirectory[i]);
        records.assign(static_cast<size_t>(d.size) * kSectorSize, 0);
        uint32_t length = Iso_BuildDirectory(records.data(), d.node, placement.data());
        q.isoDirectory(d.location, d.node, placement, length, d.size);
    }
}

void queueEntries(const FileNode* first, uint32_t partitionStart, uint64_t& nextId, Queue& q) {
    for (const FileNode* n = first; n && q.ok(); n = n->nextSibling) {
        uint64_t id = n->parent ? nextId++ : 0;
        q.fileEntry(partitionStart + n->entryBlock, n, id);
        if (!n->isDirectory()) continue;
        q.directoryData(partitionStart + n->dataBlock, n);
        queueEntries(n->firstChild, partitionStart, nextId, q);
    }
}

void queueFiles(const FileNode* first, uint32_t partitionStart, Queue& q) {
    for (const FileNode* n = first; n && q.ok(); n = n->nextSibling) {
        if (n->isDirectory()) {
            queueFiles(n->firstChild, partitionStart, q);
        } else {
            q.file(partitionStart + n->dataBlock, n);
        }
    }
}

bool layout(VolumePlan* plan) {
    // Once per burn: every timestamp of the volume then converts without asking the system.
    host().refreshTimeZone();
    // No lookups follow: the indexes go before sorting needs its scratch memory.
    Dir_DropIndexes(&plan->root);
    Plan_SortTree(plan);

    if (!Iso_BuildDirectoryTable(plan)) return false;
    plan->pathTableLocation = kPathTableSector;
    plan->pathTableSize = Iso_PathTableSize(plan);
    plan->isoDirectoryStart = kPathTableSector + 2 * pathTableSectors(plan);
    uint64_t next = plan->isoDirectoryStart;
    for (IsoDirectory& d : plan->isoDirectories) {
        d.location = static_cast<uint32_t>(next);
        d.size = Iso_DirectorySize(d.node->firstChild);
        next += d.size;
    }
    if (next > UINT32_MAX) return false;
    plan->isoDirectorySectors = static_cast<uint32_t>(next - plan->isoDirectoryStart);

    plan->dvdPadding = 0;
    BlockWalk walk;
    assignEntryBlocks(&plan->root, walk); // the root is a chain of its own
    assignDataBlocks(plan, plan->root.firstChild, walk);
    if (walk.tooLarge || walk.next > UINT32_MAX) return false;
    plan->partitionLength = static_cast<uint32_t>(walk.next);
    uint64_t volumeSize = static_cast<uint64_t>(plan->isoDirectoryStart) +
                          plan->isoDirectorySectors + plan->dvdPadding + walk.next + 1;
    if (volumeSize > UINT32_MAX) return false;

    char setId[17];
    UDF_MakeVolumeSetId(setId);
    plan->volumeSetId = setId;

    // Fixed structures, one run per ISO directory, and per node its File Entry, a directory's
    // data or a file's bytes.
    plan->writeList.reserve(32 + plan->isoDirectories.size() + 2 * plan->directoryCount +
                            2 * static_cast<size_t>(plan->fileCount));
    Queue q(plan);
    queueVolumeStructures(plan, q);
    queueIso(plan, q);
    uint32_t p = Plan_PartitionStart(plan);
    uint8_t d[kDescriptorBytes] = {};
    UDF_BuildFileSet(d, 0, plan->label.c_str(), plan->root.entryBlock);
    q.descriptor(p, d);
    std::memset(d, 0, sizeof d);
    UDF_BuildTerminating(d, 1);
    q.descriptor(p + 1, d);
    uint64_t nextId = kFirstUniqueId;
    queueEntries(&plan->root, p, nextId, q);
    queueFiles(plan->root.firstChild, p, q);
    UDF_BuildAnchor(d, p + Plan_PartitionLength(plan));
    q.descriptor(p + Plan_PartitionLength(plan), d);
    plan->laidOut = q.ok();
    return q.ok();
}

} // namespace

uint32_t Plan_DirectoryDataSize(const FileNode* first) {
    uint32_t size = kParentIdentBytes;
    for (const FileNode* n = first; n; n = n->nextSibling)
        size += UDF_FileIdentLength(*n);
    return size;
}

uint32_t Plan_PartitionStart(const VolumePlan* plan) {
    return kPathTableSector + 2 * pathTableSectors(plan) + plan->isoDirectorySectors +
           plan->dvdPadding;
}

uint32_t Plan_PartitionLength(const VolumePlan* plan) {
    return plan->partitionLength;
}

uint32_t Plan_VolumeSize(const VolumePlan* plan) {
    return Plan_PartitionStart(plan) + Plan_PartitionLength(plan) + 1;
}

int Plan_Layout(VolumePlan* plan) {
    if (!plan || plan->laidOut) return 0;
    try {
        if (layout(plan)) return 1;
    } catch (const std::bad_alloc&) {
    }
    plan->writeList.clear();
    plan->laidOut = false;
    return 0;
}

} // namespace tvx
