#include "devices.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>

namespace tvxcli {

namespace {

namespace fs = std::filesystem;

constexpr char kFirstLetter = 'D';
constexpr char kVirtualPrefix[] = "virtual:";

// The /dev/srN devices, in device order.
std::vector<std::string> OpticalDevices() {
    std::vector<unsigned> numbers;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/dev", ec)) {
        std::string name = entry.path().filename().string();
        if (name.size() < 3 || name.compare(0, 2, "sr") != 0) continue;
        if (!std::all_of(name.begin() + 2, name.end(),
                         [](unsigned char c) { return std::isdigit(c); }))
            continue;
        numbers.push_back(static_cast<unsigned>(std::strtoul(name.c_str() + 2, nullptr, 10)));
    }
    std::sort(numbers.begin(), numbers.end());
    std::vector<std::string> devices;
    for (unsigned n : numbers)
        devices.push_back("/dev/sr" + std::to_string(n));
    return devices;
}

std::string Canonical(const std::string& path) {
    std::error_code ec;
    fs::path canonical = fs::weakly_canonical(fs::absolute(path, ec), ec);
    return ec ? path : canonical.string();
}

bool IsIndex(const std::string& text) {
    return !text.empty() && text.size() < 6 &&
           std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); });
}

} // namespace

std::string DeviceName(const TVX_DriveInfo& info, const std::vector<std::string>& virtualImages) {
    if (info.driveLetter) {
        char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(info.driveLetter)));
        std::vector<std::string> devices = OpticalDevices();
        size_t i = static_cast<size_t>(letter - kFirstLetter);
        if (letter >= kFirstLetter && i < devices.size()) return devices[i];
    } else if (info.hostAdapter == 0 && info.lun == 0 && info.target < virtualImages.size()) {
        return kVirtualPrefix + virtualImages[info.target];
    }
    return "adapter " + std::to_string(info.hostAdapter) + " target " +
           std::to_string(info.target) + " lun " + std::to_string(info.lun);
}

int ResolveDrive(const std::string& text, const std::vector<std::string>& virtualImages,
                 std::string& error) {
    int count = TVX_GetDriveCount();
    if (IsIndex(text)) {
        int index = std::atoi(text.c_str());
        if (index < count) return index;
        error = "no drive " + text + " (" + std::to_string(count) + " drive" +
                (count == 1 ? "" : "s") + " found)";
        return -1;
    }
    bool isVirtual = text.compare(0, sizeof kVirtualPrefix - 1, kVirtualPrefix) == 0;
    std::string wanted = isVirtual
                             ? kVirtualPrefix + Canonical(text.substr(sizeof kVirtualPrefix - 1))
                             : Canonical(text);
    for (int i = 0; i < count; ++i) {
        TVX_DriveInfo info;
        if (TVX_GetDriveInfo(i, &info) != TVX_OK) continue;
        std::string name = DeviceName(info, virtualImages);
        bool nameIsVirtual = name.compare(0, sizeof kVirtualPrefix - 1, kVirtualPrefix) == 0;
        std::string have = nameIsVirtual
                               ? kVirtualPrefix + Canonical(name.substr(sizeof kVirtualPrefix - 1))
                               : Canonical(name);
        if (have == wanted) return i;
    }
    error = "no drive is " + text + " (see `tvx drives`)";
    return -1;
}

} // namespace tvxcli
