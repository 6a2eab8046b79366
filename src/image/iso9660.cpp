#include "image/iso9660.h"

#include "common/byte_order.h"
#include "image/plan.h"
#include "image/udf_timestamp.h"
#include "platform/host.h"

#include <cstdio>
#include <cstring>

namespace tvx {

namespace {

constexpr uint8_t kFlagHidden = 0x01;
constexpr uint8_t kFlagDirectory = 0x02;
constexpr uint8_t kFlagMultiExtent = 0x80;
constexpr uint32_t kSystemUseBytes = 6;
constexpr size_t kVolumeIdBytes = 32;

struct RecordDate {
    uint8_t bytes[7];
};

RecordDate dateNow() {
    CalendarTime t = FileTimeToUtc(host().currentFileTime());
    return RecordDate{{static_cast<uint8_t>(t.year - 1900), static_cast<uint8_t>(t.month),
                       static_cast<uint8_t>(t.day), static_cast<uint8_t>(t.hour),
                       static_cast<uint8_t>(t.minute), static_cast<uint8_t>(t.second), 0}};
}

uint32_t putRecord(uint8_t* r, uint32_t location, uint32_t dataLength, const RecordDate& date,
                   uint8_t flags, const uint8_t* identifier, uint32_t n,
                   uint32_t systemUse = kSystemUseBytes) {
    uint32_t length = Iso_RecordLength(n) - kSystemUseBytes + systemUse;
    std::memset(r, 0, length);
    r[0] = static_cast<uint8_t>(length);
    r[1] = 0;
    PutBoth32(r + 2, location);
    PutBoth32(r + 10, dataLength);
    std::memcpy(r + 18, date.bytes, sizeof date.bytes);
    r[25] = flags;
    PutBoth16(r + 28, 1); // Volume Sequence Number
    r[32] = static_cast<uint8_t>(n);
    std::memcpy(r + 33, identifier, n);
    return length;
}

// Where a record of this length starts when packed at pos: never across a sector boundary.
uint32_t placeRecord(uint32_t pos, uint32_t length) {
    uint32_t offset = pos % 2048;
    if (offset + length > 2048) pos += 2048 - offset;
    return pos;
}

void fillSpaces(uint8_t* p, size_t n) {
    std::memset(p, ' ', n);
}

void putDateText(uint8_t* p, const CalendarTime& t) {
    char text[32];
    std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d00", t.year % 10000, t.month % 100,
                  t.day % 100, t.hour % 100, t.minute % 100, t.second % 100);
    std::memcpy(p, text, 16);
    p[16] = 0;
}

// The label cut to whole characters within the field.
size_t labelBytes(const std::string& label) {
    size_t kept = 0;
    while (kept < label.size()) {
        size_t step = host().ansiCharLength(label.data() + kept, label.size() - kept);
        if (step == 0 || kept + step > kVolumeIdBytes) break;
        kept += step;
    }
    return kept;
}

void numberGroup(VolumePlan* plan, FileNode* first, uint16_t parentNumber, bool& overflow) {
    size_t begin = plan->isoDirectories.size();
    for (FileNode* n = first; n; n = n->nextSibling) {
        if (!n->isDirectory()) continue;
        if (plan->isoDirectories.size() >= kMaxIsoDirectories) {
            overflow = true;
            return;
        }
        IsoDirectory d;
        d.node = n;
        d.number = static_cast<uint16_t>(plan->isoDirectories.size() + 1);
        d.parentNumber = parentNumber;
        plan->isoDirectories.push_back(d);
    }
    size_t end = plan->isoDirectories.size();
    for (size_t i = begin; i < end && !overflow; ++i) {
        IsoDirectory d = plan->isoDirectories[i];
        if (d.node->firstChild) numberGroup(plan, d.node->firstChild, d.number, overflow);
    }
}

} // namespace

uint32_t Iso_RecordLength(uint32_t n) {
    return ((33 + n + 1) & ~1u) + kSystemUseBytes;
}

