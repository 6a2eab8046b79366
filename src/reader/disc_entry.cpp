#include "reader/disc_entry.h"

#include "common/byte_order.h"
#include "image/udf_dchars.h"
#include "image/udf_tag.h"
#include "platform/host.h"
#include "reader/disc_file.h"
#include "reader/udf_reader.h"

#include <cstring>

namespace tvx {

namespace {

constexpr size_t kFsdRootBlockOffset = 404;
constexpr uint32_t kExtentTypeContinuation = 3;

DiscEntry* firstWithBlock(DiscFile* file, uint32_t block) {
    if (file->rootEntry.icbBlock == block) return &file->rootEntry;
    return file->index.find(block);
}

void collectIdentifier(DiscFile* file, const uint8_t* fid, size_t length,
                       const uint8_t* directoryEntry) {
    if (length < kFidFixedSize) return;
    const uint8_t nameLength = fid[kFidNameLengthOffset];
    if (nameLength == 0) return;
    const size_t nameAt = kFidFixedSize + GetLe16(fid + kFidImplUseLengthOffset);
    if (nameAt + nameLength > length) return;

    char name[kMaxEntryName];
    UDF_DecodeDChars(fid + nameAt, nameLength, name, sizeof name);
    auto entry = std::make_unique<DiscEntry>();
    entry->name = name;
    entry->icbBlock = GetLe32(fid + kFidIcbBlockOffset);
    DiscEntry* parent = nullptr;
    if (directoryEntry) parent = firstWithBlock(file, GetLe32(directoryEntry + kTagLocationOffset));
    if (!parent) parent = &file->rootEntry;
    entry->parent = parent;
    entry->depth = parent->depth + 1;
    entry->sequence = ++file->insertions;
    entry->next = parent->next;
    parent->next = entry.get();
    file->index.add(entry.release());
}

void collectFileEntry(DiscFile* file, const uint8_t* fe, size_t length) {
    if (length < kUdfTagSize) return;
    DiscEntry* entry = firstWithBlock(file, GetLe32(fe + kTagLocationOffset));
    if (!entry) return;
    IcbLayout layout;
    if (!UdfReader_IcbLayout(fe, length, layout)) return;
    if (fe[kIcbFileTypeOffset] == kFileTypeDirectory) {
        entry->kind = EntryKind::Directory;
        return;
    }

    entry->kind = EntryKind::File;
    entry->size = GetLe64(fe + kInformationLengthOffset);
    entry->extents.clear();
    entry->extentCount = 0;
    entry->problem = EntryProblem::None;
    const uint8_t* ads = fe + layout.header + layout.eaLength;
    size_t adSize = 0;
    switch (GetLe16(fe + kIcbFlagsOffset) & 7) {
    case kAllocShort:
        adSize = 8;
        break;
    case kAllocLong:
        adSize = 16;
        break;
    default:
        return; // embedded data and ext_ad: no extents
    }
    const size_t count = layout.adLength / adSize;
    for (size_t i = 0; i < count; ++i) {
        const uint32_t raw = GetLe32(ads + i * adSize);
        if (raw >> 30 == kExtentTypeContinuation || entry->extents.size() == kMaxEntryExtents) {
            entry->problem = EntryProblem::TooManyExtents;
            entry->extents.clear();
            break;
        }
        entry->extents.push_back({raw & kExtentLengthMask, GetLe32(ads + i * adSize + 4)});
    }
    entry->extentCount = static_cast<uint32_t>(entry->extents.size());
}

// Appends the path of an entry whose parent's path is known; false when it gets too long.
bool extendPath(std::string& path, const DiscEntry* entry) {
    path += entry->name;
    if (entry->kind != EntryKind::File) path += '/';
    return path.size() < kMaxDiscPath;
}

// The other form a request may name an entry by: an empty file with a trailing separator, as
// files of size 0 were always found, and a damaged entry without one.
bool matchesOtherForm(const std::string& path, const DiscEntry* entry, const std::string& request) {
    if (entry->kind == EntryKind::File && entry->size == 0) {
        return request.size() == path.size() + 1 && request.back() == '/' &&
               request.compare(0, path.size(), path) == 0;
    }
    if (entry->problem == EntryProblem::DamagedEntry && !path.empty() && path.back() == '/') {
        return request.size() + 1 == path.size() && path.compare(0, request.size(), request) == 0;
    }
    return false;
}

// True when the request names something below the directory path.
bool isBelow(const std::string& request, const std::string& directory) {
    return request.size() > directory.size() &&
           request.compare(0, directory.size(), directory) == 0;
}

} // namespace

bool DiscEntry_Precedes(const DiscEntry* a, const DiscEntry* b) {
    if (a == b) return false;
    const DiscEntry* x = a;
    const DiscEntry* y = b;
    while (x->depth > y->depth) {
        x = x->parent;
        if (x == b) return false; // b is an ancestor of a
    }
    while (y->depth > x->depth) {
        y = y->parent;
        if (y == a) return true; // a is an ancestor of b
    }
    while (x->parent != y->parent) {
        x = x->parent;
        y = y->parent;
    }
    // Siblings: each was inserted directly after the parent, so the later one comes first.
    return x->sequence > y->sequence;
}

DiscEntry* DiscEntryIndex::find(uint32_t block) const {
    auto it = first_.find(block);
    return it == first_.end() ? nullptr : it->second;
}

void DiscEntryIndex::add(DiscEntry* entry) {
    auto [it, inserted] = first_.try_emplace(entry->icbBlock, entry);
    if (!inserted && DiscEntry_Precedes(entry, it->second)) it->second = entry;
}

int DiscEntry_Collect(void* discFile, const uint8_t* descriptor, size_t length,
                      const uint8_t* directoryEntry) {
    DiscFile* file = static_cast<DiscFile*>(discFile);
    if (length < kUdfTagSize) return 1;
    switch (GetLe16(descriptor)) {
    case kTagFileSet:
        // The root is the File Entry the file set names.
        if (length >= kFsdRootBlockOffset + 4) {
            file->rootEntry.icbBlock = GetLe32(descriptor + kFsdRootBlockOffset);
        }
        break;
    case kTagFileIdent:
        collectIdentifier(file, descriptor, length, directoryEntry);
        break;
    case kTagFileEntry:
    case kTagExtendedFileEntry:
        collectFileEntry(file, descriptor, length);
        break;
    default:
        break;
    }
    return 1;
}

void DiscEntry_Damaged(void* discFile, UdfDamage damage, uint32_t block) {
    DiscFile* file = static_cast<DiscFile*>(discFile);
    DiscEntry* entry = firstWithBlock(file, block);
    if (!entry) return;
    if (damage == UdfDamage::FileEntry) {
        entry->kind = EntryKind::Unknown;
        entry->size = 0;
        entry->extents.clear();
        entry->extentCount = 0;
        entry->problem = EntryProblem::DamagedEntry;
    } else {
        entry->problem = EntryProblem::DamagedDirectory;
    }
}

bool DiscEntry_BuildPath(const DiscEntry* entry, char out[kMaxDiscPath]) {
    out[0] = 0;
    std::vector<const DiscEntry*> chain;
    for (const DiscEntry* e = entry; e; e = e->parent) {
        chain.push_back(e);
        if (chain.size() > kMaxDiscPath) return false; // every level adds at least one byte
    }
    std::string path;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        if (!extendPath(path, *it)) return false;
    }
    std::memcpy(out, path.c_str(), path.size() + 1);
    return true;
}

