// The drive letter of a CD-ROM class device: its device instance path, looked up in the mounted
// devices' texts.
#include "platform/host.h"
#include "transport/aspi.h"
#include "transport/registry_text.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace tvx {

namespace {

constexpr char kCdRomEnumKey[] = "System\\CurrentControlSet\\Services\\CdRom\\enum";
constexpr uint32_t kMaxMountedBytes = 512;
constexpr uint32_t kMaxInstanceBytes = 512; // UTF-16 of a text of at most 256 bytes

} // namespace

char LetterFromClassIndex(int index) {
    std::string instance;
    {
        RegKey key(kCdRomEnumKey);
        if (!key || !ReadRegistryText(key, std::to_string(index), kMaxInstanceBytes, instance))
            return 0;
        // The class driver's text is read into 256 bytes: a longer one is not read at all.
        if (instance.size() > kMaxRegistryTextChars) return 0;
    }
    // An empty path would match every mounted device.
    if (instance.empty()) return 0;

    RegKey key(kMountedDevicesKey);
    if (!key) return 0;
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
        char name[16];
        std::snprintf(name, sizeof name, "\\DosDevices\\%c:", letter);
        std::string mounted;
        if (!ReadRegistryText(key, name, kMaxMountedBytes, mounted)) continue;
        if (mounted.size() > kMaxRegistryTextChars) mounted.resize(kMaxRegistryTextChars);
        std::replace(mounted.begin(), mounted.end(), '#', '\\');
        if (mounted.find(instance) != std::string::npos) return letter;
    }
    return 0;
}

} // namespace tvx
