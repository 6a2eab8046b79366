#include "refusal_words.h"

#include "results.h"

#include <filesystem>

namespace tvxcli {

namespace {

namespace fs = std::filesystem;

constexpr uint64_t kSectorBytes = 2048;
constexpr uint32_t kPlusMedia = MediaDvdPlusR | MediaDvdPlusRw | MediaDvdPlusRDualLayer;

std::string Sectors(uint64_t n) {
    char mb[32];
    std::snprintf(mb, sizeof mb, "%.1f MB", static_cast<double>(n) * kSectorBytes / 1e6);
    return std::to_string(n) + " sectors (" + mb + ")";
}

uint64_t SectorsOf(uint64_t bytes) {
    return (bytes + kSectorBytes - 1) / kSectorBytes;
}

} // namespace

NeededSpace FilesSpace(const std::string& path, bool exactFile) {
    NeededSpace needed;
    std::error_code ec;
    if (fs::is_regular_file(path, ec)) {
        needed.sectors = SectorsOf(fs::file_size(path, ec));
        needed.exact = exactFile && !ec;
        return needed;
    }
    fs::recursive_directory_iterator it(path, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        std::error_code sizeEc;
        if (it->is_regular_file(sizeEc)) needed.sectors += SectorsOf(it->file_size(sizeEc));
    }
    return needed;
}

std::string ExplainRefusal(TVX_Result result, const TVX_DiscInfo& disc, bool testWrite,
                           const NeededSpace& needed) {
    const std::string kind = MediaName(disc.mediaType);
    switch (result) {
    case TVX_ERR_NO_SPACE: {
        // Media written over in place offer their whole capacity, the others their free space.
        const bool inPlace = (disc.mediaType & (MediaDvdPlusRw | MediaDvdRam)) ||
                             ((disc.mediaType & MediaDvdRw) && !disc.blank);
        const uint64_t space = inPlace ? disc.capacityBlocks : disc.freeBlocks;
        std::string need =
            needed.sectors == 0 ? "more than that"
            : needed.exact      ? Sectors(needed.sectors)
                           : "more than " + Sectors(needed.sectors) + "; its files alone take that";
        return "the volume needs " + need + ", the " + kind + " has " + Sectors(space) +
               (inPlace ? " in all" : " free");
    }
    case TVX_ERR_DISC_KIND:
        if (!disc.mediaType) return "the drive reports no kind of disc it knows";
        return "the disc is a " + kind +
               "; burns need a writable DVD (DVD-R, DVD-RW, DVD-RAM, DVD+R, DVD+RW, DVD+R DL "
               "or DVD-R DL)";
    case TVX_ERR_DISC_NOT_WRITABLE:
        return "the " + kind + " is not blank (" + std::to_string(disc.usedBlocks) +
               " sectors recorded) and " +
               (disc.appendable ? "holds a session that is not closed"
                                : "is closed: nothing can be added to it") +
               "; only blank discs are burned" +
               (disc.mediaType & MediaDvdRw ? ": erase it first with tvx erase" : "");
    case TVX_ERR_MODE:
        if (testWrite && (disc.mediaType & kPlusMedia))
            return "a " + kind + " has no test write (simulation): burn it without --test";
        if (testWrite)
            return "the drive reports it cannot test write on a " + kind +
                   ": burn it without --test";
        return "the drive refused the burn mode for the " + kind;
    default:
        return "";
    }
}

} // namespace tvxcli
