#include "image/write_list.h"

#include "image/plan.h"
#include "image/udf_file_entry.h"
#include "mmc/byte_order.h"

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

const std::string& WriteRun::hostPath() const {
    static const std::string kNone;
    return file ? file->sourcePath : kNone;
}

uint64_t WriteRun::plannedSize() const {
    return file ? file->size() : byteLength;
}

int QueueDescriptor(VolumePlan* plan, uint32_t sector, const uint8_t* descriptor) {
    uint32_t length = GetLe16(descriptor + 10) + 16u;
    if (!QueueBytes(plan, sector, descriptor, length)) return 0;
    plan->writeList.back().kind = RunKind::Descriptor;
    return 1;
}

int QueueBytes(VolumePlan* plan, uint32_t sector, const uint8_t* data, uint32_t length) {
    try {
        return QueueBytes(plan, sector, std::vector<uint8_t>(data, data + length));
    } catch (const std::bad_alloc&) {
        return 0;
    }
}

int QueueBytes(VolumePlan* plan, uint32_t sector, std::vector<uint8_t> data, uint32_t sectors) {
    WriteRun run;
    run.kind = RunKind::Bytes;
    run.start = sector;
    run.byteLength = static_cast<uint32_t>(data.size());
    run.sectorCount = std::max(sectorsFor(data.size()), sectors);
    run.content = std::move(data);
    return append(plan, std::move(run));
}

int QueueFileEntry(VolumePlan* plan, uint32_t sector, const FileNode* node, uint64_t uniqueId) {
    WriteRun run;
    run.kind = RunKind::Descriptor;
    run.start = sector;
    run.byteLength =
        kFileEntryFixedBytes + kExtAttrSpaceBytes + UDF_ShortAdCount(node->size()) * kShortAdBytes;
    run.sectorCount = sectorsFor(run.byteLength);
    run.fileEntryOf = node;
    run.uniqueId = uniqueId;
    return append(plan, std::move(run));
}

int QueueFile(VolumePlan* plan, uint32_t sector, const FileNode* node) {
    WriteRun run;
    run.kind = RunKind::File;
    run.start = sector;
    run.sectorCount = node->sectorCount;
    run.file = node;
    return append(plan, std::move(run));
}

uint32_t Plan_RunBytes(const WriteRun& run, uint8_t* buffer) {
    std::memset(buffer, 0, static_cast<size_t>(run.sectorCount) * kSectorSize);
    if (run.kind == RunKind::File) return 0;
    if (run.fileEntryOf) {
        // Tagged with its partition-relative block.
        return UDF_BuildFileEntry(buffer, run.fileEntryOf->entryBlock, *run.fileEntryOf,
                                  run.uniqueId);
    }
    std::memcpy(buffer, run.content.data(), run.content.size());
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
        } else if (run.fileEntryOf) {
            what = "file entry";
            detail = run.fileEntryOf->parent ? run.fileEntryOf->name : "/";
        } else if (run.kind == RunKind::Descriptor) {
            what = "descriptor";
            detail = std::to_string(GetLe16(run.content.data()));
        }
        std::snprintf(line, sizeof line, "%u %u %u %u %s %s\n", static_cast<unsigned>(run.kind),
                      run.start, run.sectorCount, run.byteLength, what, detail.c_str());
        out += line;
    }
    return out;
}

} // namespace tvx
