#include "image/sector_sink.h"

#include <algorithm>
#include <vector>

namespace tvx {

int SectorSink::writeFilePart(HostFile& file, uint64_t expectedSize, uint64_t offset,
                              uint64_t length) {
    constexpr uint32_t kChunk = 0x10000;
    if (file.size() != expectedSize || offset + length > expectedSize || !file.seek(offset))
        return 0;
    std::vector<uint8_t> buffer(static_cast<size_t>(std::min<uint64_t>(length, kChunk)));
    while (length > 0) {
        // Whole sectors except for the file's last piece, so no padding lands mid-part.
        const uint32_t want = static_cast<uint32_t>(std::min<uint64_t>(length, kChunk));
        uint32_t got = 0;
        while (got < want) {
            const uint32_t n = file.read(buffer.data() + got, want - got);
            if (n == 0) return 0;
            got += n;
        }
        if (!writeBytes(buffer.data(), got)) return 0;
        length -= got;
    }
    return 1;
}

} // namespace tvx
