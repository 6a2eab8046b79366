#include "mmc/sense.h"

#include "common/byte_order.h"
#include "transport/transport.h"

namespace tvx {

namespace {

constexpr uint8_t kResponseCodeMask = 0x7F;
constexpr uint8_t kFixedCurrent = 0x70;
constexpr uint8_t kDescriptorCurrent = 0x72;
constexpr uint8_t kDescriptorDeferred = 0x73;
constexpr uint8_t kKeyMask = 0x0F;
constexpr uint8_t kSksv = 0x80;

// Fixed format: key in byte 2, ASC/ASCQ in 12/13, sense-key-specific bytes 15-17.
constexpr uint32_t kFixedKey = 2;
constexpr uint32_t kFixedAsc = 12;
constexpr uint32_t kFixedAscq = 13;
constexpr uint32_t kFixedSks = 15;

// Descriptor format: key, ASC, ASCQ in bytes 1-3, additional length in 7, descriptors from 8.
constexpr uint32_t kDescKey = 1;
constexpr uint32_t kDescAsc = 2;
constexpr uint32_t kDescAscq = 3;
constexpr uint32_t kDescAdditionalLength = 7;
constexpr uint32_t kDescFirst = 8;
constexpr uint8_t kDescTypeKeySpecific = 0x02;
constexpr uint32_t kKeySpecificSks = 4; // SKSV byte inside the descriptor; progress follows

uint8_t At(const uint8_t* sense, uint32_t length, uint32_t offset) {
    return offset < length ? sense[offset] : 0;
}

void DecodeDescriptors(const uint8_t* sense, uint32_t length, SenseFields& out) {
    uint32_t end = kDescFirst + At(sense, length, kDescAdditionalLength);
    if (end > length) end = length;
    for (uint32_t at = kDescFirst; at + 2 <= end;) {
        const uint32_t size = 2u + sense[at + 1];
        if (at + size > end) break;
        if (sense[at] == kDescTypeKeySpecific && size >= kKeySpecificSks + 3 &&
            (sense[at + kKeySpecificSks] & kSksv)) {
            out.progressValid = true;
            out.progress = GetBe16(sense + at + kKeySpecificSks + 1);
        }
        at += size;
    }
}

} // namespace

SenseFields Mmc_DecodeSense(const uint8_t* sense, uint32_t length) {
    SenseFields out;
    if (!sense || length == 0) return out;
    const uint8_t code = sense[0] & kResponseCodeMask;
    out.valid = code >= kFixedCurrent && code <= kDescriptorDeferred;
    if (code == kDescriptorCurrent || code == kDescriptorDeferred) {
        out.key = At(sense, length, kDescKey) & kKeyMask;
        out.asc = At(sense, length, kDescAsc);
        out.ascq = At(sense, length, kDescAscq);
        DecodeDescriptors(sense, length, out);
        return out;
    }
    out.key = At(sense, length, kFixedKey) & kKeyMask;
    out.asc = At(sense, length, kFixedAsc);
    out.ascq = At(sense, length, kFixedAscq);
    if (length >= kFixedSks + 3 && (sense[kFixedSks] & kSksv)) {
        out.progressValid = true;
        out.progress = GetBe16(sense + kFixedSks + 1);
    }
    return out;
}

SenseFields Mmc_LastSense(RecHandle* handle) {
    if (!handle || !handle->device) return {};
    const uint8_t* sense = Front_GetSense(handle->device);
    return Mmc_DecodeSense(sense, sense ? Front_GetSenseLength(handle->device) : 0);
}

} // namespace tvx
