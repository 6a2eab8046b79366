// Where a disc's blocks live: a sparse map in memory, or a sparse image file. Unwritten blocks
// read as zeros. Which blocks a READ may see is the medium's business, not the store's.
#pragma once

#include "vdrive/image_file.h"

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
// Blocks in an image file, opened and claimed by the caller; read-only as the file was opened.
std::unique_ptr<BlockStore> MakeFileStore(std::unique_ptr<ImageFile> file);

} // namespace tvx::vdrive
