// Data transfer commands: READ(10), READ(12), WRITE(10) and SYNCHRONIZE CACHE(10). The byte
// count handed to the transport is the caller's, independent of the block count in the CDB.
#include "common/byte_order.h"
#include "mmc/command_record.h"
#include "mmc/commands.h"
#include "mmc/execute.h"

namespace tvx {

int Mmc_Read10(RecHandle* h, void* buffer, uint32_t bytes, uint32_t lba, uint16_t blocks) {
    CommandRecord command = NewCommand(kOpRead10, 10, kDirectionIn);
    PutBe32(command.cdb + 2, lba);
    PutBe16(command.cdb + 7, blocks);
    return Mmc_Execute(h, &command, buffer, bytes);
}

int Mmc_Write10(RecHandle* h, const void* buffer, uint32_t bytes, uint32_t lba, uint16_t blocks) {
    CommandRecord command = NewCommand(kOpWrite10, 10, kDirectionOut, kTimeoutLong);
    PutBe32(command.cdb + 2, lba);
    PutBe16(command.cdb + 7, blocks);
    // The transport only reads from an outgoing buffer.
    return Mmc_Execute(h, &command, const_cast<void*>(buffer), bytes);
}

int Mmc_Read12(RecHandle* h, void* buffer, uint32_t bytes, uint32_t lba, uint32_t blocks) {
    CommandRecord command = NewCommand(kOpRead12, 12, kDirectionIn);
    PutBe32(command.cdb + 2, lba);
    PutBe32(command.cdb + 6, blocks);
    command.cdb[10] = 0x80; // Streaming: no error recovery that would stall playback
    return Mmc_Execute(h, &command, buffer, bytes);
}

int Mmc_SyncCache(RecHandle* h, int immediate) {
    CommandRecord command =
        NewCommand(kOpSyncCache, 10, kDirectionNone, immediate ? kTimeoutLong : kTimeoutCloseSync);
    command.cdb[1] = static_cast<uint8_t>((immediate & 1) << 1);
    return Mmc_Execute(h, &command, nullptr, 0);
}

} // namespace tvx
