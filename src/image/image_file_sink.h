// A sector sink that writes the volume into an image file (tests and tools). Runs of zero
// sectors are skipped with a seek, so the image is sparse where the volume is empty; an output
// that cannot seek (a pipe) gets every byte.
#pragma once

#include "image/sector_sink.h"

#include <memory>
#include <string>
#include <vector>

namespace tvx {

class ImageFileSink final : public SectorSink {
  public:
    // Creates (or truncates) the image file; ok() tells whether that worked.
    explicit ImageFileSink(const std::string& path);
    // Writes into out, from its current position; sparse says whether zero sectors may be
    // skipped with a seek.
    ImageFileSink(std::unique_ptr<HostFile> out, bool sparse);
    ~ImageFileSink() override;
    bool ok() const { return out_ != nullptr; }
    int writeBytes(const void* data, uint32_t count) override;
    int writeFile(HostFile& file, uint64_t expectedSize) override;
    // Writes what is still pending (trailing zero sectors). Nonzero on success.
    int finish();
    uint64_t sectorsWritten() const { return position_ / 2048; }

  private:
    bool put(const uint8_t* data, size_t count);
    bool putSectors(const uint8_t* data, size_t count);
    bool flushZeros();
    bool padToSector();

    std::unique_ptr<HostFile> out_;
    std::vector<uint8_t> buffer_;
    uint64_t position_ = 0;     // bytes of the volume so far
    uint64_t pendingZeros_ = 0; // of which not yet in the file
    bool sparse_ = true;
};

} // namespace tvx
