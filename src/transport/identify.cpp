#include "transport/identify.h"

#include <cstring>

namespace tvx {

namespace {

constexpr uint8_t kInquiry = 0x12;
constexpr uint8_t kInquiryLength = 80;
constexpr uint16_t kInquiryTimeoutSeconds = 8;
constexpr uint8_t kPeripheralTypeMask = 0x1F;
constexpr uint8_t kPeripheralCdDvd = 5;

// Copies an identification field and removes its trailing blanks (an all-blank field becomes
// empty).
void CopyTrimmed(char* out, const uint8_t* field, size_t width) {
    std::memcpy(out, field, width);
    out[width] = 0;
    for (size_t i = width; i > 0 && out[i - 1] == ' '; --i)
        out[i - 1] = 0;
}

} // namespace

int Transport_Identify(ExecuteFunction execute, Device* device) {
    CommandRecord inquiry;
    inquiry.timeout = kInquiryTimeoutSeconds;
    inquiry.direction = kDirectionIn;
    inquiry.cdbLength = 6;
    inquiry.cdb[0] = kInquiry;
    inquiry.cdb[4] = kInquiryLength;
    uint8_t data[kInquiryLength] = {};
    if (!execute(device, &inquiry, data, sizeof data)) return 0;
    if ((data[0] & kPeripheralTypeMask) != kPeripheralCdDvd) return 0;
    DeviceHeader& header = device->header;
    CopyTrimmed(header.vendor, data + 8, 8);
    CopyTrimmed(header.product, data + 16, 16);
    CopyTrimmed(header.revision, data + 32, 4);
    return 1;
}

} // namespace tvx
