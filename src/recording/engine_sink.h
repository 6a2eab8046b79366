// The image streamer's sink during a burn: sectors go into the recording engine.
#pragma once

#include "image/sector_sink.h"
#include "transport/rec_handle.h"

namespace tvx {

class EngineSink final : public SectorSink {
  public:
    explicit EngineSink(RecHandle* handle) : handle_(handle) {}
    int writeBytes(const void* data, uint32_t count) override;
    // Refuses a file whose size is no longer the planned one: the sectors after it would move.
    int writeFile(HostFile& file, uint64_t expectedSize) override;
    int writeFilePart(HostFile& file, uint64_t expectedSize, uint64_t offset,
                      uint64_t length) override;

  private:
    RecHandle* handle_;
};

} // namespace tvx
