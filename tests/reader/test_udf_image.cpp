#include "test_udf_image.h"

#include "common/byte_order.h"
#include "image/udf_dchars.h"
#include "image/udf_regid.h"
#include "image/udf_tag.h"

#include <cstring>
#include <stdexcept>

namespace tvx::test {

namespace {

constexpr uint32_t kBlock = 2048;

struct Placed {
    const TestNode* node;
    std::string path;
    uint32_t entryBlock = 0;
    uint32_t dataBlock = 0;
    uint32_t dataBlocks = 0;
    std::vector<uint8_t> content; // file data or directory FIDs
    std::vector<size_t> children; // indexes into the placement list
    size_t parent = 0;
};

class Builder {
  public:
    Builder(const TestNode& root, const TestVolumeOptions& options) : options_(options) {
        volume_.image.assign(static_cast<size_t>(options.sectors) * kBlock, 0);
        volume_.partitionStart = options.partitionStart;
        volume_.partitionLength = options.sectors - options.partitionStart;
        place(root, "", 0);
    }

    TestVolume build() {
        nextBlock_ = 2; // 0: File Set Descriptor, 1: its terminator
        for (Placed& p : placed_)
            p.entryBlock = nextBlock_++;
        for (Placed& p : placed_) {
            if (p.node->directory)
                p.content = fids(p);
            else
                p.content.assign(p.node->data.begin(), p.node->data.end());
            const bool embedded = p.node->alloc == TestNode::Alloc::Embedded;
            p.dataBlocks =
                embedded ? 0 : static_cast<uint32_t>((p.content.size() + kBlock - 1) / kBlock);
            p.dataBlock = p.dataBlocks ? nextBlock_ : 0;
            nextBlock_ += p.dataBlocks;
        }
        if (nextBlock_ > volume_.partitionLength) throw std::runtime_error("test volume too small");
        for (Placed& p : placed_) {
            if (p.node->directory) refreshFids(p);
            writeEntry(p);
            if (p.dataBlocks) std::memcpy(block(p.dataBlock), p.content.data(), p.content.size());
            volume_.entryBlock[p.path.empty() ? "/" : p.path] = p.entryBlock;
            volume_.dataBlock[p.path.empty() ? "/" : p.path] = p.dataBlock;
        }
        writeVolumeStructures();
        return std::move(volume_);
    }

  private:
    size_t place(const TestNode& node, const std::string& path, size_t parent) {
        const size_t index = placed_.size();
        placed_.push_back({&node, path, 0, 0, 0, {}, {}, parent});
        for (const TestNode& child : node.children) {
            const size_t c = place(child, path + "/" + child.name, index);
            placed_[index].children.push_back(c);
        }
        return index;
    }

    uint8_t* sector(uint32_t lba) {
        return volume_.image.data() + static_cast<size_t>(lba) * kBlock;
    }
    uint8_t* block(uint32_t b) { return sector(options_.partitionStart + b); }

    std::vector<uint8_t> fids(const Placed& dir) {
        std::vector<uint8_t> out;
        appendFid(out, dir, "", placed_[dir.parent].entryBlock, true, false);
        for (size_t c : dir.children) {
            const Placed& child = placed_[c];
            const uint32_t target = child.node->icbOverride >= 0
                                        ? static_cast<uint32_t>(child.node->icbOverride)
                                        : child.entryBlock;
            appendFid(out, dir, child.node->name, target, child.node->directory,
                      child.node->deleted);
        }
        return out;
    }

    void appendFid(std::vector<uint8_t>& out, const Placed&, const std::string& name,
                   uint32_t target, bool directory, bool deleted) {
        uint8_t encoded[256] = {};
        size_t nameLength = 0;
        if (!name.empty()) nameLength = UDF_EncodeDChars(name.data(), name.size(), encoded, 256);
        const size_t length = (38 + nameLength + 3) & ~size_t{3};
        const size_t at = out.size();
        out.resize(at + length, 0);
        uint8_t* fid = out.data() + at;
        PutLe16(fid + 16, 1);
        fid[18] = static_cast<uint8_t>((directory ? 0x02 : 0) | (deleted ? 0x04 : 0) |
                                       (name.empty() ? 0x08 : 0));
        fid[19] = static_cast<uint8_t>(nameLength);
        PutLe32(fid + 20, kBlock);
        PutLe32(fid + 24, target);
        std::memcpy(fid + 38, encoded, nameLength);
    }

