#include "vdrive/write_cache.h"

#include "vdrive/virtual_recorder.h"

#include <algorithm>
#include <cstring>

namespace tvx::vdrive {

WriteCache::WriteCache(std::unique_ptr<BlockStore> disc, uint32_t capacityBytes)
    : disc_(std::move(disc)), capacityBytes_(capacityBytes) {}

bool WriteCache::read(uint32_t lba, uint32_t count, uint8_t* out) {
    if (!disc_->read(lba, count, out)) return false;
    const uint64_t end = uint64_t{lba} + count;
    for (const HeldWrite& w : held_) {
        const uint64_t first = std::max<uint64_t>(lba, w.lba);
        const uint64_t last = std::min<uint64_t>(end, uint64_t{w.lba} + w.blocks);
        if (first >= last) continue;
        std::memcpy(out + (first - lba) * kBlockSize, w.data->data() + (first - w.lba) * kBlockSize,
                    (last - first) * kBlockSize);
    }
    return true;
}

bool WriteCache::write(uint32_t lba, uint32_t count, const uint8_t* data) {
    if (readOnly()) return false;
    const uint64_t bytes = uint64_t{count} * kBlockSize;
    // A full cache writes its oldest blocks back to make room.
    size_t oldest = 0;
    uint64_t freed = 0;
    while (oldest < held_.size() && heldBytes_ - freed + bytes > capacityBytes_)
        freed += uint64_t{held_[oldest++].blocks} * kBlockSize;
    if (!writeBack(oldest)) return false;
    if (bytes > capacityBytes_) return disc_->write(lba, count, data);
    held_.push_back({lba, count, std::make_shared<const std::vector<uint8_t>>(data, data + bytes)});
    heldBytes_ += bytes;
    return true;
}

bool WriteCache::discard(uint32_t lba, uint32_t count) {
    return writeBack(held_.size()) && disc_->discard(lba, count);
}

bool WriteCache::flush() {
    return writeBack(held_.size()) && disc_->flush();
}

bool WriteCache::powerCut(const std::vector<bool>& reached) {
    bool ok = true;
    for (size_t i = 0; i < held_.size(); ++i)
        if (i < reached.size() && reached[i])
            ok = disc_->write(held_[i].lba, held_[i].blocks, held_[i].data->data()) && ok;
    held_.clear();
    heldBytes_ = 0;
    return ok;
}

bool WriteCache::writeBack(size_t count) {
    for (size_t i = 0; i < count; ++i) {
        if (!disc_->write(held_[i].lba, held_[i].blocks, held_[i].data->data())) {
            held_.erase(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(i));
            return false;
        }
        heldBytes_ -= uint64_t{held_[i].blocks} * kBlockSize;
    }
    held_.erase(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(count));
    return true;
}

} // namespace tvx::vdrive
