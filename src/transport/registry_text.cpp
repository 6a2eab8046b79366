#include "transport/registry_text.h"

#include <vector>

namespace tvx {

bool ReadRegistryText(const RegKey& key, const std::string& name, uint32_t maxBytes,
                      std::string& text) {
    std::vector<uint8_t> bytes(maxBytes);
    uint32_t size = maxBytes;
    if (!host().regQueryValue(key.get(), name, bytes.data(), size)) return false;
    if (size > maxBytes) size = maxBytes;
    std::u16string wide;
    for (uint32_t i = 0; i + 1 < size; i += 2) {
        char16_t c = static_cast<char16_t>(bytes[i] | bytes[i + 1] << 8);
        if (c == 0) break;
        wide.push_back(c);
    }
    return host().utf16ToAnsi(wide, text);
}

} // namespace tvx
