#include "recording/engine_sink.h"

#include "recording/engine.h"

namespace tvx {

int EngineSink::writeBytes(const void* data, uint32_t count) {
    return Rec_WriteBytes(handle_, data, count);
}

int EngineSink::writeFile(HostFile& file, uint64_t expectedSize) {
    if (file.size() != expectedSize) return 0;
    // The engine takes the planned bytes only, and refuses a file that grew or shrank
    // meanwhile: it is not the source that was planned.
    return Rec_WriteFile(handle_, file);
}

int EngineSink::writeFilePart(HostFile& file, uint64_t expectedSize, uint64_t offset,
                              uint64_t length) {
    if (file.size() != expectedSize || offset + length > expectedSize || !file.seek(offset))
        return 0;
    if (!Rec_WriteFileBytes(handle_, file, length)) return 0;
    // The part that ends the file is checked as a whole file is.
    return offset + length < expectedSize || file.currentSize() == expectedSize ? 1 : 0;
}

} // namespace tvx
