#include "disc_listing.h"

#include "platform/text.h"

#include <cstring>
#include <memory>

namespace tvxcli {

namespace {

constexpr uint32_t kSectorBytes = 2048;
constexpr uint32_t kAnchorSector = 256;
constexpr uint32_t kWindowSectors = 1024; // the most one window holds
constexpr uint32_t kEntryRunBlocks = 32;
// A folder's listing larger than this is refused rather than read into memory.
constexpr uint64_t kMaxListingBytes = 64ull << 20;
// Descriptor tags.
constexpr uint16_t kTagAnchor = 2, kTagPartition = 5, kTagLogicalVolume = 6, kTagTerminator = 8,
                   kTagFileSet = 256, kTagFileIdent = 257, kTagFileEntry = 261,
                   kTagExtendedFileEntry = 266;
constexpr uint8_t kFileTypeDirectory = 4;
// File characteristics of a File Identifier.
constexpr uint8_t kCharDirectory = 0x02, kCharDeleted = 0x04, kCharParent = 0x08;

uint16_t Le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}
uint32_t Le32(const uint8_t* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}
uint64_t Le64(const uint8_t* p) {
    return Le32(p) | uint64_t{Le32(p + 4)} << 32;
}

// The tag is whole: its checksum adds up and it has the identifier wanted.
bool TagIs(const uint8_t* d, size_t length, uint16_t id) {
    if (length < 16) return false;
    uint8_t sum = 0;
    for (int i = 0; i < 16; ++i)
        if (i != 4) sum = static_cast<uint8_t>(sum + d[i]);
    return sum == d[4] && Le16(d) == id;
}

// Sectors of the disc through mapped windows of one open disc file.
class DiscReader {
  public:
    explicit DiscReader(TVX_DiscFile file) : file_(file) {}

    bool read(uint32_t first, uint32_t count, std::vector<uint8_t>& out) {
        out.resize(size_t{count} * kSectorBytes);
        for (uint32_t done = 0; done < count;) {
            uint32_t n = std::min(kWindowSectors, count - done);
            void* window = TVX_OpenMMap(file_, first + done, n, TVX_MMAP_ABSOLUTE);
            if (!window) return false;
            std::memcpy(out.data() + size_t{done} * kSectorBytes, window, size_t{n} * kSectorBytes);
            TVX_CloseMMap(window);
            done += n;
        }
        return true;
    }

  private:
    TVX_DiscFile file_;
};

// What a listing needs of the volume: where the partition is and where the root's File Entry.
struct Volume {
    uint32_t partitionStart = 0;
    uint32_t partitionLength = 0;
    uint32_t rootBlock = 0;
};

// What a listing needs of a File Entry.
struct Entry {
    bool directory = false;
    uint64_t size = 0;
    DiscTime modified;
    std::vector<std::pair<uint32_t, uint32_t>> extents; // partition block, bytes
    std::vector<uint8_t> embedded;                      // data held in the entry itself
};

class Lister {
  public:
    explicit Lister(TVX_DiscFile file) : disc_(file) {}

    bool openVolume(std::string& error) {
        std::vector<uint8_t> s;
        if (!disc_.read(kAnchorSector, 1, s) || !TagIs(s.data(), s.size(), kTagAnchor))
            return fail(error, "the disc has no readable volume anchor");
        uint32_t vdsBytes = Le32(&s[16]), vdsSector = Le32(&s[20]);
        uint32_t vdsSectors = std::min<uint32_t>(vdsBytes / kSectorBytes, 64);
        std::vector<uint8_t> vds;
        if (vdsSectors == 0 || !disc_.read(vdsSector, vdsSectors, vds))
            return fail(error, "the disc's volume descriptors cannot be read");
        bool partition = false, logical = false;
        uint32_t fileSetBlock = 0;
        for (uint32_t i = 0; i < vdsSectors; ++i) {
            const uint8_t* d = &vds[size_t{i} * kSectorBytes];
            if (TagIs(d, kSectorBytes, kTagTerminator)) break;
            if (TagIs(d, kSectorBytes, kTagPartition)) {
                volume_.partitionStart = Le32(d + 188);
                volume_.partitionLength = Le32(d + 192);
                partition = true;
            } else if (TagIs(d, kSectorBytes, kTagLogicalVolume)) {
                if (Le32(d + 212) != kSectorBytes) return fail(error, "unknown block size");
                fileSetBlock = Le32(d + 252);
                logical = true;
            }
        }
        if (!partition || !logical)
            return fail(error, "the disc's volume descriptors name no partition");
        std::vector<uint8_t> fsd;
        if (!readBlocks(fileSetBlock, 1, fsd) || !TagIs(fsd.data(), fsd.size(), kTagFileSet))
            return fail(error, "the disc's file set descriptor cannot be read");
        volume_.rootBlock = Le32(&fsd[404]);
        return true;
    }

