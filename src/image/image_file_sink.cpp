#include "image/image_file_sink.h"

#include "image/write_list.h"

#include <cstring>
#include <utility>

namespace tvx {

namespace {
constexpr size_t kReadPiece = 1 << 20;

bool zeroSector(const uint8_t* p) {
    static const uint8_t kZeros[kSectorSize] = {};
    return std::memcmp(p, kZeros, kSectorSize) == 0;
}
} // namespace

ImageFileSink::ImageFileSink(const std::string& path)
    : out_(host().openFile(path, FileAccess::Write)) {}

ImageFileSink::ImageFileSink(std::unique_ptr<HostFile> out, bool sparse)
    : out_(std::move(out)), sparse_(sparse) {}

ImageFileSink::~ImageFileSink() {
    finish();
}

bool ImageFileSink::flushZeros() {
    if (pendingZeros_ == 0) return true;
    pendingZeros_ = 0;
    return out_->seek(position_);
}

// Writes whole sectors (the last may be partial), skipping the all-zero ones.
bool ImageFileSink::putSectors(const uint8_t* data, size_t count) {
    if (!sparse_) {
        if (out_->write(data, static_cast<uint32_t>(count)) != count) return false;
        position_ += count;
        return true;
    }
    size_t i = 0;
    while (i < count) {
        size_t n = count - i < kSectorSize ? count - i : kSectorSize;
        if (n == kSectorSize && zeroSector(data + i)) {
            pendingZeros_ += kSectorSize;
            position_ += kSectorSize;
            i += kSectorSize;
            continue;
        }
        // A run of sectors with data goes out in one write.
        size_t j = i + n;
        while (j < count && !(count - j >= kSectorSize && zeroSector(data + j))) {
            j += count - j < kSectorSize ? count - j : kSectorSize;
        }
        if (!flushZeros()) return false;
        size_t length = j - i;
        if (out_->write(data + i, static_cast<uint32_t>(length)) != length) return false;
        position_ += length;
        i = j;
    }
    return true;
}

bool ImageFileSink::put(const uint8_t* data, size_t count) {
    while (count > 0) {
        size_t piece = count > kReadPiece ? kReadPiece : count;
        if (!putSectors(data, piece)) return false;
        data += piece;
        count -= piece;
    }
    return true;
}

bool ImageFileSink::padToSector() {
    static const uint8_t kZeros[kSectorSize] = {};
    uint32_t tail = static_cast<uint32_t>(position_ % kSectorSize);
    if (tail == 0) return true;
    if (!flushZeros()) return false;
    uint32_t n = kSectorSize - tail;
    if (out_->write(kZeros, n) != n) return false;
    position_ += n;
    return true;
}

int ImageFileSink::writeBytes(const void* data, uint32_t count) {
    if (!out_) return 0;
    if (count == 0) return 1;
    return put(static_cast<const uint8_t*>(data), count) && padToSector() ? 1 : 0;
}

int ImageFileSink::writeFile(HostFile& file, uint64_t expectedSize) {
    if (!out_) return 0;
    if (buffer_.empty()) buffer_.resize(kReadPiece);
    uint64_t done = 0;
    while (done < expectedSize) {
        uint64_t want = expectedSize - done;
        uint32_t piece =
            want < kReadPiece ? static_cast<uint32_t>(want) : static_cast<uint32_t>(kReadPiece);
        uint32_t got = file.read(buffer_.data(), piece);
        if (got == 0) return 0; // shrank or unreadable
        if (!put(buffer_.data(), got)) return 0;
        done += got;
    }
    uint8_t extra;
    if (file.read(&extra, 1) != 0) return 0; // grew since it was planned
    return padToSector() ? 1 : 0;
}

int ImageFileSink::finish() {
    if (!out_) return 0;
    if (pendingZeros_ == 0) return 1;
    // The file must reach its full length: the last zero byte is written.
    static const uint8_t kZero = 0;
    if (!out_->seek(position_ - 1) || out_->write(&kZero, 1) != 1) return 0;
    pendingZeros_ = 0;
    return 1;
}

} // namespace tvx
