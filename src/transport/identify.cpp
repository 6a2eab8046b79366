#include "transport/identify.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace tvx {

namespace {

constexpr uint8_t kInquiry = 0x12;
constexpr uint8_t kInquiryLength = 80;
constexpr uint16_t kInquiryTimeoutSeconds = 8;
constexpr uint8_t kPeripheralTypeMask = 0x1F;
constexpr uint8_t kPeripheralCdDvd = 5;
constexpr uint8_t kVitalProductData = 0x01;
constexpr uint8_t kUnitSerialPage = 0x80;
constexpr uint8_t kSerialAnswerLength = 252;
constexpr size_t kMaxSerialLength = 48;

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

int Transport_UnitSerial(ExecuteFunction execute, Device* device, std::string& serial) {
    CommandRecord inquiry;
    inquiry.timeout = kInquiryTimeoutSeconds;
    inquiry.direction = kDirectionIn;
    inquiry.cdbLength = 6;
    inquiry.cdb[0] = kInquiry;
    inquiry.cdb[1] = kVitalProductData;
    inquiry.cdb[2] = kUnitSerialPage;
    inquiry.cdb[4] = kSerialAnswerLength;
    uint8_t data[kSerialAnswerLength] = {};
    serial.clear();
    if (!execute(device, &inquiry, data, sizeof data)) return 0;
    if (data[1] != kUnitSerialPage) return 0;
    const size_t length = std::min<size_t>(data[3], sizeof data - 4);
    // Kept to characters any lock name can hold; blanks around it are padding.
    for (size_t i = 0; i < length && serial.size() < kMaxSerialLength; ++i) {
        const char c = static_cast<char>(data[4 + i]);
        if (std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.')
            serial += c;
        else if (c != ' ' && c != 0)
            serial += '_';
    }
    return serial.empty() ? 0 : 1;
}

} // namespace tvx
