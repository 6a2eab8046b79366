#include "frame/log.h"

#include "platform/host.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace tvx {

namespace {

constexpr size_t kMessageBuffer = 512;
constexpr size_t kSystemTextBuffer = 80;
// What a system-text request into a buffer too small for the text fails with
// (ERROR_INSUFFICIENT_BUFFER).
constexpr int kErrorInsufficientBuffer = 122;
constexpr char kLogFileName[] = "Torvexin.log";

std::unique_ptr<HostFile> openLog() {
    // The path is built anew for every line: the temporary directory may change between lines.
    std::string dir = host().tempDirectory();
    if (dir.empty() || dir.size() > kMaxHostPath) return nullptr;
    return host().openFile(dir + kLogFileName, FileAccess::Append);
}

} // namespace

void LogWrite(const char* format, ...) {
    char message[kMessageBuffer];
    va_list args;
    va_start(args, format);
    std::vsnprintf(message, sizeof message, format, args);
    va_end(args);

    auto file = openLog();
    if (!file) file = openLog(); // one more try, then the line is dropped
    if (!file) return;
    file->write(message, static_cast<uint32_t>(std::strlen(message)));
}

void LogSystemError(uint32_t code) {
    std::string text;
    if (!host().systemErrorText(code, text)) {
        LogWrite("Format message failed.  Error: %d\n", static_cast<int>(host().lastError()));
    } else if (text.size() >= kSystemTextBuffer) {
        LogWrite("Format message failed.  Error: %d\n", kErrorInsufficientBuffer);
    } else {
        LogWrite("%s\n", text.c_str());
    }
}

} // namespace tvx