uint32_t Iso_RecordCount(const FileNode& node) {
    if (node.isDirectory() || node.size() < kIsoMaxExtentBytes) return 1;
    return static_cast<uint32_t>((node.size() + kIsoMaxExtentBytes - 1) / kIsoMaxExtentBytes);
}

bool Iso_BuildDirectoryTable(VolumePlan* plan) {
    plan->isoDirectories.clear();
    plan->isoDirectories.reserve(plan->directoryCount);
    // The root is a chain of its own: number 1, its own parent.
    IsoDirectory root;
    root.node = &plan->root;
    root.number = 1;
    root.parentNumber = 1;
    plan->isoDirectories.push_back(root);
    bool overflow = false;
    if (plan->root.firstChild) numberGroup(plan, plan->root.firstChild, 1, overflow);
    return !overflow;
}

uint32_t Iso_PathTableSize(const VolumePlan* plan) {
    uint32_t size = 0;
    for (const IsoDirectory& d : plan->isoDirectories) {
        uint32_t n = d.node->parent ? d.node->isoNameLength : 1;
        size += (8 + n + 1) & ~1u;
    }
    return size;
}

uint32_t Iso_DirectorySize(const FileNode* first) {
    uint32_t pos = 2 * kIsoDotRecordBytes;
    for (const FileNode* n = first; n; n = n->nextSibling) {
        uint32_t length = Iso_RecordLength(n->isoNameLength);
        for (uint32_t i = Iso_RecordCount(*n); i > 0; --i)
            pos = placeRecord(pos, length) + length;
    }
    return (pos + 2047) / 2048;
}

void Iso_BuildPrimaryVolume(uint8_t* s, const VolumePlan* plan, const char* volumeSetId) {
    std::memset(s, 0, 2048);
    s[0] = 1;
    std::memcpy(s + 1, "CD001", 5);
    s[6] = 1;
    fillSpaces(s + 8, 32);
    fillSpaces(s + 40, kVolumeIdBytes);
    std::memcpy(s + 40, plan->label.data(), labelBytes(plan->label));
    PutBoth32(s + 80, Plan_VolumeSize(plan));
    PutBoth16(s + 120, 1);
    PutBoth16(s + 124, 1);
    PutBoth16(s + 128, 2048);
    PutBoth32(s + 132, plan->pathTableSize);
    uint32_t tableSectors = (plan->pathTableSize + 2047) / 2048;
    PutLe32(s + 140, plan->pathTableLocation);
    PutBe32(s + 148, plan->pathTableLocation + tableSectors);
    const IsoDirectory& root = plan->isoDirectories.front();
    const uint8_t rootId = 0;
    // The root's record fills its 34-byte field exactly: no System Use bytes here.
    putRecord(s + 156, root.location, root.size * 2048, dateNow(), kFlagDirectory, &rootId, 1, 0);
    fillSpaces(s + 190, 128);
    size_t setIdLength = std::strlen(volumeSetId);
    std::memcpy(s + 190, volumeSetId, setIdLength < 128 ? setIdLength : 128);
    fillSpaces(s + 318, 128 * 3 + 37 * 3);
    CalendarTime now = FileTimeToUtc(host().currentFileTime());
    for (size_t offset : {813, 830, 847, 864})
        putDateText(s + offset, now);
    s[881] = 1;
}

void Iso_BuildTerminator(uint8_t* s) {
    std::memset(s, 0, 2048);
    s[0] = 255;
    std::memcpy(s + 1, "CD001", 5);
    s[6] = 1;
}

void Iso_BuildPathTable(uint8_t* buffer, const VolumePlan* plan, bool littleEndian) {
    uint8_t* p = buffer;
    for (const IsoDirectory& d : plan->isoDirectories) {
        bool isRoot = d.node->parent == nullptr;
        uint32_t n = isRoot ? 1 : d.node->isoNameLength;
        p[0] = static_cast<uint8_t>(n);
        p[1] = 0;
        if (littleEndian) {
            PutLe32(p + 2, d.location);
            PutLe16(p + 6, d.parentNumber);
        } else {
            PutBe32(p + 2, d.location);
            PutBe16(p + 6, d.parentNumber);
        }
        if (isRoot) {
            p[8] = 0;
        } else {
            std::memcpy(p + 8, d.node->isoName, n);
        }
        p += (8 + n + 1) & ~1u;
    }
}

