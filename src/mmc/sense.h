// Sense data as drives send it: fixed format (response codes 70h/71h) or descriptor format
// (72h/73h). Everything that reads sense goes through this decoder, never through offsets.
#pragma once

#include "transport/rec_handle.h"

#include <cstdint>

namespace tvx {

inline constexpr uint8_t kSenseKeyNoSense = 0x00;
inline constexpr uint8_t kSenseKeyRecovered = 0x01;
inline constexpr uint8_t kSenseKeyNotReady = 0x02;
inline constexpr uint8_t kSenseKeyIllegalRequest = 0x05;
inline constexpr uint8_t kSenseKeyUnitAttention = 0x06;

struct SenseFields {
    bool valid = false; // a response code of sense data: the drive did send some
    uint8_t key = 0;
    uint8_t asc = 0;
    uint8_t ascq = 0;
    bool progressValid = false; // the sense-key-specific field holds a progress indication
    uint16_t progress = 0;      // out of 65536
};

// Decodes `length` bytes of sense data; fields the data is too short to hold read as zero.
SenseFields Mmc_DecodeSense(const uint8_t* sense, uint32_t length);

// The decoded sense of the last command sent to the handle's drive (all zero when none).
SenseFields Mmc_LastSense(RecHandle* handle);

} // namespace tvx
