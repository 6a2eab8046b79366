// Data transfer commands: READ(10), READ(12), WRITE(10), WRITE(12), SEND CUE SHEET and
// SYNCHRONIZE CACHE(10). The byte count handed to the transport is the caller's, independent of
// the block count in the CDB.
// A transfer larger than the path to the drive takes goes as several commands.
#include "common/byte_order.h"
#include "mmc/command_record.h"
#include "mmc/commands.h"
#include "mmc/execute.h"
#include "transport/transport.h"

#include <algorithm>

namespace tvx {

namespace {

constexpr uint32_t kBlockBytes = 2048;
// DVD is recorded in 16-block ECC blocks: pieces of a split transfer keep to them.
constexpr uint32_t kEccBlockBytes = 16 * kBlockBytes;

int Read10Once(RecHandle* h, uint8_t* buffer, uint32_t bytes, uint32_t lba, uint32_t blocks) {
    CommandRecord command = NewCommand(kOpRead10, 10, kDirectionIn);
    PutBe32(command.cdb + 2, lba);
    PutBe16(command.cdb + 7, static_cast<uint16_t>(blocks));
    return Mmc_Execute(h, &command, buffer, bytes);
}

int Write10Once(RecHandle* h, uint8_t* buffer, uint32_t bytes, uint32_t lba, uint32_t blocks) {
    CommandRecord command = NewCommand(kOpWrite10, 10, kDirectionOut, kTimeoutLong);
    PutBe32(command.cdb + 2, lba);
    PutBe16(command.cdb + 7, static_cast<uint16_t>(blocks));
    return Mmc_Execute(h, &command, buffer, bytes);
}

int Read12Once(RecHandle* h, uint8_t* buffer, uint32_t bytes, uint32_t lba, uint32_t blocks) {
    CommandRecord command = NewCommand(kOpRead12, 12, kDirectionIn);
    PutBe32(command.cdb + 2, lba);
    PutBe32(command.cdb + 6, blocks);
    command.cdb[10] = 0x80; // Streaming: no error recovery that would stall playback
    return Mmc_Execute(h, &command, buffer, bytes);
}

int Write12StreamingOnce(RecHandle* h, uint8_t* buffer, uint32_t bytes, uint32_t lba,
                         uint32_t blocks) {
    CommandRecord command = NewCommand(kOpWrite12, 12, kDirectionOut, kTimeoutLong);
    PutBe32(command.cdb + 2, lba);
    PutBe32(command.cdb + 6, blocks);
    command.cdb[10] = 0x80; // Streaming
    return Mmc_Execute(h, &command, buffer, bytes);
}

using TransferOnce = int (*)(RecHandle*, uint8_t*, uint32_t, uint32_t, uint32_t);

// One command when it fits the path, else pieces of whole blocks in order; the first piece
// that fails ends the transfer (its error is the handle's).
int Transfer(TransferOnce once, RecHandle* h, uint8_t* buffer, uint32_t bytes, uint32_t lba,
             uint32_t blocks) {
    const uint32_t limit = Mmc_TransferLimit(h);
    if (bytes <= limit || blocks < 2 || bytes % blocks != 0) {
        return once(h, buffer, bytes, lba, blocks);
    }
    const uint32_t blockBytes = bytes / blocks;
    const uint32_t pieceBlocks = std::max<uint32_t>(1, limit / blockBytes);
    for (uint32_t done = 0; done < blocks;) {
        const uint32_t n = std::min(pieceBlocks, blocks - done);
        if (!once(h, buffer + uint64_t{done} * blockBytes, n * blockBytes, lba + done, n)) return 0;
        done += n;
    }
    return 1;
}

} // namespace

uint32_t Mmc_TransferLimit(const RecHandle* h) {
    const uint32_t path = h && h->device ? h->device->header.maxTransferBytes : 0;
    if (path == 0) return UINT32_MAX;
    if (path >= kEccBlockBytes) return path / kEccBlockBytes * kEccBlockBytes;
    return std::max(kBlockBytes, path / kBlockBytes * kBlockBytes);
}

int Mmc_Read10(RecHandle* h, void* buffer, uint32_t bytes, uint32_t lba, uint16_t blocks) {
    return Transfer(Read10Once, h, static_cast<uint8_t*>(buffer), bytes, lba, blocks);
}

int Mmc_Write10(RecHandle* h, const void* buffer, uint32_t bytes, uint32_t lba, uint16_t blocks) {
    // The transport only reads from an outgoing buffer.
    uint8_t* data = const_cast<uint8_t*>(static_cast<const uint8_t*>(buffer));
    return Transfer(Write10Once, h, data, bytes, lba, blocks);
}

int Mmc_Write12Streaming(RecHandle* h, const void* buffer, uint32_t bytes, uint32_t lba,
                         uint16_t blocks) {
    uint8_t* data = const_cast<uint8_t*>(static_cast<const uint8_t*>(buffer));
    return Transfer(Write12StreamingOnce, h, data, bytes, lba, blocks);
}

int Mmc_SendCueSheet(RecHandle* h, const uint8_t* sheet, uint16_t bytes) {
    CommandRecord command = NewCommand(kOpSendCueSheet, 10, kDirectionOut);
    PutBe16(command.cdb + 7, bytes);
    return Mmc_Execute(h, &command, const_cast<uint8_t*>(sheet), bytes);
}

int Mmc_Read12(RecHandle* h, void* buffer, uint32_t bytes, uint32_t lba, uint32_t blocks) {
    return Transfer(Read12Once, h, static_cast<uint8_t*>(buffer), bytes, lba, blocks);
}

int Mmc_SyncCache(RecHandle* h, int immediate) {
    CommandRecord command =
        NewCommand(kOpSyncCache, 10, kDirectionNone, immediate ? kTimeoutLong : kTimeoutCloseSync);
    command.cdb[1] = static_cast<uint8_t>((immediate & 1) << 1);
    return Mmc_Execute(h, &command, nullptr, 0);
}

} // namespace tvx
