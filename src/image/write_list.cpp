#include "image/write_list.h"

#include "common/byte_order.h"
#include "image/iso9660.h"
#include "image/plan.h"
#include "image/udf_file_entry.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

namespace tvx {

namespace {

uint32_t sectorsFor(uint64_t bytes) {
    return static_cast<uint32_t>((bytes + kSectorSize - 1) / kSectorSize);
}

// Runs must come in ascending order without overlap; only a file of 0 bytes (no sectors) may
// share its start with the next run.
bool follows(const VolumePlan* plan, uint32_t start) {
    if (plan->writeList.empty()) return true;
    const WriteRun& last = plan->writeList.back();
    return start >= static_cast<uint64_t>(last.start) + last.sectorCount;
}

int append(VolumePlan* plan, WriteRun&& run) {
    if (!follows(plan, run.start)) return 0;
    try {
        plan->writeList.push_back(std::move(run));
        return 1;
    } catch (const std::bad_alloc&) {
        return 0;
    }
}

} // namespace

std::string WriteRun::hostPath() const {
    return source == RunSource::HostFile && node ? Plan_SourcePath(node) : std::string();
}

uint64_t WriteRun::plannedSize() const {
    return source == RunSource::HostFile && node ? node->size() : byteLength;
}

int QueueDescriptor(VolumePlan* plan, uint32_t sector, const uint8_t* descriptor) {
    uint32_t length = GetLe16(descriptor + 10) + 16u;
    if (!QueueBytes(plan, sector, descriptor, length)) return 0;
    plan->writeList.back().kind = RunKind::Descriptor;
    return 1;
}

int QueueBytes(VolumePlan* plan, uint32_t sector, const uint8_t* data, uint32_t length,
               uint32_t sectors) {
    WriteRun run;
    run.kind = RunKind::Bytes;
    run.start = sector;
    run.byteLength = length;
    run.sectorCount = std::max(sectorsFor(length), sectors);
    if (length > 0) {
        run.content.reset(new (std::nothrow) uint8_t[length]);
        if (!run.content) return 0;
        std::memcpy(run.content.get(), data, length);
    }
    return append(plan, std::move(run));
}

int QueueFileEntry(VolumePlan* plan, uint32_t sector, const FileNode* node, uint64_t uniqueId) {
    WriteRun run;
    run.kind = RunKind::Descriptor;
    run.source = RunSource::FileEntry;
    run.start = sector;
    run.byteLength =
        kFileEntryFixedBytes + kExtAttrSpaceBytes + UDF_ShortAdCount(node->size()) * kShortAdBytes;
    run.sectorCount = sectorsFor(run.byteLength);
    run.node = node;
    run.uniqueId = uniqueId;
    return append(plan, std::move(run));
}

int QueueDirectoryData(VolumePlan* plan, uint32_t sector, const FileNode* dir) {
    WriteRun run;
    run.kind = RunKind::Bytes;
    run.source = RunSource::DirectoryData;
    run.start = sector;
    run.byteLength = dir->sizeLow; // the layout stored the data's length there
    run.sectorCount = sectorsFor(run.byteLength);
    run.node = dir;
    return append(plan, std::move(run));
}

int QueueFile(VolumePlan* plan, uint32_t sector, const FileNode* node) {
    WriteRun run;
    run.kind = RunKind::File;
    run.source = RunSource::HostFile;
    run.start = sector;
    run.sectorCount = node->sectorCount;
    run.node = node;
    return append(plan, std::move(run));
}

int QueueIsoDirectory(VolumePlan* plan, uint32_t sector, const FileNode* dir,
                      const std::vector<uint8_t>& placement, uint32_t length, uint32_t sectors) {
    WriteRun run;
    run.kind = RunKind::Bytes;
    run.source = RunSource::IsoDirectory;
    run.start = sector;
    run.byteLength = length;
    run.sectorCount = std::max(sectorsFor(length), sectors);
    run.node = dir;
    run.content.reset(new (std::nothrow) uint8_t[placement.size()]);
    if (!run.content) return 0;
    std::memcpy(run.content.get(), placement.data(), placement.size());
    return append(plan, std::move(run));
}

uint32_t Plan_BuildDirectoryData(const FileNode* dir, uint8_t* out) {
    // The parent entry points at the parent's File Entry (the root's own for the root).
    FileNode parentEntry;
    parentEntry.attributes = kNodeDirectory;
    parentEntry.entryBlock = dir->parent ? dir->parent->entryBlock : dir->entryBlock;
    uint32_t offset = 0;
    auto add = [&](const FileNode& n) {
        uint32_t block = dir->dataBlock + offset / kSectorSize;
        offset += UDF_BuildFileIdent(out + offset, block, n);
    };
    add(parentEntry);
    for (const FileNode* c = dir->firstChild; c; c = c->nextSibling)
        add(*c);
    return offset;
}

uint32_t Plan_RunBytes(const WriteRun& run, uint8_t* buffer) {
    std::memset(buffer, 0, static_cast<size_t>(run.sectorCount) * kSectorSize);
    switch (run.source) {
    case RunSource::HostFile:
        return 0;
    case RunSource::FileEntry:
        // Tagged with its partition-relative block.
        return UDF_BuildFileEntry(buffer, run.node->entryBlock, *run.node, run.uniqueId);
    case RunSource::DirectoryData:
        return Plan_BuildDirectoryData(run.node, buffer);
    case RunSource::IsoDirectory:
        Iso_BuildDirectory(buffer, run.node, run.content.get());
        return run.byteLength;
    case RunSource::Held:
        break;
    }
    if (run.byteLength > 0) std::memcpy(buffer, run.content.get(), run.byteLength);
    return run.byteLength;
}

std::string Plan_DumpWriteList(const VolumePlan* plan) {
    std::string out;
    char line[400];
    for (const WriteRun& run : plan->writeList) {
        const char* what = "bytes";
        std::string detail;
        if (run.kind == RunKind::File) {
            what = "file";
            detail = run.hostPath();
        } else if (run.source == RunSource::FileEntry) {
            what = "file entry";
            detail = run.node->parent ? run.node->name : "/";
        } else if (run.source == RunSource::DirectoryData) {
            what = "directory";
            detail = run.node->parent ? run.node->name : "/";
        } else if (run.kind == RunKind::Descriptor) {
            what = "descriptor";
            detail = std::to_string(GetLe16(run.content.get()));
        }
        std::snprintf(line, sizeof line, "%u %u %u %u %s %s\n", static_cast<unsigned>(run.kind),
                      run.start, run.sectorCount, run.byteLength, what, detail.c_str());
        out += line;
    }
    return out;
}

} // namespace tvx
