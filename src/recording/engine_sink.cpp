#include "recording/engine_sink.h"

#include "recording/engine.h"

namespace tvx {

int EngineSink::writeBytes(const void* data, uint32_t count) {
    return Rec_WriteBytes(handle_, data, count);
}

int EngineSink::writeFile(HostFile& file, uint64_t expectedSize) {
    if (file.size() != expectedSize) return 0;
    return Rec_WriteFile(handle_, file);
}

} // namespace tvx
