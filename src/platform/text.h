// UTF-8 and UTF-16 conversions, the Linux stand-in for the ANSI code page.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tvx {

// A byte that starts no valid sequence becomes the character of its value (U+0080-U+00FF);
// the conversion itself always succeeds.
bool Utf8ToUtf16(std::string_view text, std::u16string& out);
// Unpaired surrogates become U+FFFD.
bool Utf16ToUtf8(std::u16string_view text, std::string& out);
// Length of the well-formed sequence that starts at text (1 for ASCII and for invalid bytes).
size_t Utf8SequenceLength(const char* text, size_t remaining);

} // namespace tvx
