// The registry of the simulation host: values stored as bytes, as Windows stores them.
#include "platform/sim/sim_host.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace tvx {

namespace {

constexpr char kMountedDevicesKey[] = "System\\MountedDevices";
constexpr char kCdRomEnumKey[] = "System\\CurrentControlSet\\Services\\CdRom\\Enum";

std::string Folded(const std::string& name) {
    std::string out = name;
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

} // namespace

void SimHost::setRegistryValue(const std::string& key, const std::string& name,
                               std::vector<uint8_t> bytes) {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    registry_[Folded(key)][Folded(name)] = std::move(bytes);
}

void SimHost::setRegistryDword(const std::string& key, const std::string& name, uint32_t value) {
    std::vector<uint8_t> bytes(4);
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<uint8_t>(value >> (8 * i));
    setRegistryValue(key, name, std::move(bytes));
}

void SimHost::setRegistryText(const std::string& key, const std::string& name,
                              std::string_view text, bool terminated) {
    std::u16string wide;
    if (!ansiToUtf16(text, wide)) wide.clear();
    if (terminated) wide.push_back(0);
    std::vector<uint8_t> bytes;
    for (char16_t c : wide) {
        bytes.push_back(static_cast<uint8_t>(c));
        bytes.push_back(static_cast<uint8_t>(c >> 8));
    }
    setRegistryValue(key, name, std::move(bytes));
}

void SimHost::setMountedDevice(char letter, std::string_view text) {
    char name[16];
    std::snprintf(name, sizeof name, "\\DosDevices\\%c:", letter);
    setRegistryText(kMountedDevicesKey, name, text, false);
}

void SimHost::setClassDevice(int index, std::string_view instancePath) {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    setRegistryText(kCdRomEnumKey, std::to_string(index), instancePath, true);
    uint32_t count = 0;
    for (const auto& [name, value] : registry_[Folded(kCdRomEnumKey)]) {
        if (!name.empty() && std::isdigit(static_cast<unsigned char>(name[0]))) ++count;
    }
    setRegistryDword(kCdRomEnumKey, "Count", count);
}

HostHandle SimHost::regOpenKey(const std::string& subKey) {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    std::string folded = Folded(subKey);
    if (!registry_.count(folded)) {
        setLastError(ENOENT);
        return nullptr;
    }
    auto* key = new KeyHandle{folded};
    keys_.insert(key);
    return key;
}

bool SimHost::regQueryValue(HostHandle key, const std::string& name, void* data, uint32_t& size) {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    auto* handle = static_cast<KeyHandle*>(key);
    if (!handle || !keys_.count(handle)) return fail(EBADF);
    const Values& values = registry_[handle->key];
    auto it = values.find(Folded(name));
    if (it == values.end()) return fail(ENOENT);
    const std::vector<uint8_t>& bytes = it->second;
    uint32_t capacity = size;
    size = static_cast<uint32_t>(bytes.size());
    if (bytes.size() > capacity) return fail(EOVERFLOW); // more data than the buffer holds
    if (!bytes.empty()) std::memcpy(data, bytes.data(), bytes.size());
    return true;
}

void SimHost::regCloseKey(HostHandle key) {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    auto* handle = static_cast<KeyHandle*>(key);
    if (keys_.erase(handle)) delete handle;
}

} // namespace tvx
