// The drive letter of a CD-ROM class device: its device instance path, looked up in the mounted
// devices' texts.
#include "platform/host.h"
#include "transport/aspi.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace tvx {

namespace {

constexpr char kMountedDevicesKey[] = "System\\MountedDevices";
constexpr char kCdRomEnumKey[] = "System\\CurrentControlSet\\Services\\CdRom\\enum";
constexpr uint32_t kMaxMountedBytes = 512;
constexpr uint32_t kMaxInstanceBytes = 512; // UTF-16 of a text of at most 256 bytes
constexpr size_t kMaxTextChars = 255;       // a 256-byte buffer with its terminator

// Closes a registry key on every path.
class RegKey {
  public:
    explicit RegKey(const char* subKey) : key_(host().regOpenKey(subKey)) {}
    ~RegKey() {
        if (key_) host().regCloseKey(key_);
    }
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;
    explicit operator bool() const { return key_ != nullptr; }
    HostHandle get() const { return key_; }

  private:
    HostHandle key_;
};

// A UTF-16 text value in the ANSI code page, up to its first terminator. False when the value is
// missing or longer than the buffer.
bool ReadText(const RegKey& key, const std::string& name, uint32_t maxBytes, std::string& text) {
    std::string bytes(maxBytes, '\0');
    uint32_t size = maxBytes;
    if (!host().regQueryValue(key.get(), name, bytes.data(), size)) return false;
    std::u16string wide;
    for (uint32_t i = 0; i + 1 < size; i += 2) {
        char16_t c = static_cast<char16_t>(static_cast<uint8_t>(bytes[i]) |
                                           static_cast<uint8_t>(bytes[i + 1]) << 8);
        if (c == 0) break;
        wide.push_back(c);
    }
    return host().utf16ToAnsi(wide, text);
}

} // namespace

char LetterFromClassIndex(int index) {
    std::string instance;
    {
        RegKey key(kCdRomEnumKey);
        if (!key || !ReadText(key, std::to_string(index), kMaxInstanceBytes, instance)) return 0;
        // The class driver's text is read into 256 bytes: a longer one is not read at all.
        if (instance.size() > kMaxTextChars) return 0;
    }
    // An empty path would match every mounted device.
    if (instance.empty()) return 0;

    RegKey key(kMountedDevicesKey);
    if (!key) return 0;
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
        char name[16];
        std::snprintf(name, sizeof name, "\\DosDevices\\%c:", letter);
        std::string mounted;
        if (!ReadText(key, name, kMaxMountedBytes, mounted)) continue;
        if (mounted.size() > kMaxTextChars) mounted.resize(kMaxTextChars);
        std::replace(mounted.begin(), mounted.end(), '#', '\\');
        if (mounted.find(instance) != std::string::npos) return letter;
    }
    return 0;
}

} // namespace tvx
