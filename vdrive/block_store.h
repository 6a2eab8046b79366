// Where a disc's blocks live: a sparse map in memory, or a sparse image file. Unwritten blocks
// read as zeros. Which blocks a READ may see is the medium's business, not the store's.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace tvx::vdrive {

class BlockStore {
  public:
    virtual ~BlockStore() = default;
    virtual bool read(uint32_t lba, uint32_t count, uint8_t* out) = 0;
    virtual bool write(uint32_t lba, uint32_t count, const uint8_t* data) = 0;
    // Forgets blocks [lba, lba + count): they read as zeros again.
    virtual bool discard(uint32_t lba, uint32_t count) = 0;
    virtual bool flush() = 0;
    virtual bool readOnly() const = 0;
};

std::unique_ptr<BlockStore> MakeMemoryStore();
// Opens (create: creates or truncates) an image file; sizeBlocks > 0 sets its length (sparse).
std::unique_ptr<BlockStore> MakeFileStore(const std::string& path, bool create, bool readOnly,
                                          uint64_t sizeBlocks);

} // namespace tvx::vdrive
