// Text in recorded form: OSTA compressed d-characters (compression 8 or 16) and dstrings.
// Narrow texts are in the host's ANSI code page (UTF-8 on Linux).
#pragma once

#include <cstddef>
#include <cstdint>

namespace tvx {

inline constexpr uint8_t kCompression8 = 8;
inline constexpr uint8_t kCompression16 = 16;
// The conversion buffer's size in UTF-16 code units.
inline constexpr size_t kDCharsMaxUnits = 256;
// A File Identifier's length field is one byte.
inline constexpr size_t kMaxFileIdentifierBytes = 255;

// Encodes text (length bytes, no terminator needed) into out, clearing out over outSize first.
// Compression 8 when every kept code unit is below 0x100, else 16. A text that does not fit
// outSize is cut at a character boundary. Returns the bytes written, identifier included.
size_t UDF_EncodeDChars(const char* text, size_t length, uint8_t* out, size_t outSize);
// The bytes UDF_EncodeDChars would need for the whole text, without any cut.
size_t UDF_DCharsLength(const char* text, size_t length);
// Decodes d-characters into narrow text, clearing out over outSize first. An unknown
// compression identifier gives an empty text. At most outSize - 1 bytes are written, cut at a
// character boundary, so the text always ends with a zero.
size_t UDF_DecodeDChars(const uint8_t* dchars, size_t length, char* out, size_t outSize);
// Encodes text into a dstring field of fieldSize bytes: the d-characters in bytes
// 0 .. fieldSize-2 (cut to fit), their length in the last byte. Returns that length.
size_t UDF_SetDString(const char* text, size_t length, uint8_t* field, size_t fieldSize);

} // namespace tvx