    // Tags the FIDs with the block each starts in, once the directory's place is known.
    void refreshFids(Placed& dir) {
        const bool embedded = dir.node->alloc == TestNode::Alloc::Embedded;
        for (size_t at = 0; at < dir.content.size();) {
            uint8_t* fid = dir.content.data() + at;
            const size_t length = (38 + GetLe16(fid + 36) + fid[19] + 3) & ~size_t{3};
            const uint32_t where =
                embedded ? dir.entryBlock : dir.dataBlock + static_cast<uint32_t>(at / kBlock);
            UDF_MakeTag(fid, kTagFileIdent, where, static_cast<uint32_t>(length));
            at += length;
        }
    }

    void writeEntry(const Placed& p) {
        const TestNode& n = *p.node;
        uint8_t* fe = block(p.entryBlock);
        const bool efe = n.extendedEntry;
        const size_t header = efe ? 216 : 176;
        PutLe16(fe + 20, 4);
        PutLe16(fe + 24, 1);
        fe[27] = n.directory ? 4 : 5;
        uint16_t flags = 0;
        switch (n.alloc) {
        case TestNode::Alloc::Short:
            flags = 0;
            break;
        case TestNode::Alloc::Long:
            flags = 1;
            break;
        case TestNode::Alloc::Extended:
            flags = 2;
            break;
        case TestNode::Alloc::Embedded:
            flags = 3;
            break;
        }
        PutLe16(fe + 34, flags);
        PutLe32(fe + 36, 0xFFFFFFFF);
        PutLe32(fe + 40, 0xFFFFFFFF);
        PutLe16(fe + 48, 1);
        PutLe64(fe + 56, p.content.size());
        if (efe) {
            PutLe64(fe + 64, p.content.size()); // Object Size
            PutLe64(fe + 72, p.dataBlocks);
        } else {
            PutLe64(fe + 64, p.dataBlocks);
        }
        const uint64_t unique = p.path.empty() ? 0 : 16 + p.entryBlock;
        PutLe64(fe + (efe ? 200 : 160), unique);

        std::vector<uint8_t> ads;
        const uint32_t size = static_cast<uint32_t>(p.content.size());
        auto extents = [&](auto emit) {
            const uint32_t chunk = n.extentBytes ? n.extentBytes : 0x3FFFF800;
            uint32_t left = size;
            uint32_t at = p.dataBlock;
            do {
                const uint32_t e = left < chunk ? left : chunk;
                emit(e, at);
                at += (e + kBlock - 1) / kBlock;
                left -= e;
            } while (left > 0);
        };
        switch (n.alloc) {
        case TestNode::Alloc::Short:
            extents([&](uint32_t len, uint32_t at) {
                uint8_t ad[8];
                PutLe32(ad, len);
                PutLe32(ad + 4, len ? at : 0);
                ads.insert(ads.end(), ad, ad + 8);
            });
            break;
        case TestNode::Alloc::Long:
            extents([&](uint32_t len, uint32_t at) {
                uint8_t ad[16] = {};
                PutLe32(ad, len);
                PutLe32(ad + 4, len ? at : 0);
                ads.insert(ads.end(), ad, ad + 16);
            });
            break;
        case TestNode::Alloc::Extended:
            extents([&](uint32_t len, uint32_t at) {
                uint8_t ad[20] = {};
                PutLe32(ad, len);
                PutLe32(ad + 4, len);
                PutLe32(ad + 8, len);
                PutLe32(ad + 12, at);
                ads.insert(ads.end(), ad, ad + 20);
            });
            break;
        case TestNode::Alloc::Embedded:
            ads = p.content;
            break;
        }
        if (header + ads.size() > kBlock) throw std::runtime_error("entry does not fit");
        PutLe32(fe + (efe ? 208 : 168), 0);
        PutLe32(fe + (efe ? 212 : 172), static_cast<uint32_t>(ads.size()));
        std::memcpy(fe + header, ads.data(), ads.size());
        UDF_MakeTag(fe, efe ? kTagExtendedFileEntry : kTagFileEntry, p.entryBlock,
                    static_cast<uint32_t>(header + ads.size()));
    }

