// Where the image streamer hands the volume's sectors: the recording engine during a burn, or an
// image file in tests and tools. The two operations have the shape of the engine's writers.
#pragma once

#include "platform/host.h"

#include <cstdint>

namespace tvx {

class SectorSink {
public:
    virtual ~SectorSink() = default;
    // Appends count bytes, padded with zeros to a whole sector. Nonzero on success.
    virtual int writeBytes(const void* data, uint32_t count) = 0;
    // Appends the whole file from its start, its last sector padded with zeros; expectedSize is
    // the size the plan recorded: a file that yields fewer or more bytes fails the write.
    virtual int writeFile(HostFile& file, uint64_t expectedSize) = 0;
    // Appends `length` bytes of the file from byte `offset` (a sector boundary), padded with
    // zeros to a whole sector; expectedSize as above. This default reads through a buffer of
    // its own.
    virtual int writeFilePart(HostFile& file, uint64_t expectedSize, uint64_t offset,
                              uint64_t length);
};

} // namespace tvx