DiscEntry* DiscEntry_FindPath(TvxDiscFile* file, const char* path, PathLookup* lookup) {
    PathLookup ignored;
    PathLookup& result = lookup ? *lookup : ignored;
    result = PathLookup::NotFound;
    if (!path) return nullptr;
    UdfPartition partition;
    if (!UdfReader_Open(file->recHandle, DiscEntry_Collect, file, DiscEntry_Damaged, &partition)) {
        result = PathLookup::NoVolume;
        return nullptr;
    }
    file->partitionStart = partition.start;
    file->partitionLength = partition.length;
    // Names are compared in recorded form: the request goes the way a burn records host text,
    // then the way entry names are decoded, so a file is found by the bytes it was burned from
    // (a Latin-1 name as well as the UTF-8 spelling of the same recorded name).
    std::u16string units;
    std::string request;
    if (!host().ansiToUtf16(path, units) || !host().utf16ToAnsi(units, request)) return nullptr;
    for (char& c : request) {
        if (c == '\\') c = '/';
    }
    if (request.size() >= kMaxDiscPath) return nullptr;

    // Parents come before their children in the list, so each path is built once from its
    // parent's; entries whose path is too long have none and cannot be found.
    std::unordered_map<const DiscEntry*, std::string> paths;
    bool belowDamage = false;
    for (DiscEntry* e = &file->rootEntry; e; e = e->next) {
        std::string p;
        if (e->parent) {
            auto it = paths.find(e->parent);
            if (it == paths.end()) continue;
            p = it->second;
        }
        if (!extendPath(p, e)) continue;
        if (p == request) {
            result = PathLookup::Found;
            return e;
        }
        if (matchesOtherForm(p, e, request)) {
            result = PathLookup::Found;
            return e;
        }
        if (e->problem == EntryProblem::DamagedEntry ||
            e->problem == EntryProblem::DamagedDirectory) {
            belowDamage = belowDamage || isBelow(request, p);
        }
        paths.emplace(e, std::move(p));
    }
    if (belowDamage) result = PathLookup::BelowDamage;
    return nullptr;
}

} // namespace tvx
