#include "vdrive/faults.h"

#include "vdrive/bytes.h"

namespace tvx::vdrive {

bool CommandLbaRange(const uint8_t* cdb, uint8_t cdbLength, uint32_t& first, uint32_t& last) {
    uint32_t blocks = 0;
    switch (cdb[0]) {
    case 0x28: // READ(10)
    case 0x2A: // WRITE(10)
        if (cdbLength < 10) return false;
        blocks = Get16(cdb + 7);
        break;
    case 0xA8: // READ(12)
    case 0xAA: // WRITE(12)
        if (cdbLength < 12) return false;
        blocks = Get32(cdb + 6);
        break;
    default:
        return false;
    }
    first = Get32(cdb + 2);
    last = first + (blocks == 0 ? 0 : blocks - 1);
    return true;
}

std::optional<FaultRule> FaultSet::match(const uint8_t* cdb, uint8_t cdbLength) {
    std::optional<FaultRule> chosen;
    for (Armed& a : rules_) {
        const FaultRule& r = a.rule;
        if (r.opcode >= 0 && r.opcode != cdb[0]) continue;
        if (r.useLbaRange) {
            uint32_t first = 0, last = 0;
            if (!CommandLbaRange(cdb, cdbLength, first, last)) continue;
            if (last < r.lbaFirst || first > r.lbaLast) continue;
        }
        ++a.matches;
        if (chosen) continue;
        if (r.maxFires != 0 && a.fired >= r.maxFires) continue;
        if (r.occurrence != 0 && a.matches != r.occurrence) continue;
        ++a.fired;
        chosen = r;
    }
    return chosen;
}

} // namespace tvx::vdrive