namespace {

// Packed placement: partition start, date (7 bytes and a spare), then location and size in
// sectors of the directory, of its parent and of each subdirectory.
constexpr size_t kPlacementDate = 4;
constexpr size_t kPlacementSelf = 12;
constexpr size_t kPlacementParent = 20;
constexpr size_t kPlacementSubdirectories = 28;

void putExtent(std::vector<uint8_t>& out, size_t at, const IsoDirectory& d) {
    PutLe32(out.data() + at, d.location);
    PutLe32(out.data() + at + 4, d.size);
}

} // namespace

std::vector<uint8_t> Iso_DirectoryPlacement(const VolumePlan* plan, size_t index,
                                            size_t firstSubdirectory) {
    const std::vector<IsoDirectory>& table = plan->isoDirectories;
    const IsoDirectory& d = table[index];
    size_t subdirectories = 0;
    for (const FileNode* n = d.node->firstChild; n; n = n->nextSibling)
        subdirectories += n->isDirectory() ? 1 : 0;
    std::vector<uint8_t> out(kPlacementSubdirectories + 8 * subdirectories);
    PutLe32(out.data(), Plan_PartitionStart(plan));
    RecordDate date = dateNow();
    std::memcpy(out.data() + kPlacementDate, date.bytes, sizeof date.bytes);
    putExtent(out, kPlacementSelf, d);
    putExtent(out, kPlacementParent, table[d.parentNumber - 1]);
    for (size_t k = 0; k < subdirectories; ++k)
        putExtent(out, kPlacementSubdirectories + 8 * k, table[firstSubdirectory + k]);
    return out;
}

uint32_t Iso_BuildDirectory(uint8_t* base, const FileNode* dir, const uint8_t* placement) {
    uint32_t partitionStart = GetLe32(placement);
    RecordDate date;
    std::memcpy(date.bytes, placement + kPlacementDate, sizeof date.bytes);
    const uint8_t* subdirectory = placement + kPlacementSubdirectories;
    const uint8_t dot = 0, dotDot = 1;
    uint32_t pos = 0;
    pos += putRecord(base + pos, GetLe32(placement + kPlacementSelf),
                     GetLe32(placement + kPlacementSelf + 4) * 2048, date, kFlagDirectory, &dot, 1);
    pos += putRecord(base + pos, GetLe32(placement + kPlacementParent),
                     GetLe32(placement + kPlacementParent + 4) * 2048, date, kFlagDirectory,
                     &dotDot, 1);
    for (const FileNode* n = dir->firstChild; n; n = n->nextSibling) {
        const uint8_t* id = reinterpret_cast<const uint8_t*>(n->isoName);
        uint32_t length = Iso_RecordLength(n->isoNameLength);
        uint8_t flags = (n->attributes & kNodeHidden) ? kFlagHidden : 0;
        if (n->isDirectory()) {
            pos = placeRecord(pos, length);
            pos += putRecord(base + pos, GetLe32(subdirectory), GetLe32(subdirectory + 4) * 2048,
                             date, flags | kFlagDirectory, id, n->isoNameLength);
            subdirectory += 8;
            continue;
        }
        // A file's records name its true length; from 4 GiB on, one extent per record.
        uint64_t remaining = n->size();
        uint32_t location = partitionStart + n->dataBlock;
        uint32_t records = Iso_RecordCount(*n);
        for (uint32_t i = 0; i < records; ++i) {
            bool last = i + 1 == records;
            uint64_t extent = last ? remaining : kIsoMaxExtentBytes;
            pos = placeRecord(pos, length);
            pos += putRecord(base + pos, location, static_cast<uint32_t>(extent), date,
                             last ? flags : flags | kFlagMultiExtent, id, n->isoNameLength);
            location += static_cast<uint32_t>(extent / 2048);
            remaining -= extent;
        }
    }
    uint32_t end = pos; // the rest of the buffer is zero
    while (end > 0 && base[end - 1] == 0)
        --end;
    return end;
}

} // namespace tvx
