#include "platform/text.h"

#include <cstdint>

namespace tvx {

namespace {

// Decodes one sequence; returns its length and the code point. A byte that starts no valid
// sequence is one character of its own value (U+0080-U+00FF), as a Latin-1 reader shows it, so
// that names in other 8-bit encodings keep their distinct characters.
size_t decode(const unsigned char* s, size_t remaining, char32_t& cp) {
    unsigned char c = s[0];
    size_t need;
    char32_t value;
    if (c < 0x80) {
        cp = c;
        return 1;
    } else if (c >= 0xC2 && c <= 0xDF) {
        need = 2;
        value = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        need = 3;
        value = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        need = 4;
        value = c & 0x07;
    } else {
        cp = c;
        return 1;
    }
    if (remaining < need) {
        cp = c;
        return 1;
    }
    for (size_t i = 1; i < need; ++i) {
        if ((s[i] & 0xC0) != 0x80) {
            cp = c;
            return 1;
        }
        value = (value << 6) | (s[i] & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are invalid.
    if ((need == 3 && value < 0x800) || (need == 4 && (value < 0x10000 || value > 0x10FFFF)) ||
        (value >= 0xD800 && value <= 0xDFFF)) {
        cp = c;
        return 1;
    }
    cp = value;
    return need;
}

} // namespace

bool Utf8ToUtf16(std::string_view text, std::u16string& out) {
    out.clear();
    auto* s = reinterpret_cast<const unsigned char*>(text.data());
    size_t i = 0;
    while (i < text.size()) {
        char32_t cp;
        i += decode(s + i, text.size() - i, cp);
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    return true;
}

bool Utf16ToUtf8(std::u16string_view text, std::string& out) {
    out.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t cp = text[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return true;
}

size_t Utf8SequenceLength(const char* text, size_t remaining) {
    if (remaining == 0) return 0;
    char32_t cp;
    return decode(reinterpret_cast<const unsigned char*>(text), remaining, cp);
}

} // namespace tvx
