#include "vdrive/behaviours.h"

#include <array>
#include <cerrno>
#include <cstdlib>

namespace tvx::vdrive {

namespace {

// Behind many USB bridges a command moves at most 32 KiB.
constexpr uint32_t kBridgeTransferBytes = 32 * 1024;

bool NoValue(const std::string& value) {
    return value.empty();
}

bool CloseOnly(DriveModel& model, const std::string& value) {
    model.closeOnly = true;
    return NoValue(value);
}

bool WriteParamsWithDescriptor(DriveModel& model, const std::string& value) {
    model.modeBlockDescriptor = true;
    model.writeParamsPageLength = 0x36;
    model.bufferUnderrunFreeFixed = true;
    return NoValue(value);
}

bool MaxTransfer(DriveModel& model, const std::string& value) {
    if (value.empty()) {
        model.maxTransferBytes = kBridgeTransferBytes;
        return true;
    }
    if (value.find_first_not_of("0123456789") != std::string::npos) return false;
    errno = 0;
    const unsigned long long bytes = std::strtoull(value.c_str(), nullptr, 10);
    if (errno != 0 || bytes < 2048 || bytes > 0xFFFFFFFFull) return false;
    model.maxTransferBytes = static_cast<uint32_t>(bytes);
    return true;
}

constexpr std::array kBehaviours = {
    Behaviour{"close-only", "",
              "the DVD+RW feature says CloseOnly: a background format stops only the compatible "
              "way (CLOSE function 2); the quick stop (function 0) is refused with 05/24/00",
              CloseOnly},
    Behaviour{"page05-descriptor", "",
              "MODE SENSE puts an 8-byte block descriptor before the write parameters page even "
              "with DBD, the page is 36h bytes long (a MODE SELECT with another length is "
              "refused), and its BUF bit is not changeable (a MODE SELECT that sets it is taken, "
              "the bit stays off)",
              WriteParamsWithDescriptor},
    Behaviour{"max-transfer", "BYTES (default 32768)",
              "the path to the drive moves at most BYTES per command, as behind a USB bridge: "
              "the adapter reports the limit and a larger command fails in the transport",
              MaxTransfer},
};

} // namespace

std::span<const Behaviour> Behaviours() {
    return kBehaviours;
}

const Behaviour* FindBehaviour(const std::string& name) {
    for (const Behaviour& behaviour : kBehaviours)
        if (name == behaviour.name) return &behaviour;
    return nullptr;
}

bool ApplyBehaviours(const std::string& list, DriveModel& model, std::string& error) {
    size_t from = 0;
    while (from <= list.size()) {
        size_t end = list.find(',', from);
        if (end == std::string::npos) end = list.size();
        const std::string entry = list.substr(from, end - from);
        from = end + 1;
        if (entry.empty()) continue;
        const size_t equals = entry.find('=');
        const std::string name = entry.substr(0, equals);
        const std::string value = equals == std::string::npos ? "" : entry.substr(equals + 1);
        const Behaviour* behaviour = FindBehaviour(name);
        if (!behaviour) {
            error = "unknown drive behaviour '" + name + "'";
            return false;
        }
        if (!behaviour->apply(model, value)) {
            error = "bad value in drive behaviour '" + entry + "'";
            return false;
        }
    }
    return true;
}

} // namespace tvx::vdrive
