// Sense conditions the drive reports, and their fixed-format encoding (32 bytes, response code
// 70h, additional length 24, progress indication in the sense-key-specific bytes).
#pragma once

#include <cstdint>

namespace tvx::vdrive {

struct Sense {
    uint8_t key = 0;
    uint8_t asc = 0;
    uint8_t ascq = 0;
    bool progressValid = false;
    uint16_t progress = 0; // out of 65536

    bool ok() const { return key == 0 && asc == 0 && ascq == 0; }
    static Sense Good() { return {}; }
    static Sense Of(uint8_t key, uint8_t asc, uint8_t ascq) { return Sense{key, asc, ascq}; }
    static Sense Busy(uint8_t ascq, uint16_t progress) {
        return Sense{2, 0x04, ascq, true, progress};
    }
};

inline constexpr uint32_t kSenseBytes = 32;

// Descriptor format (72h): key, ASC, ASCQ in bytes 1-3, the progress indication in a
// sense-key-specific descriptor (type 02h) from byte 8.
inline void EncodeDescriptorSense(const Sense& s, uint8_t* out /* kSenseBytes */) {
    for (uint32_t i = 0; i < kSenseBytes; ++i)
        out[i] = 0;
    out[0] = 0x72;
    out[1] = s.key & 0x0F;
    out[2] = s.asc;
    out[3] = s.ascq;
    if (s.progressValid) {
        out[7] = 8;
        out[8] = 0x02;
        out[9] = 0x06;
        out[12] = 0x80; // SKSV
        out[13] = static_cast<uint8_t>(s.progress >> 8);
        out[14] = static_cast<uint8_t>(s.progress);
    }
}

inline void EncodeSense(const Sense& s, uint8_t* out /* kSenseBytes */, bool descriptor = false) {
    if (descriptor) {
        EncodeDescriptorSense(s, out);
        return;
    }
    for (uint32_t i = 0; i < kSenseBytes; ++i)
        out[i] = 0;
    out[0] = 0x70; // current error, fixed format
    out[2] = s.key & 0x0F;
    out[7] = kSenseBytes - 8;
    out[12] = s.asc;
    out[13] = s.ascq;
    if (s.progressValid) {
        out[15] = 0x80; // SKSV
        out[16] = static_cast<uint8_t>(s.progress >> 8);
        out[17] = static_cast<uint8_t>(s.progress);
    }
}

// The conditions used throughout the model.
namespace sense {
inline Sense InvalidOpcode() {
    return Sense::Of(0x05, 0x20, 0x00);
}
inline Sense InvalidField() {
    return Sense::Of(0x05, 0x24, 0x00);
}
inline Sense InvalidParameterField() {
    return Sense::Of(0x05, 0x26, 0x00);
}
inline Sense LbaOutOfRange() {
    return Sense::Of(0x05, 0x21, 0x00);
}
inline Sense InvalidWriteAddress() {
    return Sense::Of(0x05, 0x21, 0x02);
}
inline Sense CommandSequenceError() {
    return Sense::Of(0x05, 0x2C, 0x00);
}
inline Sense IncompatibleFormat() {
    return Sense::Of(0x05, 0x30, 0x02);
}
inline Sense CannotWriteIncompatible() {
    return Sense::Of(0x05, 0x30, 0x05);
}
inline Sense CannotFormatIncompatible() {
    return Sense::Of(0x05, 0x30, 0x06);
}
inline Sense RemovalPrevented() {
    return Sense::Of(0x05, 0x53, 0x02);
}
inline Sense NoMediumTrayClosed() {
    return Sense::Of(0x02, 0x3A, 0x01);
}
inline Sense NoMediumTrayOpen() {
    return Sense::Of(0x02, 0x3A, 0x02);
}
inline Sense UnrecoveredRead() {
    return Sense::Of(0x03, 0x11, 0x00);
}
inline Sense DataPhaseError() {
    return Sense::Of(0x0B, 0x4B, 0x00);
}
inline Sense WriteProtected() {
    return Sense::Of(0x07, 0x27, 0x00);
}
inline Sense RecoveredWithRetries() {
    return Sense::Of(0x01, 0x17, 0x01);
}
inline Sense ParameterListLength() {
    return Sense::Of(0x05, 0x1A, 0x00);
}
} // namespace sense

} // namespace tvx::vdrive