    void writeVolumeStructures() {
        const char* ids[] = {"BEA01", "NSR02", "TEA01"};
        for (uint32_t i = 0; i < 3 && 16 + i < options_.sequenceSector; ++i) {
            uint8_t* vsd = sector(16 + i);
            vsd[0] = 0;
            std::memcpy(vsd + 1, ids[i], 5);
            vsd[6] = 1;
        }
        if (options_.anchorSector) {
            WriteTestAnchor(volume_.image, options_.anchorSector, options_.sequenceSector,
                            options_.reserveSector);
        }
        for (uint32_t base : {options_.sequenceSector, options_.reserveSector}) {
            uint8_t* pvd = sector(base);
            PutLe16(pvd + 56, 1);
            UDF_MakeTag(pvd, kTagPrimaryVolume, base, 512);
            uint8_t* pd = sector(base + 1);
            PutLe32(pd + 16, 2);
            PutLe16(pd + 20, 1);
            UDF_SetPartitionContentsId(pd + 24);
            PutLe32(pd + 188, options_.partitionStart);
            PutLe32(pd + 192, volume_.partitionLength);
            UDF_MakeTag(pd, kTagPartition, base + 1, 512);
            uint8_t* lvd = sector(base + 2);
            PutLe32(lvd + 212, kBlock);
            UDF_SetDomainId(lvd + 216, kDomainId);
            PutLe32(lvd + 248, 4096);
            PutLe32(lvd + 252, 0);
            PutLe32(lvd + 264, 6); // one type 1 partition map, of partition 0
            PutLe32(lvd + 268, 1);
            PutLe32(lvd + 432, 4096);
            PutLe32(lvd + 436, options_.integritySector);
            lvd[440] = 1;
            lvd[441] = 6;
            PutLe16(lvd + 442, 1);
            UDF_MakeTag(lvd, kTagLogicalVolume, base + 2, 446);
            if (options_.terminateSequence)
                UDF_MakeTag(sector(base + 3), kTagTerminating, base + 3, 512);
        }
        const uint32_t integrity = options_.integritySector;
        uint8_t* lvid = sector(integrity);
        PutLe32(lvid + 28, 1);
        UDF_MakeTag(lvid, options_.integrityIdentifier, integrity, 134);
        UDF_MakeTag(sector(integrity + 1), kTagTerminating, integrity + 1, 512);
        uint8_t* fsd = block(0);
        UDF_SetDomainId(fsd + 416, kDomainId);
        PutLe32(fsd + 400, kBlock);
        PutLe32(fsd + 404, placed_[0].entryBlock);
        UDF_MakeTag(fsd, kTagFileSet, 0, 512);
        UDF_MakeTag(block(1), kTagTerminating, 1, 512);
    }

    TestVolumeOptions options_;
    TestVolume volume_;
    std::vector<Placed> placed_;
    uint32_t nextBlock_ = 0;
};

} // namespace

TestVolume BuildTestVolume(const TestNode& root, const TestVolumeOptions& options) {
    return Builder(root, options).build();
}

void WriteTestAnchor(std::vector<uint8_t>& image, uint32_t sector, uint32_t main,
                     uint32_t reserve) {
    uint8_t* avdp = image.data() + static_cast<size_t>(sector) * kBlock;
    std::memset(avdp, 0, kBlock);
    PutLe32(avdp + 16, 4 * kBlock);
    PutLe32(avdp + 20, main);
    PutLe32(avdp + 24, 4 * kBlock);
    PutLe32(avdp + 28, reserve);
    UDF_MakeTag(avdp, kTagAnchor, sector, 512);
}

std::string TestPattern(size_t n, uint32_t seed) {
    std::string s(n, '\0');
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < n; ++i) {
        x = x * 1103515245u + 12345u;
        s[i] = static_cast<char>(x >> 16);
    }
    return s;
}

} // namespace tvx::test
