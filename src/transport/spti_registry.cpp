// Finding the CD-ROM class device number of a drive letter, for the proxy device: the drive's
// mounted-device text is compared with the class driver's list of device instance paths.
#include "frame/log.h"
#include "transport/registry_text.h"
#include "transport/spti_device.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <string>

namespace tvx {

namespace {

constexpr char kCdRomEnumKey[] = "System\\CurrentControlSet\\Services\\CdRom\\Enum";
constexpr uint32_t kMaxValueBytes = 512;
constexpr size_t kPrefixLength = 4;      // "\??\" in front of the device instance path
constexpr size_t kGuidSuffixLength = 39; // a backslash and a braced class GUID
constexpr int kMaxClassDevices = 26;

// A text value cut at 255 characters, as the 256-byte buffer holds it.
bool ReadText(const RegKey& key, const std::string& name, std::string& text) {
    if (!ReadRegistryText(key, name, kMaxValueBytes, text)) return false;
    if (text.size() > kMaxRegistryTextChars) text.resize(kMaxRegistryTextChars);
    return true;
}

const char* AfterPrefix(const std::string& text) {
    return text.c_str() + std::min(kPrefixLength, text.size());
}

bool EqualIgnoringCase(const char* a, const std::string& b) {
    size_t i = 0;
    for (; a[i] && i < b.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return a[i] == 0 && i == b.size();
}

} // namespace

int _CorrectDriveNumber(char letter) {
    std::string mounted;
    {
        RegKey key(kMountedDevicesKey);
        if (!key) return -1;
        char name[16];
        std::snprintf(name, sizeof name, "\\DosDevices\\%c:", letter);
        if (!ReadText(key, name, mounted)) return -1;
        std::replace(mounted.begin(), mounted.end(), '#', '\\');
        LogWrite("Try: original mbBuf=%s\n", AfterPrefix(mounted));
        // Without its class GUID the text is the drive's device instance path.
        size_t length = mounted.size();
        if (length > kGuidSuffixLength) length -= kGuidSuffixLength;
        mounted.resize(length);
        LogWrite("Try: modified mbBuf=%s\n", AfterPrefix(mounted));
    }

    RegKey key(kCdRomEnumKey);
    if (!key) return -1;
    uint32_t count = 0;
    uint32_t size = sizeof count;
    if (host().regQueryValue(key.get(), "Count", &count, size) && size == sizeof count) {
        LogWrite("Try: System\\CurrentControlSet\\Services\\CdRom\\Enum, Count=%d\n",
                 static_cast<int>(count));
    }
    for (int i = 0; i < kMaxClassDevices; ++i) {
        std::string instance;
        if (!ReadText(key, std::to_string(i), instance)) continue;
        LogWrite("Try: stricmp\n%s\n%s\n", AfterPrefix(mounted), instance.c_str());
        if (EqualIgnoringCase(AfterPrefix(mounted), instance)) return i;
    }
    LogWrite("Fail: unmatch\n");
    return -1;
}

} // namespace tvx
