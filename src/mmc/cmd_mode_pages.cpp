// MODE SENSE(10) and MODE SELECT(10), and the write parameters page (05h) set up through them.
#include "common/byte_order.h"
#include "mmc/answers.h"
#include "mmc/command_record.h"
#include "mmc/commands.h"
#include "mmc/execute.h"

#include <algorithm>

namespace tvx {

namespace {

constexpr uint8_t kPageWriteParameters = 0x05;
constexpr uint8_t kPageLength = 0x32;     // 50 bytes after the page header
constexpr uint8_t kDataBlockMode1 = 0x08; // mode 1, 2048-byte blocks
constexpr uint8_t kTrackMode4 = 0x04;
constexpr uint8_t kMultiSession = 0xC0;
constexpr uint8_t kDefaultWriteTypeByte = 0x42; // BUF and session-at-once
constexpr uint8_t kPageControlCurrent = 0;
constexpr uint8_t kPageControlDefault = 2;
constexpr std::size_t kModeHeaderBytes = 8;
// Write type (bits 0-3), test write (bit 4) and BUF (bit 6); bit 5 (link size valid) is the
// drive's to choose.
constexpr uint8_t kComparedBits = 0x5F;

} // namespace

int Mmc_ModeSelect10(RecHandle* h, uint8_t* buffer, uint16_t length) {
    CommandRecord command = NewCommand(kOpModeSelect10, 10, kDirectionOut);
    command.cdb[1] = 0x10; // PF: pages follow the standard's format
    PutBe16(command.cdb + 7, length);
    return Mmc_Execute(h, &command, buffer, length);
}

int Mmc_ModeSense10(RecHandle* h, uint8_t* buffer, uint16_t length, uint8_t page,
                    uint8_t pageControl) {
    CommandRecord command = NewCommand(kOpModeSense10, 10, kDirectionIn);
    command.cdb[2] = static_cast<uint8_t>((pageControl & 3) << 6 | (page & 0x3F));
    PutBe16(command.cdb + 7, length);
    return Mmc_Execute(h, &command, buffer, length);
}

void PrepareWriteParametersPage(uint8_t* a, const WriteParameters* params) {
    std::fill(a, a + kModeHeaderBytes, uint8_t{0});
    uint8_t* page = a + kModeHeaderBytes;
    page[0] = kPageWriteParameters; // PS cleared
    page[1] = kPageLength;
    page[4] = kDataBlockMode1;
    if (params) {
        page[2] = static_cast<uint8_t>((params->bufferUnderrunFree & 1) << 6 |
                                       (params->testWrite & 1) << 4 | (params->writeType & 0x0F));
        page[3] = static_cast<uint8_t>((params->multiSession ? kMultiSession : 0) | kTrackMode4);
    } else {
        page[2] = kDefaultWriteTypeByte;
        page[3] = kTrackMode4;
    }
}

bool WriteParametersTaken(const uint8_t* sent, const uint8_t* readBack) {
    const std::size_t at = kModeHeaderBytes + 2;
    return (sent[at] & kComparedBits) == (readBack[at] & kComparedBits);
}

int Mmc_SetWriteParameters(RecHandle* h, const WriteParameters* params) {
    uint8_t a[kWriteParametersPageBytes] = {};
    uint8_t b[kWriteParametersPageBytes] = {};
    const uint8_t control = params ? kPageControlCurrent : kPageControlDefault;
    if (!Mmc_ModeSense10(h, a, sizeof a, kPageWriteParameters, control)) return 0;
    // Everything else of the page goes back as the drive reported it.
    PrepareWriteParametersPage(a, params);
    if (!Mmc_ModeSelect10(h, a, sizeof a)) return 0;
    if (!Mmc_ModeSense10(h, b, sizeof b, kPageWriteParameters, kPageControlCurrent)) return 0;
    return WriteParametersTaken(a, b) ? 1 : 0;
}

} // namespace tvx
