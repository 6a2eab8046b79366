// READ DISC STRUCTURE: the physical format information of layer 0 and the copy protection
// information.
#include "common/byte_order.h"
#include "mmc/answers.h"
#include "mmc/command_record.h"
#include "mmc/commands.h"
#include "mmc/execute.h"

#include <algorithm>

namespace tvx {

namespace {

constexpr uint8_t kFormatPhysical = 0x00;
constexpr uint8_t kFormatCopyProtection = 0x01;
constexpr uint16_t kPhysicalBytes = 20; // header and the first 16 bytes of the descriptor
constexpr uint16_t kCopyProtectionBytes = 8;
constexpr std::size_t kStructureHeaderBytes = 4;

int ReadStructure(RecHandle* h, uint8_t format, uint8_t* buffer, uint16_t allocation) {
    std::fill(buffer, buffer + allocation, uint8_t{0});
    CommandRecord command = NewCommand(kOpReadDiscStructure, 12, kDirectionIn);
    command.cdb[6] = 0; // layer 0
    command.cdb[7] = format;
    PutBe16(command.cdb + 8, allocation);
    return Mmc_Execute(h, &command, buffer, allocation);
}

} // namespace

void ParsePhysicalFormat(Answer a, PhysicalFormat* out) {
    if (a.size() < kPhysicalBytes) return;
    const uint8_t* d = a.data() + kStructureHeaderBytes;
    out->bookType = d[0] >> 4;
    out->partVersion = d[0] & 0x0F;
    out->layerField = (d[2] >> 5) & 3;
    out->dataStart = GetBe32(d + 4);
    out->dataEnd = GetBe32(d + 8);
    out->layer0End = GetBe32(d + 12);
}

uint8_t ParseCopyProtection(Answer a) {
    return a.size() > 4 ? a[4] : 0;
}

int Mmc_GetPhysicalFormat(RecHandle* h, PhysicalFormat* out) {
    uint8_t answer[kPhysicalBytes];
    if (!ReadStructure(h, kFormatPhysical, answer, kPhysicalBytes)) return 0;
    PhysicalFormat parsed;
    ParsePhysicalFormat(answer, &parsed);
    if (out) {
        const uint8_t keptProtection = out->protectionSystem;
        *out = parsed;
        out->protectionSystem = keptProtection;
    }
    // The layer fields stay filled when the copy protection query fails.
    if (!ReadStructure(h, kFormatCopyProtection, answer, kCopyProtectionBytes)) return 0;
    if (out) out->protectionSystem = ParseCopyProtection({answer, kCopyProtectionBytes});
    return 1;
}

} // namespace tvx
