// Reading the registry's text values (stored as UTF-16, as Windows stores them) in the ANSI code
// page, shared by the pass-through and ASPI backends' drive-letter lookups.
#pragma once

#include "platform/host.h"

#include <cstdint>
#include <string>

namespace tvx {

inline constexpr char kMountedDevicesKey[] = "System\\MountedDevices";
// The texts are handled in 256-byte buffers: 255 characters and a terminator.
inline constexpr size_t kMaxRegistryTextChars = 255;

// An open key under HKEY_LOCAL_MACHINE, closed on every path.
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

// The value's text up to its first terminator, read into maxBytes bytes; false when the value
// is missing or does not fit.
bool ReadRegistryText(const RegKey& key, const std::string& name, uint32_t maxBytes,
                      std::string& text);

} // namespace tvx
