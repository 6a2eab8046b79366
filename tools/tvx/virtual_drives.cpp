#include "virtual_drives.h"

#include "platform/sim/sim_host.h"
#include "vdrive/virtual_recorder.h"

#include <cstdio>
#include <filesystem>
#include <map>

namespace tvxcli {

namespace {

using tvx::vdrive::MediumKind;

const std::map<std::string, MediumKind>& kinds() {
    static const std::map<std::string, MediumKind> table = {
        {"dvd-rom", MediumKind::DvdRom},
        {"dvd-r", MediumKind::DvdR},
        {"dvd-rw", MediumKind::DvdRwSequential},
        {"dvd-rw-ro", MediumKind::DvdRwRestricted},
        {"dvd-ram", MediumKind::DvdRam},
        {"dvd+r", MediumKind::DvdPlusR},
        {"dvd+rw", MediumKind::DvdPlusRw},
        {"dvd+r-dl", MediumKind::DvdPlusRDualLayer},
        {"dvd-r-dl", MediumKind::DvdRDualLayer},
    };
    return table;
}

} // namespace

const char* VirtualDriveKinds() {
    return "dvd-r, dvd-rw, dvd-rw-ro, dvd-ram, dvd+r, dvd+rw, dvd+r-dl, dvd-r-dl, dvd-rom";
}

bool ParseVirtualDrive(const std::string& text, VirtualDriveSpec& spec, std::string& error) {
    spec = {text, "dvd-r", 0};
    size_t colon = text.find(':');
    if (colon != std::string::npos) {
        spec.image = text.substr(0, colon);
        std::string rest = text.substr(colon + 1);
        size_t second = rest.find(':');
        spec.kind = rest.substr(0, second);
        if (second != std::string::npos) {
            try {
                spec.capacity = static_cast<uint32_t>(std::stoul(rest.substr(second + 1)));
            } catch (...) {
                error = "bad block count in '" + text + "'";
                return false;
            }
        }
    }
    if (spec.image.empty()) {
        error = "no image file in '" + text + "'";
        return false;
    }
    if (!kinds().count(spec.kind)) {
        error = "unknown disc kind '" + spec.kind + "' (use " + VirtualDriveKinds() + ")";
        return false;
    }
    return true;
}

bool ParseVirtualFault(const std::string& text, VirtualFaultSpec& spec, std::string& error) {
    spec = {};
    unsigned opcode = 0, occurrence = 0, key = 0, asc = 0, ascq = 0;
    char action[16] = {};
    int n = 0;
    if (std::sscanf(text.c_str(), "%x@%u:%15[a-z]%n", &opcode, &occurrence, action, &n) == 3 ||
        std::sscanf(text.c_str(), "%x:%15[a-z]%n", &opcode, action, &n) == 2) {
        std::string rest = text.substr(static_cast<size_t>(n));
        spec.opcode = static_cast<int>(opcode & 0xFF);
        spec.occurrence = occurrence;
        if (std::string(action) == "malformed" && rest.empty()) {
            spec.malformed = true;
            return true;
        }
        if (std::string(action) == "sense" &&
            std::sscanf(rest.c_str(), ":%x/%x/%x", &key, &asc, &ascq) == 3) {
            spec.key = static_cast<uint8_t>(key);
            spec.asc = static_cast<uint8_t>(asc);
            spec.ascq = static_cast<uint8_t>(ascq);
            return true;
        }
    }
    error = "bad fault '" + text + "' (use OPCODE[@N]:sense:KK/AA/QQ or OPCODE[@N]:malformed)";
    return false;
}

struct VirtualDrives::Impl {
    tvx::SimHost host;
    std::vector<std::unique_ptr<tvx::vdrive::VirtualRecorder>> recorders;
};

VirtualDrives::VirtualDrives() : impl_(new Impl) {}

VirtualDrives::~VirtualDrives() {
    save();
    tvx::setHost(nullptr);
}

bool VirtualDrives::attach(const std::vector<VirtualDriveSpec>& specs,
                           const std::vector<VirtualFaultSpec>& faults, std::string& error) {
    char letter = 'D';
    for (const auto& spec : specs) {
        if (letter > 'Z') {
            error = "too many virtual drives";
            return false;
        }
        auto recorder = std::make_unique<tvx::vdrive::VirtualRecorder>(
            impl_->host.virtualClock(), tvx::vdrive::DriveModel::Default());
        MediumKind kind = kinds().at(spec.kind);
        namespace fs = std::filesystem;
        bool ok;
        if (fs::exists(spec.image + ".state")) {
            ok = recorder->openDisc(spec.image);
        } else if (fs::exists(spec.image) &&
                   (kind == MediumKind::DvdRom || kind == MediumKind::DvdPlusRw)) {
            ok = recorder->loadImage(spec.image, kind);
        } else if (fs::exists(spec.image)) {
            error = spec.image + " exists but holds no disc state; use :dvd-rom or :dvd+rw to "
                                 "load an image file";
            return false;
        } else {
            ok = recorder->insertBlank(kind, spec.capacity, spec.image);
        }
        if (!ok) {
            error = "cannot attach " + spec.image;
            return false;
        }
        for (const auto& f : faults) {
            tvx::vdrive::FaultRule rule;
            rule.opcode = f.opcode;
            rule.occurrence = f.occurrence;
            rule.action = f.malformed ? tvx::vdrive::FaultRule::Action::MalformedData
                                      : tvx::vdrive::FaultRule::Action::Sense;
            rule.senseKey = f.key;
            rule.asc = f.asc;
            rule.ascq = f.ascq;
            recorder->addFault(rule);
        }
        impl_->host.addDrive(letter, tvx::DRIVE_CDROM, recorder.get());
        impl_->recorders.push_back(std::move(recorder));
        ++letter;
    }
    tvx::setHost(&impl_->host);
    return true;
}

void VirtualDrives::save() {
    for (auto& r : impl_->recorders) r->flush();
}

} // namespace tvxcli
