// The diagnostic log: plain lines appended to "Torvexin.log" in the temporary directory. Each
// line is one open, one write and one close, so the file is complete even if the host dies;
// a line that cannot be written is lost silently.
#pragma once

#include <cstdint>

namespace tvx {

// printf-style; the text is cut to 511 characters. The library adds nothing (no newline).
void LogWrite(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Appends the system's description of an error number.
void LogSystemError(uint32_t code);

} // namespace tvx
