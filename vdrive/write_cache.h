// A drive's volatile write cache: WRITEs are held in order until the store is flushed (SYNCHRONIZE
// CACHE, closing) or the cache is full, when the oldest go to the disc. Reads see what is held.
// A power cut puts any subset of what is held on the disc, as a drive that writes its cache back
// in its own order would, and forgets the rest.
#pragma once

#include "vdrive/block_store.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace tvx::vdrive {

struct HeldWrite {
    uint32_t lba = 0;
    uint32_t blocks = 0;
    std::shared_ptr<const std::vector<uint8_t>> data; // blocks * kBlockSize bytes
};

class WriteCache final : public BlockStore {
  public:
    WriteCache(std::unique_ptr<BlockStore> disc, uint32_t capacityBytes);

    bool read(uint32_t lba, uint32_t count, uint8_t* out) override;
    bool write(uint32_t lba, uint32_t count, const uint8_t* data) override;
    bool discard(uint32_t lba, uint32_t count) override;
    bool flush() override;
    bool readOnly() const override { return disc_->readOnly(); }

    // The WRITEs held, oldest first.
    const std::vector<HeldWrite>& held() const { return held_; }
    // The power fails: the held WRITEs whose entry in `reached` is true reach the disc (in the
    // order they came, so a later one over the same blocks wins), the others are lost.
    bool powerCut(const std::vector<bool>& reached);
    // The disc without the cache.
    BlockStore& disc() { return *disc_; }

  private:
    bool writeBack(size_t count); // the oldest `count` held WRITEs go to the disc

    std::unique_ptr<BlockStore> disc_;
    uint32_t capacityBytes_;
    uint64_t heldBytes_ = 0;
    std::vector<HeldWrite> held_;
};

} // namespace tvx::vdrive
