#include "memory_disc.h"

#include "common/byte_order.h"

#include <algorithm>
#include <cstring>

namespace tvx::test {

namespace {

ScsiResult checkCondition(uint8_t key, uint8_t asc) {
    ScsiResult r;
    r.status = kScsiStatusCheckCondition;
    r.sense[0] = 0x70;
    r.sense[2] = key;
    r.sense[7] = 10;
    r.sense[12] = asc;
    r.senseLength = 18;
    return r;
}

ScsiResult answer(const ScsiRequest& request, const uint8_t* data, uint32_t length) {
    ScsiResult r;
    const uint32_t n = std::min(length, request.byteCount);
    if (n && request.data) std::memcpy(request.data, data, n);
    r.transferred = n;
    return r;
}

} // namespace

size_t MemoryDisc::count(uint8_t opcode) const {
    return static_cast<size_t>(
        std::count_if(log.begin(), log.end(), [&](const Command& c) { return c.opcode == opcode; }));
}

size_t MemoryDisc::readsOf(uint32_t lba) const {
    return static_cast<size_t>(std::count_if(log.begin(), log.end(), [&](const Command& c) {
        return c.opcode == 0x28 && c.lba == lba;
    }));
}

ScsiResult MemoryDisc::execute(const ScsiRequest& request) {
    const uint8_t* cdb = request.cdb;
    const uint8_t op = cdb[0];
    uint32_t lba = 0;
    uint32_t blocks = 0;
    if (op == 0x28 || op == 0x2A) {
        lba = GetBe32(cdb + 2);
        blocks = GetBe16(cdb + 7);
    }
    log.push_back({op, lba, blocks});
    const uint32_t last = sectors() ? sectors() - 1 : 0;
    switch (op) {
    case 0x00: // TEST UNIT READY
    case 0xB6: // SET STREAMING
        return ScsiResult{};
    case 0x25: { // READ CAPACITY
        uint8_t data[8] = {};
        PutBe32(data, blank ? 0 : last);
        PutBe32(data + 4, 2048);
        return answer(request, data, 8);
    }
    case 0x51: { // READ DISC INFORMATION
        if (refuseDiscInfo) return checkCondition(5, 0x20);
        uint8_t data[32] = {};
        PutBe16(data, 30);
        data[2] = blank ? 0x00 : 0x0E; // complete session, finalised disc
        data[3] = 1;
        data[4] = 1;
        data[5] = 1;
        data[6] = 1;
        return answer(request, data, 32);
    }
    case 0x52: { // READ TRACK INFORMATION
        uint8_t data[32] = {};
        PutBe16(data, 30);
        data[2] = 1;
        data[3] = 1;
        data[6] = blank ? 0x40 : 0x00;
        data[7] = blank ? 0x01 : 0x02;
        PutBe32(data + 8, 0);
        PutBe32(data + 24, sectors());
        PutBe32(data + 28, blank ? 0 : last);
        return answer(request, data, 32);
    }
    case 0x28:   // READ(10)
    case 0x2A: { // WRITE(10)
        if (static_cast<uint64_t>(lba) + blocks > sectors() || blank) {
            return checkCondition(5, 0x21); // LOGICAL BLOCK ADDRESS OUT OF RANGE
        }
        if (request.byteCount < blocks * 2048u) return checkCondition(5, 0x24);
        for (uint32_t i = 0; i < blocks; ++i) {
            if (op == 0x28 && unreadable.count(lba + i)) return checkCondition(3, 0x11);
        }
        uint8_t* at = image_.data() + static_cast<size_t>(lba) * 2048;
        if (op == 0x28) return answer(request, at, blocks * 2048u);
        std::memcpy(at, request.data, blocks * 2048u);
        ScsiResult r;
        r.transferred = blocks * 2048u;
        return r;
    }
    default:
        return checkCondition(5, 0x20); // INVALID COMMAND OPERATION CODE
    }
}

} // namespace tvx::test
