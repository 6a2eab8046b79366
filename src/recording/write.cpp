// The data path: bytes and host files into the transfer buffer, full buffers to the drive.
// The buffer only ever holds whole blocks: each append is padded to the next block boundary.
#include "mmc/commands.h"
#include "mmc/execute.h"
#include "mmc/locations.h"
#include "recording/engine.h"
#include "recording/engine_internal.h"
#include "recording/media.h"

#include <algorithm>
#include <cstring>

namespace tvx {

namespace {

// A buffer the engine can fill: attached, a whole number of blocks, and a block size set.
bool BufferUsable(const RecordingState& rec) {
    return rec.buffer && rec.blockSize != 0 && rec.bufferCapacity >= rec.blockSize &&
           rec.bufferCapacity % rec.blockSize == 0 && rec.bufferFill < rec.bufferCapacity;
}

uint64_t BlocksFor(uint64_t bytes, uint32_t blockSize) {
    return (bytes + blockSize - 1) / blockSize;
}

} // namespace

int Rec_WriteBytes(RecHandle* handle, const void* data, uint32_t count) {
    if (count == 0) return 1;
    RecordingState& rec = handle->rec;
    const uint8_t* from = static_cast<const uint8_t*>(data);
    uint32_t remaining = count;
    while (remaining > 0) {
        if (!BufferUsable(rec)) {
            rec.writeFailed = 1;
            return 0;
        }
        uint32_t n = std::min(rec.bufferCapacity - rec.bufferFill, remaining);
        std::memcpy(rec.buffer + rec.bufferFill, from, n);
        if (!Rec_Commit(handle, n)) return 0;
        from += n;
        remaining -= n;
    }
    return 1;
}

namespace {

// Appends `size` bytes of the file; with wholeFile, they must be all the file still holds.
int WriteFileBytes(RecHandle* handle, HostFile& file, uint64_t size, bool wholeFile) {
    RecordingState& rec = handle->rec;
    if (rec.blockSize == 0) return 0;
    const uint64_t needed = BlocksFor(size, rec.blockSize);
    if (needed == 0) return !wholeFile || file.atEnd() ? 1 : 0;
    uint64_t done = 0;
    uint64_t bytesLeft = size;
    while (done < needed) {
        if (!BufferUsable(rec) || bytesLeft == 0) {
            rec.writeFailed = 1;
            return 0;
        }
        // Fill the free space completely (short reads included) so that only the file's last
        // piece ends mid-block, and never take more than the size measured above: a file that
        // grows meanwhile must not shift the sectors that follow it.
        uint32_t space = rec.bufferCapacity - rec.bufferFill;
        // The piece that ends a whole file asks for one byte more, which the block's padding
        // has room for: the read that takes the last bytes then also tells that none follow.
        const bool last = wholeFile && bytesLeft < space;
        uint32_t want =
            static_cast<uint32_t>(std::min<uint64_t>(space, bytesLeft)) + (last ? 1 : 0);
        uint32_t got = 0;
        while (got < want) {
            uint32_t n = file.read(rec.buffer + rec.bufferFill + got, want - got);
            if (n == 0) break;
            got += n;
            if (last && got >= bytesLeft) break; // whether more follows is asked below
        }
        // The file shrank or could not be read: the needed blocks can never be committed.
        if (got == 0) return 0;
        // It grew: the volume would hold a copy of it that never existed.
        if (got > bytesLeft) return 0;
        if (!Rec_Commit(handle, got)) return 0;
        bytesLeft -= got;
        done += BlocksFor(got, rec.blockSize);
    }
    // A whole file that shrank within its last block filled the blocks, but not with its bytes.
    return !wholeFile || (bytesLeft == 0 && file.atEnd()) ? 1 : 0;
}

} // namespace

int Rec_WriteFile(RecHandle* handle, HostFile& file) {
    return WriteFileBytes(handle, file, file.size(), true);
}

int Rec_WriteFileBytes(RecHandle* handle, HostFile& file, uint64_t size) {
    return WriteFileBytes(handle, file, size, false);
}

int Rec_Commit(RecHandle* handle, uint32_t n) {
    RecordingState& rec = handle->rec;
    rec.bufferFill += n;
    uint32_t partial = rec.bufferFill % rec.blockSize;
    if (partial != 0) {
        uint32_t pad = rec.blockSize - partial;
        std::memset(rec.buffer + rec.bufferFill, 0, pad);
        rec.bufferFill += pad;
    }
    // Padding can complete the buffer too: it goes out now, so the buffer always has room
    // when a call returns.
    if (rec.bufferFill == rec.bufferCapacity) {
        if (!Rec_WriteChunk(handle, rec.buffer, rec.bufferFill)) return 0;
        rec.bufferFill = 0;
    }
    return 1;
}

int Rec_WriteChunk(RecHandle* handle, const uint8_t* data, uint32_t bytes) {
    RecordingState& rec = handle->rec;
    if (!Rec_ReportWrite(handle, kEventWrite) || rec.cancelled || rec.blockSize == 0) {
        rec.writeFailed = 1;
        return 0;
    }
    rec.writeBegan = 1;
    const uint16_t blocks = static_cast<uint16_t>(BlocksFor(bytes, rec.blockSize));
    // The command layer waits out a busy drive; the host hears of the wait and may stop it.
    BusyWaitScope waiting(handle, &Rec_WriteBusyWait);
    // Streaming only in whole 64 KiB clusters: some drives record smaller streamed writes wrong.
    const bool stream = rec.streamWrites && bytes == kTransferBufferBytes &&
                        rec.nextAddress % kBdClusterBlocks == 0;
    const int written = stream ? Mmc_Write12Streaming(handle, data, bytes, rec.nextAddress, blocks)
                               : Mmc_Write10(handle, data, bytes, rec.nextAddress, blocks);
    if (!written) {
        if (!rec.cancelled) Mmc_RecordError(handle, location::kWriteChunk);
        rec.writeFailed = 1;
        return 0;
    }
    rec.nextAddress += blocks;
    rec.progressBlocks += blocks;
    return 1;
}

} // namespace tvx
