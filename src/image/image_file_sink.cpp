#include "image/image_file_sink.h"

#include "image/write_list.h"

namespace tvx {

namespace {
constexpr size_t kReadPiece = 1 << 20;
}

ImageFileSink::ImageFileSink(const std::string& path)
    : out_(host().openFile(path, FileAccess::Write)) {}

bool ImageFileSink::put(const uint8_t* data, size_t count) {
    while (count > 0) {
        uint32_t piece = count > kReadPiece ? static_cast<uint32_t>(kReadPiece)
                                            : static_cast<uint32_t>(count);
        if (out_->write(data, piece) != piece) return false;
        data += piece;
        count -= piece;
    }
    return true;
}

bool ImageFileSink::padToSector(uint64_t bytes) {
    static const uint8_t kZeros[kSectorSize] = {};
    uint32_t tail = static_cast<uint32_t>(bytes % kSectorSize);
    sectors_ += (bytes + kSectorSize - 1) / kSectorSize;
    return tail == 0 || put(kZeros, kSectorSize - tail);
}

int ImageFileSink::writeBytes(const void* data, uint32_t count) {
    if (!out_) return 0;
    if (count == 0) return 1;
    return put(static_cast<const uint8_t*>(data), count) && padToSector(count) ? 1 : 0;
}

int ImageFileSink::writeFile(HostFile& file, uint64_t expectedSize) {
    if (!out_) return 0;
    if (buffer_.empty()) buffer_.resize(kReadPiece);
    uint64_t done = 0;
    while (done < expectedSize) {
        uint64_t want = expectedSize - done;
        uint32_t piece = want < kReadPiece ? static_cast<uint32_t>(want)
                                           : static_cast<uint32_t>(kReadPiece);
        uint32_t got = file.read(buffer_.data(), piece);
        if (got == 0) return 0; // shrank or unreadable
        if (!put(buffer_.data(), got)) return 0;
        done += got;
    }
    uint8_t extra;
    if (file.read(&extra, 1) != 0) return 0; // grew since it was planned
    return padToSector(expectedSize) ? 1 : 0;
}

} // namespace tvx
