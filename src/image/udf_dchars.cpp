#include "image/udf_dchars.h"

#include "platform/host.h"

#include <cstring>
#include <string>

namespace tvx {

namespace {

// The text's UTF-16 code units up to the first zero unit, at most kDCharsMaxUnits.
std::u16string toUnits(const char* text, size_t length) {
    std::u16string units;
    if (length > 0) host().ansiToUtf16(std::string_view(text, length), units);
    size_t zero = units.find(u'\0');
    if (zero != std::u16string::npos) units.resize(zero);
    if (units.size() > kDCharsMaxUnits) units.resize(kDCharsMaxUnits);
    return units;
}

bool allBelow256(const std::u16string& units, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        if (units[i] >= 0x100) return false;
    }
    return true;
}

bool isHighSurrogate(char16_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}

} // namespace

size_t UDF_DCharsLength(const char* text, size_t length) {
    std::u16string units = toUnits(text, length);
    return allBelow256(units, units.size()) ? 1 + units.size() : 1 + 2 * units.size();
}

size_t UDF_EncodeDChars(const char* text, size_t length, uint8_t* out, size_t outSize) {
    if (outSize == 0) return 0;
    std::memset(out, 0, outSize);
    std::u16string units = toUnits(text, length);
    size_t room = outSize - 1;
    // The compression follows the units that are kept, so a cut text keeps what it can.
    size_t count = units.size() < room ? units.size() : room;
    uint8_t compression = kCompression8;
    if (!allBelow256(units, count)) {
        compression = kCompression16;
        count = units.size() < room / 2 ? units.size() : room / 2;
        // Never keep half of a surrogate pair.
        if (count > 0 && count < units.size() && isHighSurrogate(units[count - 1])) --count;
    }
    out[0] = compression;
    size_t pos = 1;
    for (size_t i = 0; i < count; ++i) {
        if (compression == kCompression16) out[pos++] = static_cast<uint8_t>(units[i] >> 8);
        out[pos++] = static_cast<uint8_t>(units[i]);
    }
    return pos;
}

size_t UDF_DecodeDChars(const uint8_t* dchars, size_t length, char* out, size_t outSize) {
    if (outSize == 0) return 0;
    std::memset(out, 0, outSize);
    if (length == 0 || (dchars[0] != kCompression8 && dchars[0] != kCompression16)) return 0;
    std::u16string units;
    size_t pos = 1;
    while (pos < length && units.size() < kDCharsMaxUnits) {
        if (dchars[0] == kCompression16) {
            char16_t high = static_cast<char16_t>(dchars[pos++] << 8);
            char16_t low = pos < length ? dchars[pos++] : 0;
            units.push_back(static_cast<char16_t>(high | low));
        } else {
            units.push_back(dchars[pos++]);
        }
    }
    std::string text;
    host().utf16ToAnsi(units, text);
    // Keep whole characters only, and room for the terminator.
    size_t limit = outSize - 1;
    size_t kept = 0;
    while (kept < text.size()) {
        size_t step = host().ansiCharLength(text.data() + kept, text.size() - kept);
        if (step == 0 || kept + step > limit) break;
        kept += step;
    }
    std::memcpy(out, text.data(), kept);
    return kept;
}

size_t UDF_SetDString(const char* text, size_t length, uint8_t* field, size_t fieldSize) {
    if (fieldSize < 2) return 0;
    std::memset(field, 0, fieldSize);
    size_t used = UDF_EncodeDChars(text, length, field, fieldSize - 1);
    field[fieldSize - 1] = static_cast<uint8_t>(used);
    return used;
}

} // namespace tvx