    bool readEntry(uint32_t block, Entry& entry, std::string& error) {
        std::vector<uint8_t> d;
        if (!readEntryBlock(block, d)) return fail(error, "a File Entry cannot be read");
        const bool extended = TagIs(d.data(), d.size(), kTagExtendedFileEntry);
        if (!extended && !TagIs(d.data(), d.size(), kTagFileEntry))
            return fail(error, "a File Entry is damaged");
        entry.directory = d[27] == kFileTypeDirectory;
        entry.size = Le64(&d[56]);
        entry.modified = DecodeDiscTime(&d[extended ? 92 : 84]);
        const size_t eaLength = Le32(&d[extended ? 208 : 168]);
        const size_t adLength = Le32(&d[extended ? 212 : 172]);
        const size_t start = (extended ? 216 : 176) + eaLength;
        if (eaLength > kSectorBytes || adLength > kSectorBytes || start + adLength > kSectorBytes)
            return fail(error, "a File Entry is damaged");
        const uint8_t* ad = &d[start];
        switch (Le16(&d[34]) & 7) {
        case 0: // short descriptors
        case 1: // long descriptors
        {
            const size_t step = (Le16(&d[34]) & 7) == 0 ? 8 : 16;
            for (size_t i = 0; i + step <= adLength; i += step) {
                uint32_t length = Le32(ad + i) & 0x3FFFFFFF;
                uint32_t type = Le32(ad + i) >> 30;
                if (length == 0) break;
                if (type == 3) return fail(error, "a folder's listing is too fragmented to read");
                entry.extents.emplace_back(Le32(ad + i + 4), type == 0 ? length : 0);
            }
            return true;
        }
        case 3:
            entry.embedded.assign(ad, ad + adLength);
            return true;
        default:
            return fail(error, "a File Entry describes its data in an unknown way");
        }
    }

    // The listing of a folder as File Identifiers: each entry's name, its kind and File Entry.
    bool readFolder(const Entry& folder, std::vector<ListedEntry>& entries,
                    std::vector<uint32_t>& blocks, std::string& error) {
        std::vector<uint8_t> data = folder.embedded;
        if (folder.size > kMaxListingBytes) return fail(error, "a folder's listing is too large");
        for (const auto& [block, bytes] : folder.extents) {
            // Extents allocated but not recorded read as zeros: they hold no entry.
            if (bytes == 0) continue;
            if (data.size() + bytes > kMaxListingBytes)
                return fail(error, "a folder's listing is too large");
            std::vector<uint8_t> part;
            if (!readBlocks(block, (bytes + kSectorBytes - 1) / kSectorBytes, part))
                return fail(error, "a folder's listing cannot be read");
            part.resize(bytes);
            data.insert(data.end(), part.begin(), part.end());
        }
        if (data.size() > folder.size) data.resize(static_cast<size_t>(folder.size));
        for (size_t at = 0; at + 38 <= data.size();) {
            const uint8_t* f = &data[at];
            if (!TagIs(f, data.size() - at, kTagFileIdent))
                return fail(error, "a folder's listing is damaged");
            const size_t nameLength = f[19], useLength = Le16(f + 36);
            const size_t length = (38 + useLength + nameLength + 3) & ~size_t{3};
            if (at + 38 + useLength + nameLength > data.size())
                return fail(error, "a folder's listing is damaged");
            if (!(f[18] & (kCharDeleted | kCharParent))) {
                ListedEntry e;
                if (!DecodeDiscName(f + 38 + useLength, nameLength, e.name))
                    return fail(error, "a name on the disc is in an unknown encoding");
                e.directory = f[18] & kCharDirectory;
                entries.push_back(e);
                blocks.push_back(Le32(f + 24));
            }
            at += length;
        }
        return true;
    }

    const Volume& volume() const { return volume_; }

  private:
    static bool fail(std::string& error, const char* text) {
        error = text;
        return false;
    }
    bool readBlocks(uint32_t block, uint32_t count, std::vector<uint8_t>& out) {
        if (count == 0 || block >= volume_.partitionLength ||
            count > volume_.partitionLength - block)
            return false;
        return disc_.read(volume_.partitionStart + block, count, out);
    }

