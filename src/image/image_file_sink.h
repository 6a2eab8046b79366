// A sector sink that writes the volume into an image file (tests and tools).
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
    bool ok() const { return out_ != nullptr; }
    int writeBytes(const void* data, uint32_t count) override;
    int writeFile(HostFile& file, uint64_t expectedSize) override;
    uint64_t sectorsWritten() const { return sectors_; }

private:
    bool put(const uint8_t* data, size_t count);
    bool padToSector(uint64_t bytes);

    std::unique_ptr<HostFile> out_;
    std::vector<uint8_t> buffer_;
    uint64_t sectors_ = 0;
};

} // namespace tvx
