#include "vdrive/block_store.h"

#include "vdrive/virtual_recorder.h"

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>
#include <unordered_map>

namespace tvx::vdrive {
namespace {

// Blocks are kept in 2 MiB chunks mapped fresh from the kernel: they start as zero pages, and
// being aligned they can be backed by huge pages, so a 1 GiB recording takes few page faults.
constexpr uint32_t kChunkBlocks = 1024;
constexpr size_t kChunkBytes = size_t{kChunkBlocks} * kBlockSize;

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

class FileStore final : public BlockStore {
  public:
    FileStore(int fd, bool readOnly) : fd_(fd), readOnly_(readOnly) {}
    ~FileStore() override { ::close(fd_); }

    bool read(uint32_t lba, uint32_t count, uint8_t* out) override {
        size_t want = size_t{count} * kBlockSize;
        off_t at = static_cast<off_t>(lba) * kBlockSize;
        size_t done = 0;
        while (done < want) {
            ssize_t got = ::pread(fd_, out + done, want - done, at + static_cast<off_t>(done));
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
        off_t at = static_cast<off_t>(lba) * kBlockSize;
        size_t done = 0;
        while (done < want) {
            ssize_t put = ::pwrite(fd_, data + done, want - done, at + static_cast<off_t>(done));
            if (put <= 0) return false;
            done += static_cast<size_t>(put);
        }
        return true;
    }
    bool discard(uint32_t lba, uint32_t count) override {
        if (readOnly_) return false;
        off_t at = static_cast<off_t>(lba) * kBlockSize;
        off_t len = static_cast<off_t>(count) * kBlockSize;
        if (::fallocate(fd_, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, at, len) == 0) return true;
        // No hole punching here: write zeros instead.
        static const uint8_t zeros[kBlockSize] = {};
        for (uint32_t i = 0; i < count; ++i)
            if (!write(lba + i, 1, zeros)) return false;
        return true;
    }
    bool flush() override { return readOnly_ || ::fdatasync(fd_) == 0; }
    bool readOnly() const override { return readOnly_; }

  private:
    int fd_;
    bool readOnly_;
};

} // namespace

std::unique_ptr<BlockStore> MakeMemoryStore() {
    return std::make_unique<MemoryStore>();
}

std::unique_ptr<BlockStore> MakeFileStore(const std::string& path, bool create, bool readOnly,
                                          uint64_t sizeBlocks) {
    int flags = readOnly ? O_RDONLY : O_RDWR;
    if (create) flags |= O_CREAT | O_TRUNC;
    int fd = ::open(path.c_str(), flags | O_CLOEXEC, 0644);
    if (fd < 0) return nullptr;
    if (sizeBlocks > 0 && !readOnly &&
        ::ftruncate(fd, static_cast<off_t>(sizeBlocks * kBlockSize)) != 0) {
        ::close(fd);
        return nullptr;
    }
    return std::make_unique<FileStore>(fd, readOnly);
}

} // namespace tvx::vdrive
