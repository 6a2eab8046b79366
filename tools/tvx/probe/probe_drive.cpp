#include "probe_drive.h"

#include "platform/pass_through.h"
#include "torvexin.h"
#include "vdrive/drive_report.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>

namespace tvxprobe {

namespace {

namespace fs = std::filesystem;

constexpr char kVirtualPrefix[] = "virtual:";
constexpr size_t kVirtualPrefixLength = sizeof kVirtualPrefix - 1;
constexpr char kFirstLetter = 'D'; // the first optical device's letter

bool AllDigits(const std::string& text) {
    return !text.empty() && text.size() < 6 &&
           std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); });
}

std::string Canonical(const std::string& path) {
    std::error_code ec;
    fs::path canonical = fs::weakly_canonical(fs::absolute(path, ec), ec);
    return ec ? path : canonical.string();
}

// The /dev/srN devices' numbers, in device order: the letters D:, E:, ... stand for them.
std::vector<unsigned> OpticalNumbers() {
    std::vector<unsigned> numbers;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/dev", ec)) {
        std::string name = entry.path().filename().string();
        if (name.size() > 2 && name.compare(0, 2, "sr") == 0 && AllDigits(name.substr(2)))
            numbers.push_back(static_cast<unsigned>(std::strtoul(name.c_str() + 2, nullptr, 10)));
    }
    std::sort(numbers.begin(), numbers.end());
    return numbers;
}

int IndexOfLetter(char letter) {
    for (int i = 0; i < TVX_GetDriveCount(); ++i) {
        TVX_DriveInfo info;
        if (TVX_GetDriveInfo(i, &info) == TVX_OK &&
            std::toupper(static_cast<unsigned char>(info.driveLetter)) == letter)
            return i;
    }
    return -1;
}

} // namespace

int DriveIndex(const std::string& text, const std::vector<std::string>& images,
               std::string& error) {
    const int count = TVX_GetDriveCount();
    if (AllDigits(text)) {
        int index = std::atoi(text.c_str());
        if (index < count) return index;
        error = "no drive " + text + " (" + std::to_string(count) + " found)";
        return -1;
    }
    int found = -1;
    if (text.compare(0, kVirtualPrefixLength, kVirtualPrefix) == 0) {
        const std::string wanted = Canonical(text.substr(kVirtualPrefixLength));
        for (size_t i = 0; i < images.size() && found < 0; ++i)
            if (Canonical(images[i]) == wanted)
                found = IndexOfLetter(static_cast<char>(kFirstLetter + i));
    } else if (images.empty()) {
        const std::string wanted = Canonical(text);
        std::vector<unsigned> numbers = OpticalNumbers();
        for (size_t i = 0; i < numbers.size() && found < 0; ++i)
            if ("/dev/sr" + std::to_string(numbers[i]) == wanted)
                found = IndexOfLetter(static_cast<char>(kFirstLetter + i));
    }
    if (found < 0) error = "no drive is " + text;
    return found;
}

std::optional<uint8_t> ReplayedBus(const tvx::vdrive::LayerDriveRequest& drive) {
    static const struct {
        const char* name;
        uint8_t bus;
    } buses[] = {{"ata", tvx::kStorageBusAtapi},
                 {"scsi", tvx::kStorageBusScsi},
                 {"firewire", tvx::kStorageBus1394},
                 {"usb", tvx::kStorageBusUsb},
                 {"other", tvx::kStorageBusUnknown}};
    for (const std::string& behaviour : drive.behaviours) {
        if (behaviour.compare(0, 7, "replay=") != 0) continue;
        tvx::vdrive::DriveReport report;
        std::string ignored; // the layer has loaded it already and said what was wrong
        if (!tvx::vdrive::LoadReport(behaviour.substr(7), report, ignored)) return {};
        for (const auto& b : buses)
            if (report.bus == b.name) return b.bus;
    }
    return {};
}

} // namespace tvxprobe
