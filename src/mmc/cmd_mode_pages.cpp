// MODE SENSE(10) and MODE SELECT(10), and the write parameters page (05h) set up through them.
// Drives differ in how they return the page: behind a block descriptor or not (some ignore
// DBD), 32h or 36h bytes long. The page goes back as the drive reported it, with only the
// fields the library sets changed.
#include "common/byte_order.h"
#include "mmc/answers.h"
#include "mmc/command_record.h"
#include "mmc/commands.h"
#include "mmc/execute.h"

#include <algorithm>
#include <cstring>

namespace tvx {

namespace {

constexpr uint8_t kPageWriteParameters = 0x05;
constexpr uint8_t kDisableBlockDescriptors = 0x08;
constexpr uint8_t kDataBlockMode1 = 0x08; // mode 1, 2048-byte blocks
constexpr uint8_t kTrackMode4 = 0x04;
constexpr uint8_t kMultiSession = 0xC0;
constexpr uint8_t kDefaultWriteTypeByte = 0x42; // BUF and session-at-once
constexpr uint8_t kPageControlCurrent = 0;
constexpr uint8_t kPageControlChangeable = 1;
constexpr uint8_t kPageControlDefault = 2;
constexpr std::size_t kModeHeaderBytes = 8;
// The smallest page that holds every field the library sets (bytes 0 to 4).
constexpr std::size_t kMinimumPageBytes = 5;
// Byte 2: BUF (bit 6), test write (bit 4) and write type (bits 0-3) are the library's; bit 5
// (link size valid) is the drive's to choose.
constexpr uint8_t kWriteTypeByteBits = 0x5F;
// BUF is the one of them a drive may keep fixed: test write and write type decide what the
// drive does to the disc, so they must read back as sent whatever the drive calls changeable.
constexpr uint8_t kBufBit = 0x40;
// Byte 4: the data block type (bits 0-3).
constexpr uint8_t kDataBlockTypeBits = 0x0F;

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
    // Without block descriptors, as the page is all we want; not every drive obeys.
    command.cdb[1] = kDisableBlockDescriptors;
    command.cdb[2] = static_cast<uint8_t>((pageControl & 3) << 6 | (page & 0x3F));
    PutBe16(command.cdb + 7, length);
    return Mmc_Execute(h, &command, buffer, length);
}

bool FindModePage(Answer answer, uint8_t pageCode, ModePageSpan* out) {
    if (answer.size() < kModeHeaderBytes) return false;
    // The mode data length counts the bytes after itself; a drive that promises less than the
    // page it sends (some do) is trusted for what the answer holds.
    const std::size_t available = answer.size();
    const std::size_t offset = kModeHeaderBytes + GetBe16(answer.data() + 6);
    if (offset + 2 > available) return false;
    const uint8_t* page = answer.data() + offset;
    if ((page[0] & 0x3F) != pageCode) return false;
    const std::size_t length = std::size_t{page[1]} + 2;
    if (length < kMinimumPageBytes || offset + length > available) return false;
    if (out) *out = ModePageSpan{offset, length};
    return true;
}

std::size_t BuildWriteParametersSelect(const uint8_t* drivePage, std::size_t pageBytes,
                                       const WriteParameters* params, uint8_t* out) {
    std::fill(out, out + kModeHeaderBytes, uint8_t{0});
    uint8_t* page = out + kModeHeaderBytes;
    std::memcpy(page, drivePage, pageBytes);
    page[0] = kPageWriteParameters; // PS cleared; the page length stays the drive's own
    uint8_t writeTypeByte = kDefaultWriteTypeByte;
    uint8_t trackByte = kTrackMode4;
    if (params) {
        writeTypeByte =
            static_cast<uint8_t>((params->bufferUnderrunFree & 1) << 6 |
                                 (params->testWrite & 1) << 4 | (params->writeType & 0x0F));
        trackByte = static_cast<uint8_t>((params->multiSession ? kMultiSession : 0) | kTrackMode4);
    }
    page[2] = static_cast<uint8_t>((page[2] & ~kWriteTypeByteBits) | writeTypeByte);
    page[3] = trackByte;
    page[4] = static_cast<uint8_t>((page[4] & ~kDataBlockTypeBits) | kDataBlockMode1);
    return kModeHeaderBytes + pageBytes;
}

bool WriteParametersTaken(const uint8_t* sentPage, const uint8_t* readBackPage,
                          const uint8_t* changeablePage) {
    uint8_t compared = kWriteTypeByteBits;
    // A BUF bit the drive does not let the host change is the drive's, whatever was sent.
    if (changeablePage) compared &= static_cast<uint8_t>(changeablePage[2] | ~kBufBit);
    return (sentPage[2] & compared) == (readBackPage[2] & compared);
}

int Mmc_SetWriteParameters(RecHandle* h, const WriteParameters* params) {
    uint8_t current[kModeSenseBytes] = {};
    uint8_t list[kModeSenseBytes] = {};
    uint8_t readBack[kModeSenseBytes] = {};
    const uint8_t control = params ? kPageControlCurrent : kPageControlDefault;
    ModePageSpan found;
    if (!Mmc_ModeSense10(h, current, sizeof current, kPageWriteParameters, control) ||
        !FindModePage(current, kPageWriteParameters, &found)) {
        return 0;
    }
    // Everything else of the page goes back as the drive reported it, without its block
    // descriptors.
    const std::size_t length =
        BuildWriteParametersSelect(current + found.offset, found.length, params, list);
    if (!Mmc_ModeSelect10(h, list, static_cast<uint16_t>(length))) return 0;
    ModePageSpan after;
    if (!Mmc_ModeSense10(h, readBack, sizeof readBack, kPageWriteParameters, kPageControlCurrent) ||
        !FindModePage(readBack, kPageWriteParameters, &after)) {
        return 0;
    }
    const uint8_t* sentPage = list + kModeHeaderBytes;
    if (WriteParametersTaken(sentPage, readBack + after.offset, nullptr)) return 1;
    // A difference in BUF alone is no refusal when the drive keeps BUF fixed.
    uint8_t mask[kModeSenseBytes] = {};
    ModePageSpan maskPage;
    if (!Mmc_ModeSense10(h, mask, sizeof mask, kPageWriteParameters, kPageControlChangeable) ||
        !FindModePage(mask, kPageWriteParameters, &maskPage)) {
        return 0;
    }
    return WriteParametersTaken(sentPage, readBack + after.offset, mask + maskPage.offset) ? 1 : 0;
}

} // namespace tvx
