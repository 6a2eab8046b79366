// A sector sink that keeps the volume in memory, for tests of small volumes.
#pragma once

#include "image/sector_sink.h"

#include <string>
#include <vector>

namespace tvx::test {

class MemorySink final : public SectorSink {
  public:
    int writeBytes(const void* data, uint32_t count) override {
        bytes.append(static_cast<const char*>(data), count);
        pad();
        return 1;
    }
    int writeFile(HostFile& file, uint64_t expectedSize) override {
        std::vector<char> buf(65536);
        uint64_t done = 0;
        while (done < expectedSize) {
            uint32_t got = file.read(buf.data(), static_cast<uint32_t>(buf.size()));
            if (got == 0) return 0;
            bytes.append(buf.data(), got);
            done += got;
        }
        if (done != expectedSize) return 0;
        pad();
        return 1;
    }
    size_t sectors() const { return bytes.size() / 2048; }
    const uint8_t* sector(size_t n) const {
        return reinterpret_cast<const uint8_t*>(bytes.data()) + n * 2048;
    }

    std::string bytes;

  private:
    void pad() { bytes.resize((bytes.size() + 2047) / 2048 * 2048, '\0'); }
};

} // namespace tvx::test
