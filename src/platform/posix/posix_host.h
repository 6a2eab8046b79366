// The native host on Linux: files, time, text and environment through POSIX calls; drives
// through the kernel's SCSI pass-through (see the device part).
#pragma once

#include "platform/clock.h"
#include "platform/host.h"

namespace tvx {

class PosixHost : public Host {
public:
    std::unique_ptr<HostFile> openFile(const std::string& path, FileAccess access) override;
    bool findFiles(const std::string& query, std::vector<FindResult>& results) override;
    bool fullPath(const std::string& path, std::string& absolute) override;

    Clock& clock() override { return clock_; }
    uint64_t currentFileTime() override;
    int32_t timeZoneBias() override;
    bool fileTimeToLocal(uint64_t fileTime, CalendarTime& local) override;

    std::string tempDirectory() override;
    bool systemErrorText(uint32_t code, std::string& text) override;
    uint32_t lastError() override;
    bool moduleFileVersion(uint32_t& high, uint32_t& low) override;

    bool ansiToUtf16(std::string_view text, std::u16string& out) override;
    bool utf16ToAnsi(std::u16string_view text, std::string& out) override;
    size_t ansiCharLength(const char* text, size_t remaining) override;

protected:
    static void setLastError(uint32_t code);

private:
    SystemClock clock_;
};

// Conversions between Unix time and file times (100 ns units since 1601-01-01 UTC).
uint64_t FileTimeFromUnix(int64_t seconds, int64_t nanoseconds);
int64_t UnixSecondsFromFileTime(uint64_t fileTime);

} // namespace tvx
