// Disc and track commands: READ DISC INFORMATION, READ TRACK INFORMATION, RESERVE TRACK,
// CLOSE TRACK/SESSION, BLANK, FORMAT UNIT, READ FORMAT CAPACITIES and READ CAPACITY.
#include "common/byte_order.h"
#include "mmc/answers.h"
#include "mmc/command_record.h"
#include "mmc/commands.h"
#include "mmc/execute.h"

#include <algorithm>
#include <array>

namespace tvx {

namespace {

constexpr uint16_t kDiscInfoBytes = 32;
constexpr uint16_t kTrackInfoBytes = 32;
constexpr uint16_t kFormatCapacitiesBytes = 2052;
constexpr uint16_t kFormatListBytes = 12;
constexpr uint8_t kFormatListImmed = 0x02;
constexpr uint16_t kReadCapacityBytes = 8;
constexpr std::size_t kFormatCapacityEntryBytes = 8;
constexpr std::size_t kFormatCapacityListStart = 4;
constexpr uint32_t kFormatCapacityEntriesRead = 256;

// Field access that treats bytes the answer does not hold as zero.
uint8_t ByteAt(Answer a, std::size_t i) {
    return i < a.size() ? a[i] : 0;
}
uint32_t Be32At(Answer a, std::size_t i) {
    return i + 4 <= a.size() ? GetBe32(a.data() + i) : 0;
}

} // namespace

DiscInformation ParseDiscInformation(Answer a) {
    DiscInformation info;
    const uint8_t status = ByteAt(a, 2);
    info.erasable = (status >> 4) & 1;
    info.lastSessionState = (status >> 2) & 3;
    info.discStatus = status & 3;
    info.firstTrack = ByteAt(a, 3);
    info.sessionCount = ByteAt(a, 4);
    info.firstTrackInLastSession = ByteAt(a, 5);
    info.lastTrackInLastSession = ByteAt(a, 6);
    info.backgroundFormatStatus = ByteAt(a, 7) & 3;
    info.discType = ByteAt(a, 8);
    return info;
}

TrackInformation ParseTrackInformation(Answer a) {
    TrackInformation info;
    info.trackNumber = ByteAt(a, 2);
    info.sessionNumber = ByteAt(a, 3);
    const uint8_t b5 = ByteAt(a, 5);
    const uint8_t b6 = ByteAt(a, 6);
    const uint8_t b7 = ByteAt(a, 7);
    info.trackMode = b5 & 0x0F;
    info.damage = (b5 >> 5) & 1;
    info.copy = (b5 >> 4) & 1;
    info.dataMode = b6 & 0x0F;
    info.reservedTrack = (b6 >> 7) & 1;
    info.blank = (b6 >> 6) & 1;
    info.packet = (b6 >> 5) & 1;
    info.fixedPacket = (b6 >> 4) & 1;
    info.lastRecordedValid = (b7 >> 1) & 1;
    info.nextWritableValid = b7 & 1;
    info.trackStart = Be32At(a, 8);
    info.nextWritable = Be32At(a, 12);
    info.freeBlocks = Be32At(a, 16);
    info.fixedPacketSize = Be32At(a, 20);
    info.trackSize = Be32At(a, 24);
    info.lastRecorded = Be32At(a, 28);
    return info;
}

int Mmc_ReadDiscInfo(RecHandle* h, DiscInformation* out) {
    uint8_t answer[kDiscInfoBytes] = {};
    CommandRecord command = NewCommand(kOpReadDiscInfo, 10, kDirectionIn);
    PutBe16(command.cdb + 7, kDiscInfoBytes);
    if (!Mmc_Execute(h, &command, answer, kDiscInfoBytes)) return 0;
    if (out) *out = ParseDiscInformation(answer);
    return 1;
}

int Mmc_ReadTrackInfo(RecHandle* h, uint32_t track, TrackInformation* out) {
    uint8_t answer[kTrackInfoBytes] = {};
    CommandRecord command = NewCommand(kOpReadTrackInfo, 10, kDirectionIn);
    command.cdb[1] = 0x01; // address is a track number
    PutBe32(command.cdb + 2, track);
    PutBe16(command.cdb + 7, kTrackInfoBytes);
    if (!Mmc_Execute(h, &command, answer, kTrackInfoBytes)) return 0;
    if (out) *out = ParseTrackInformation(answer);
    return 1;
}

int Mmc_ReserveTrack(RecHandle* h, uint32_t blocks) {
    CommandRecord command = NewCommand(kOpReserveTrack, 10, kDirectionNone, kTimeoutReserveTrack);
    PutBe32(command.cdb + 5, blocks);
    return Mmc_Execute(h, &command, nullptr, 0);
}

int Mmc_CloseTrackSession(RecHandle* h, int function, uint16_t track) {
    CommandRecord command = NewCommand(kOpCloseTrackSession, 10, kDirectionNone, kTimeoutImmediate);
    command.cdb[1] = 0x01; // always immediate: the caller polls for the end
    command.cdb[2] = static_cast<uint8_t>(function & 7);
    PutBe16(command.cdb + 4, track);
    return Mmc_Execute(h, &command, nullptr, 0);
}

int Mmc_Blank(RecHandle* h, int type, int immediate) {
    CommandRecord command = NewCommand(kOpBlank, 12, kDirectionNone,
                                       immediate ? kTimeoutImmediate : kTimeoutBlankFormat);
    command.cdb[1] = static_cast<uint8_t>((immediate & 1) << 4 | (type & 7));
    return Mmc_Execute(h, &command, nullptr, 0);
}

int Mmc_FormatUnit(RecHandle* h, const uint8_t* list, uint16_t length) {
    // The Immed bit of the parameter list's header decides how long the command may run.
    const bool immediate = list && length > 1 && (list[1] & kFormatListImmed);
    CommandRecord command = NewCommand(kOpFormatUnit, 6, kDirectionOut,
                                       immediate ? kTimeoutImmediate : kTimeoutBlankFormat);
    command.cdb[1] = 0x11; // FmtData, format code 001b
    // The transport only reads from an outgoing buffer.
    return Mmc_Execute(h, &command, const_cast<uint8_t*>(list), length);
}

void BuildFormatList(uint8_t* list, uint32_t blocks, uint8_t formatType, uint32_t parameter) {
    std::fill(list, list + kFormatListBytes, uint8_t{0});
    list[1] = kFormatListImmed; // the drive formats in the background
    PutBe16(list + 2, 0x0008);  // one format descriptor
    PutBe32(list + 4, blocks);
    list[8] = static_cast<uint8_t>(formatType << 2); // format subtype 0
    PutBe24(list + 9, parameter);
}

int Mmc_Format(RecHandle* h, uint32_t blocks, uint8_t formatType, uint32_t parameter) {
    uint8_t list[kFormatListBytes];
    BuildFormatList(list, blocks, formatType, parameter);
    return Mmc_FormatUnit(h, list, kFormatListBytes);
}

uint32_t ParseFormatCapacities(Answer a, FormatCapacity* entries, uint32_t maxEntries) {
    if (a.size() < kFormatCapacityListStart) return 0;
    // The limit compares the entry room with the list length in bytes, so the entry after the
    // listed ones (zero in a cleared buffer) is normally copied as the end mark.
    const uint32_t limit = std::min<uint32_t>(maxEntries, a[3]);
    uint32_t copied = 0;
    for (std::size_t at = kFormatCapacityListStart;
         copied < limit && at + kFormatCapacityEntryBytes <= a.size();
         at += kFormatCapacityEntryBytes) {
        FormatCapacity& e = entries[copied++];
        e.blocks = GetBe32(&a[at]);
        e.typeByte = a[at + 4];
        e.paramHigh = a[at + 5];
        e.paramLow = GetBe16(&a[at + 6]);
        if (e.blocks == 0 && e.paramLow == 0) break;
    }
    return copied;
}

int Mmc_ReadFormatCapacities(RecHandle* h, FormatCapacity* entries, uint32_t maxEntries) {
    std::array<uint8_t, kFormatCapacitiesBytes> answer{};
    CommandRecord command = NewCommand(kOpReadFormatCapacities, 10, kDirectionIn);
    PutBe16(command.cdb + 7, kFormatCapacitiesBytes);
    if (!Mmc_Execute(h, &command, answer.data(), kFormatCapacitiesBytes)) return 0;
    if (entries) ParseFormatCapacities(answer, entries, maxEntries);
    return 1;
}

int Mmc_GetFormatCapacity(RecHandle* h, uint32_t* current, uint32_t* formattable) {
    std::array<FormatCapacity, kFormatCapacityEntriesRead> entries{};
    if (!Mmc_ReadFormatCapacities(h, entries.data(), kFormatCapacityEntriesRead)) return 0;
    if (current) *current = entries[0].blocks;
    if (formattable) *formattable = entries[1].blocks;
    return 1;
}

int Mmc_ReadCapacity(RecHandle* h, uint32_t* lastLba) {
    uint8_t answer[kReadCapacityBytes] = {};
    CommandRecord command = NewCommand(kOpReadCapacity, 10, kDirectionIn);
    if (!Mmc_Execute(h, &command, answer, kReadCapacityBytes)) return 0;
    if (lastLba) *lastLba = GetBe32(answer);
    return 1;
}

} // namespace tvx