    // A folder's File Entries mostly lie one after another: they are read in runs of
    // kEntryRunBlocks, one command each, rather than one command per entry.
    bool readEntryBlock(uint32_t block, std::vector<uint8_t>& out) {
        if (run_.empty() || block < runStart_ || block - runStart_ >= run_.size() / kSectorBytes) {
            uint32_t count =
                std::min(kEntryRunBlocks,
                         volume_.partitionLength - std::min(block, volume_.partitionLength));
            if (!readBlocks(block, count, run_)) {
                run_.clear();
                return readBlocks(block, 1, out);
            }
            runStart_ = block;
        }
        const size_t at = size_t{block - runStart_} * kSectorBytes;
        out.assign(run_.begin() + at, run_.begin() + at + kSectorBytes);
        return true;
    }

    DiscReader disc_;
    Volume volume_;
    std::vector<uint8_t> run_;
    uint32_t runStart_ = 0;
};

std::vector<std::string> PathComponents(const std::string& path) {
    std::vector<std::string> parts;
    std::string part;
    for (char c : path + "/") {
        if (c == '/' || c == '\\') {
            if (!part.empty()) parts.push_back(part);
            part.clear();
        } else {
            part += c;
        }
    }
    return parts;
}

} // namespace

bool DecodeDiscName(const uint8_t* bytes, size_t length, std::string& out) {
    out.clear();
    if (length == 0) return false;
    std::u16string units;
    if (bytes[0] == 8) {
        for (size_t i = 1; i < length; ++i)
            units.push_back(bytes[i]);
    } else if (bytes[0] == 16 && length % 2 == 1) {
        for (size_t i = 1; i + 1 < length; i += 2)
            units.push_back(static_cast<char16_t>(bytes[i] << 8 | bytes[i + 1]));
    } else {
        return false;
    }
    // Characters beyond U+FFFF are recorded as surrogate pairs.
    return tvx::Utf16ToUtf8(units, out);
}

DiscTime DecodeDiscTime(const uint8_t* b) {
    DiscTime t;
    uint16_t typeAndZone = Le16(b);
    int zone = typeAndZone & 0x0FFF;
    if (zone & 0x0800) zone -= 0x1000;
    t.offsetKnown = (typeAndZone >> 12) == 1 && zone != -2047 && zone >= -1440 && zone <= 1440;
    t.offsetMinutes = t.offsetKnown ? zone : 0;
    t.year = static_cast<int16_t>(Le16(b + 2));
    t.month = b[4], t.day = b[5], t.hour = b[6], t.minute = b[7], t.second = b[8];
    t.known = t.year >= 1 && t.year <= 9999 && t.month >= 1 && t.month <= 12 && t.day >= 1 &&
              t.day <= 31 && t.hour <= 23 && t.minute <= 59 && t.second <= 60;
    return t;
}

bool ListDiscPath(TVX_DiscFile root, const std::string& path, bool withDetails,
                  std::vector<ListedEntry>& entries, bool& isFolder, std::string& error) {
    Lister lister(root);
    if (!lister.openVolume(error)) return false;
    Entry current;
    if (!lister.readEntry(lister.volume().rootBlock, current, error)) return false;
    std::vector<ListedEntry> listed;
    std::vector<uint32_t> blocks;
    const std::vector<std::string> parts = PathComponents(path);
    const bool wantsFolder = !path.empty() && (path.back() == '/' || path.back() == '\\');
    ListedEntry self;
    for (size_t p = 0; p < parts.size(); ++p) {
        if (!current.directory) {
            error = "not a folder on the way";
            return false;
        }
        listed.clear();
        blocks.clear();
        if (!lister.readFolder(current, listed, blocks, error)) return false;
        size_t i = 0;
        while (i < listed.size() && listed[i].name != parts[p])
            ++i;
        if (i == listed.size()) {
            error = "no file or folder with this path";
            return false;
        }
        current = Entry{};
        if (!lister.readEntry(blocks[i], current, error)) return false;
        self = listed[i];
    }
    isFolder = current.directory;
    if (!isFolder) {
        if (wantsFolder) {
            error = "not a folder";
            return false;
        }
        self.directory = false;
        self.size = current.size;
        self.modified = current.modified;
        entries = {self};
        return true;
    }
    listed.clear();
    blocks.clear();
    if (!lister.readFolder(current, listed, blocks, error)) return false;
    for (size_t i = 0; withDetails && i < listed.size(); ++i) {
        Entry e;
        // An entry that cannot be read still shows its name.
        std::string ignored;
        if (!lister.readEntry(blocks[i], e, ignored)) continue;
        listed[i].directory = e.directory;
        listed[i].size = e.directory ? 0 : e.size;
        listed[i].modified = e.modified;
    }
    entries = std::move(listed);
    return true;
}

} // namespace tvxcli
