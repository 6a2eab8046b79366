#include "vdrive/block_store.h"

#include "vdrive/virtual_recorder.h"

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <unordered_map>
#if defined(_WIN32)
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#else
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace tvx::vdrive {
namespace {

// Blocks are kept in 2 MiB chunks mapped fresh from the kernel: they start as zero pages, and
// being aligned they can be backed by huge pages, so a 1 GiB recording takes few page faults.
constexpr uint32_t kChunkBlocks = 1024;
constexpr size_t kChunkBytes = size_t{kChunkBlocks} * kBlockSize;

#if defined(_WIN32)
// No anonymous mappings here: zeroed chunks from the heap.
struct Unmap {
    void operator()(uint8_t* p) const { delete[] p; }
};
using Chunk = std::unique_ptr<uint8_t, Unmap>;

Chunk MapChunk() {
    return Chunk(new (std::nothrow) uint8_t[kChunkBytes]());
}
#else
struct Unmap {
    void operator()(uint8_t* p) const { ::munmap(p, kChunkBytes); }
};
using Chunk = std::unique_ptr<uint8_t, Unmap>;

Chunk MapChunk() {
    // Map twice the size and keep the aligned half.
    void* raw = ::mmap(nullptr, 2 * kChunkBytes, PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) return nullptr;
    auto base = reinterpret_cast<uintptr_t>(raw);
    uintptr_t aligned = (base + kChunkBytes - 1) & ~(uintptr_t{kChunkBytes} - 1);
    if (aligned > base) ::munmap(raw, aligned - base);
    uintptr_t tail = base + 2 * kChunkBytes - (aligned + kChunkBytes);
    if (tail > 0) ::munmap(reinterpret_cast<void*>(aligned + kChunkBytes), tail);
    ::madvise(reinterpret_cast<void*>(aligned), kChunkBytes, MADV_HUGEPAGE);
    return Chunk(reinterpret_cast<uint8_t*>(aligned));
}
#endif

class MemoryStore final : public BlockStore {
  public:
    bool read(uint32_t lba, uint32_t count, uint8_t* out) override {
        while (count > 0) {
            uint32_t offset = lba % kChunkBlocks;
            uint32_t n = std::min(count, kChunkBlocks - offset);
            auto it = chunks_.find(lba / kChunkBlocks);
            if (it == chunks_.end())
                std::memset(out, 0, size_t{n} * kBlockSize);
            else
                std::memcpy(out, it->second.get() + size_t{offset} * kBlockSize,
                            size_t{n} * kBlockSize);
            out += size_t{n} * kBlockSize;
            lba += n;
            count -= n;
        }
        return true;
    }
    bool write(uint32_t lba, uint32_t count, const uint8_t* data) override {
        while (count > 0) {
            uint32_t offset = lba % kChunkBlocks;
            uint32_t n = std::min(count, kChunkBlocks - offset);
            auto& chunk = chunks_[lba / kChunkBlocks];
            if (!chunk) {
                chunk = MapChunk();
                if (!chunk) return false;
            }
            std::memcpy(chunk.get() + size_t{offset} * kBlockSize, data, size_t{n} * kBlockSize);
            data += size_t{n} * kBlockSize;
            lba += n;
            count -= n;
        }
        return true;
    }
    bool discard(uint32_t lba, uint32_t count) override {
        while (count > 0) {
            uint32_t offset = lba % kChunkBlocks;
            uint32_t n = std::min(count, kChunkBlocks - offset);
            auto it = chunks_.find(lba / kChunkBlocks);
            if (it != chunks_.end()) {
                if (n == kChunkBlocks)
                    chunks_.erase(it);
                else
                    std::memset(it->second.get() + size_t{offset} * kBlockSize, 0,
                                size_t{n} * kBlockSize);
            }
            lba += n;
            count -= n;
        }
        return true;
    }
    bool flush() override { return true; }
    bool readOnly() const override { return false; }

  private:
    std::unordered_map<uint32_t, Chunk> chunks_;
};

// File access by descriptor, positioned.
#if defined(_WIN32)
// The C library's descriptors in binary mode. A store is used by one thread at a time, so a
// seek followed by a read or write stands in for a positioned call.
int64_t ReadAt(int fd, void* out, size_t n, int64_t at) {
    if (::_lseeki64(fd, at, SEEK_SET) < 0) return -1;
    return ::_read(fd, out, static_cast<unsigned>(n));
}
int64_t WriteAt(int fd, const void* data, size_t n, int64_t at) {
    if (::_lseeki64(fd, at, SEEK_SET) < 0) return -1;
    return ::_write(fd, data, static_cast<unsigned>(n));
}
bool PunchHole(int, int64_t, int64_t) {
    return false;
}
bool SyncData(int fd) {
    return ::_commit(fd) == 0;
}
#else
int64_t ReadAt(int fd, void* out, size_t n, int64_t at) {
    return ::pread(fd, out, n, static_cast<off_t>(at));
}
int64_t WriteAt(int fd, const void* data, size_t n, int64_t at) {
    return ::pwrite(fd, data, n, static_cast<off_t>(at));
}
bool PunchHole(int fd, int64_t at, int64_t length) {
    return ::fallocate(fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, static_cast<off_t>(at),
                       static_cast<off_t>(length)) == 0;
}
bool SyncData(int fd) {
    return ::fdatasync(fd) == 0;
}
#endif

class FileStore final : public BlockStore {
  public:
    explicit FileStore(std::unique_ptr<ImageFile> file)
        : file_(std::move(file)), fd_(file_->fd()), readOnly_(file_->readOnly()) {}

    bool read(uint32_t lba, uint32_t count, uint8_t* out) override {
        size_t want = size_t{count} * kBlockSize;
        int64_t at = static_cast<int64_t>(lba) * kBlockSize;
        size_t done = 0;
        while (done < want) {
            int64_t got = ReadAt(fd_, out + done, want - done, at + static_cast<int64_t>(done));
            if (got < 0) return false;
            if (got == 0) break; // past the end of the file: zeros
            done += static_cast<size_t>(got);
        }
        std::memset(out + done, 0, want - done);
        return true;
    }
    bool write(uint32_t lba, uint32_t count, const uint8_t* data) override {
        if (readOnly_) return false;
        size_t want = size_t{count} * kBlockSize;
        int64_t at = static_cast<int64_t>(lba) * kBlockSize;
        size_t done = 0;
        while (done < want) {
            int64_t put = WriteAt(fd_, data + done, want - done, at + static_cast<int64_t>(done));
            if (put <= 0) return false;
            done += static_cast<size_t>(put);
        }
        return true;
    }
    bool discard(uint32_t lba, uint32_t count) override {
        if (readOnly_) return false;
        int64_t at = static_cast<int64_t>(lba) * kBlockSize;
        int64_t len = static_cast<int64_t>(count) * kBlockSize;
        if (PunchHole(fd_, at, len)) return true;
        // No hole punching here: write zeros instead.
        static const uint8_t zeros[kBlockSize] = {};
        for (uint32_t i = 0; i < count; ++i)
            if (!write(lba + i, 1, zeros)) return false;
        return true;
    }
    bool flush() override { return readOnly_ || SyncData(fd_); }
    bool readOnly() const override { return readOnly_; }

  private:
    std::unique_ptr<ImageFile> file_; // open, and claimed, as long as the store lives
    int fd_;
    bool readOnly_;
};

} // namespace

std::unique_ptr<BlockStore> MakeMemoryStore() {
    return std::make_unique<MemoryStore>();
}

std::unique_ptr<BlockStore> MakeFileStore(std::unique_ptr<ImageFile> file) {
    return file ? std::make_unique<FileStore>(std::move(file)) : nullptr;
}

} // namespace tvx::vdrive
