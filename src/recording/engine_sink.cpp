#include "recording/engine_sink.h"

#include "recording/engine.h"

namespace tvx {

int EngineSink::writeBytes(const void* data, uint32_t count) {
    return Rec_WriteBytes(handle_, data, count);
}

int EngineSink::writeFile(HostFile& file, uint64_t expectedSize) {
    if (file.size() != expectedSize) return 0;
    if (!Rec_WriteFile(handle_, file)) return 0;
    // The engine took the planned bytes only; a file that grew or shrank meanwhile is not the
    // source that was planned, and the volume would hold a copy of it that never existed.
    return file.currentSize() == expectedSize ? 1 : 0;
}

} // namespace tvx
